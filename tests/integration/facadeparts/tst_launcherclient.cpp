// The launcher client against the launcher stand-in over a real local socket.
// TMPDIR points at a private folder, so "NKLauncher" is this test's own socket.

#include "launcherclient.h"
#include "launchermessage.h"
#include "launchersimulator.h"
#include "messagelog.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class tst_LauncherClient : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    std::unique_ptr<LauncherSimulator> m_launcher;
    std::unique_ptr<LauncherClient> m_client;

private slots:
    void initTestCase() { qputenv("TMPDIR", QFile::encodeName(m_tmp.path())); }
    void init()
    {
        m_launcher = std::make_unique<LauncherSimulator>();
        QVERIFY(m_launcher->listen());
        m_client = std::make_unique<LauncherClient>("NKLauncher");
        QTRY_COMPARE(m_launcher->clientCount(), 1);
    }
    void cleanup()
    {
        m_client.reset();
        m_launcher.reset();
    }

    // Lines from the launcher: heartbeats are echoed, one line is handled per
    // arrival of data (a second waits for the next one, a partial line for
    // its end), and what the client sends is UTF-8 with no terminator.
    void messagesBothWays()
    {
        QSignalSpy received(m_client.get(), &LauncherClient::messageReceived);
        m_launcher->send(QByteArray("  heartbeat  4 2 \r\nheartbeat\n"));
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 4 2"));
        m_launcher->send("userLoggedInIs  john doe\nnotify sec");
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 4 2heartbeat"));
        m_launcher->send("ond\n");
        QTRY_COMPARE(received.count(), 1);
        m_launcher->send(QByteArray("heartbeat 5\0junk\n", 17));
        QTRY_COMPARE(received.count(), 2);
        QCOMPARE(received.at(0), QVariantList({ "userLoggedInIs", "john doe" }));
        QCOMPARE(received.at(1), QVariantList({ "notify", "second" }));
        m_launcher->clearReceived();
        m_launcher->send("heartbeat 6\n");
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 5"));
        m_client->sendMessage(LauncherMessage("userLogin", "\u00c5sa").getMessage());
        m_client->sendMessage(LauncherMessage("appClose", "").getMessage());
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 5userLogin \xc3\x85saappClose"));
    }

    // Bad lines give their warnings and are dropped; the connection carries
    // on, as the heartbeat sent after them shows.
    void badInputDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("warnings"); // starts, in order
        const QString nc = "launchermessage: No valid commands found!";
        const QString ms = "launchermessage: Command is missing!";
        const QString dr = "launcherclient: Message dropped:";
        const QString tl = "launcherclient: Message longer than 4096 bytes dropped";
        QTest::newRow("unknown") << QByteArray("reboot now\n") << QStringList { nc, dr };
        QTest::newRow("binary") << QByteArray("\xff\xfe\x01\x80\n") << QStringList { nc, dr };
        QTest::newRow("blank line") << QByteArray(" \r\n") << QStringList { ms, dr };
        QTest::newRow("1 MiB") << "heartbeat " + QByteArray(1 << 20, '7') + '\n'
                               << QStringList { tl };
        QTest::newRow("longest line") << "notify " + QByteArray(4088, 'y') + '\n' << QStringList();
        QTest::newRow("one byte longer") << "notify " + QByteArray(4089, 'y') + '\n'
                                         << QStringList { tl };
    }
    void badInputDropped()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, warnings);
        QSignalSpy received(m_client.get(), &LauncherClient::messageReceived);
        MessageLog log;
        m_launcher->send(bytes);
        QTRY_COMPARE(log.messages().size() + received.count(), qMax(warnings.size(), 1));
        m_launcher->send("heartbeat 9\n");
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 9"));
        QCOMPARE(log.messages().size(), warnings.size());
        for (int i = 0; i < warnings.size(); ++i)
            QVERIFY2(log.messages().at(i).startsWith(warnings.at(i)),
                     qPrintable(log.messages().at(i)));
        QCOMPARE(received.count(), warnings.isEmpty() ? 1 : 0);
    }

    // A launcher that sends far more than is read is cut off at the backlog limit.
    void floodIsBounded()
    {
        QSignalSpy received(m_client.get(), &LauncherClient::messageReceived);
        QTest::ignoreMessage(QtWarningMsg,
                             "launcherclient: More than 65536 bytes of unread messages, dropped");
        m_launcher->send(QByteArray("notify x\n").repeated(10000));
        QTRY_VERIFY(received.count() >= 1);
        m_launcher->send("heartbeat 1\n");
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 1"));
        QVERIFY2(received.count() < 10, qPrintable(QString::number(received.count())));
    }

    // Closing the socket ends the connection; the launcher sees its client go.
    void closeEndsTheConnection()
    {
        QSignalSpy disconnected(m_launcher.get(), &LauncherSimulator::clientDisconnected);
        m_client->close();
        QTRY_COMPARE(disconnected.count(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_LauncherClient)
#include "tst_launcherclient.moc"
