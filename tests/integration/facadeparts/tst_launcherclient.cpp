// The launcher client against the launcher stand-in over a real local socket.
// TMPDIR points at a private folder, so "NKLauncher" is this test's own socket.

#include "launcherclient.h"
#include "launchermessage.h"
#include "launchersimulator.h"
#include "warninglog.h"

#include <QDir>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using Received = QList<QPair<QString, QString>>;

class tst_LauncherClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commandsOnTheWire_data();
    void commandsOnTheWire();
    void heartbeatEchoed_data();
    void heartbeatEchoed();
    void periodicHeartbeats();
    void launcherMessages();
    void partialLineWaitsForItsEnd();
    void badInputDropped_data();
    void badInputDropped();
    void floodIsBounded();
    void connectionFailures_data();
    void connectionFailures();
    void noReconnectAfterPeerClose();

private:
    // Client connected to the stand-in, with the server side accepted.
    std::unique_ptr<LauncherClient> connectedClient()
    {
        auto client = std::make_unique<LauncherClient>("NKLauncher");
        [&] { QTRY_COMPARE(m_launcher->clientCount(), 1); }();
        return client;
    }

    QTemporaryDir m_tmp;
    std::unique_ptr<LauncherSimulator> m_launcher;
};

void tst_LauncherClient::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
    QCOMPARE(QDir::tempPath(), m_tmp.path());
}

void tst_LauncherClient::init()
{
    m_launcher = std::make_unique<LauncherSimulator>();
    QVERIFY(m_launcher->listen());
    QCOMPARE(m_launcher->fullServerName(), m_tmp.path() + "/NKLauncher");
}

void tst_LauncherClient::cleanup()
{
    m_launcher.reset();
}

// What the facade sends, byte for byte: UTF-8, no terminator.
void tst_LauncherClient::commandsOnTheWire_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("appStart") << "appStart"
                              << "apps/demo/demo" << QByteArray("appStart apps/demo/demo");
    QTest::newRow("appClose") << "appClose"
                              << "" << QByteArray("appClose");
    QTest::newRow("userLogin, non-ASCII name")
        << "userLogin" << QString::fromUtf8("\xc3\x85sa") << QByteArray("userLogin \xc3\x85sa");
    QTest::newRow("userLogOut") << "userLogOut"
                                << "operator_2" << QByteArray("userLogOut operator_2");
}

void tst_LauncherClient::commandsOnTheWire()
{
    QFETCH(QString, command);
    QFETCH(QString, data);
    QFETCH(QByteArray, wire);

    auto client = connectedClient();
    client->sendMessage(LauncherMessage(command, data).getMessage());
    QTRY_COMPARE(m_launcher->received(), wire);
    QCOMPARE(m_launcher->commands(), Received({ { command, data } }));

    // Back to back, the messages run together on the wire.
    client->sendMessage(LauncherMessage(command, data).getMessage());
    client->sendMessage("notify");
    QTRY_COMPARE(m_launcher->received(), wire + wire + "notify");
}

void tst_LauncherClient::heartbeatEchoed_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("with number") << QByteArray("heartbeat 42\n") << QByteArray("heartbeat 42");
    QTest::newRow("bare") << QByteArray("heartbeat\n") << QByteArray("heartbeat");
    QTest::newRow("CR LF and padding")
        << QByteArray("  heartbeat  7 \r\n") << QByteArray("heartbeat 7");
    QTest::newRow("inner spaces kept")
        << QByteArray("heartbeat a  b\n") << QByteArray("heartbeat a  b");
    QTest::newRow("text ends at NUL")
        << QByteArray("heartbeat 5\0junk\n", 17) << QByteArray("heartbeat 5");
}

void tst_LauncherClient::heartbeatEchoed()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, answer);

    auto client = connectedClient();
    QSignalSpy received(client.get(), &LauncherClient::messageReceived);
    m_launcher->send(line);
    QTRY_COMPARE(m_launcher->received(), answer);
    QCOMPARE(received.count(), 0);
}

void tst_LauncherClient::periodicHeartbeats()
{
    auto client = connectedClient();
    QSignalSpy answered(m_launcher.get(), &LauncherSimulator::heartbeatAnswered);
    m_launcher->setHeartbeatInterval(20);
    QTRY_VERIFY(answered.count() >= 5);
    m_launcher->setHeartbeatInterval(0);
    for (int i = 0; i < answered.count(); ++i)
        QCOMPARE(answered.at(i).at(0).toUInt(), quint32(i + 1));
}

// Lines from the launcher other than heartbeats become messageReceived; one
// line is handled per arrival of data, a second waits for the next arrival.
void tst_LauncherClient::launcherMessages()
{
    auto client = connectedClient();
    QSignalSpy received(client.get(), &LauncherClient::messageReceived);

    m_launcher->send("userLoggedInIs john doe\nnotify first\n");
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0), QVariantList({ "userLoggedInIs", "john doe" }));

    m_launcher->send("notify second\n");
    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(received.at(1), QVariantList({ "notify", "first" }));
    m_launcher->send("appCloseAll\n");
    QTRY_COMPARE(received.count(), 3);
    QCOMPARE(received.at(2), QVariantList({ "notify", "second" }));
    QVERIFY(m_launcher->received().isEmpty());
}

void tst_LauncherClient::partialLineWaitsForItsEnd()
{
    auto client = connectedClient();
    QSignalSpy arrived(client->findChild<QLocalSocket*>(), &QLocalSocket::readyRead);

    m_launcher->send("heartbeat 4");
    QTRY_COMPARE(arrived.count(), 1);
    m_launcher->send("2\n");
    QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 42"));
}

// Every kind of bad line gives its warnings and is dropped; the connection
// carries on, as the heartbeat sent after it shows.
void tst_LauncherClient::badInputDropped_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("warnings"); // regular expressions, in order

    const QString noCommand = "^launchermessage: No valid commands found!$";
    const QString missing = "^launchermessage: Command is missing!$";
    const QString dropped = "^launcherclient: Message dropped:";
    const QString tooLong = "^launcherclient: Message longer than 4096 bytes dropped$";

    QTest::newRow("unknown command")
        << QByteArray("reboot now\n") << QStringList { noCommand, dropped };
    QTest::newRow("empty line") << QByteArray("\n") << QStringList { missing, dropped };
    QTest::newRow("binary garbage")
        << QByteArray("\xff\xfe\x01\x02\x80\n") << QStringList { noCommand, dropped };
    QTest::newRow("NUL first") << QByteArray("\0heartbeat 1\n", 13)
                               << QStringList { missing, dropped };
    QTest::newRow("line of 1 MiB") << QByteArray(1 << 20, 'x') + '\n' << QStringList { tooLong };
    QTest::newRow("1 MiB heartbeat") << "heartbeat " + QByteArray(1 << 20, '7') + '\n'
                                     << QStringList { tooLong };
    QTest::newRow("longest line accepted") << "notify " + QByteArray(4096 - 8, 'y') + '\n'
                                           << QStringList();
}

void tst_LauncherClient::badInputDropped()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, warnings);

    auto client = connectedClient();
    QSignalSpy received(client.get(), &LauncherClient::messageReceived);
    WarningLog log;
    m_launcher->send(bytes);
    QTRY_COMPARE(log.messages().size() + received.count(), qMax(warnings.size(), 1));
    m_launcher->send("heartbeat 9\n");
    QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 9"));

    QCOMPARE(log.messages().size(), warnings.size());
    for (int i = 0; i < warnings.size(); ++i)
        QVERIFY2(log.messages().at(i).contains(QRegularExpression(warnings.at(i))),
                 qPrintable(log.messages().at(i)));
    QCOMPARE(received.count(), warnings.isEmpty() ? 1 : 0);
}

// A launcher that sends far more than is read is cut off at the backlog limit.
void tst_LauncherClient::floodIsBounded()
{
    auto client = connectedClient();
    QSignalSpy received(client.get(), &LauncherClient::messageReceived);
    QTest::ignoreMessage(QtWarningMsg,
                         "launcherclient: More than 65536 bytes of unread messages, dropped");
    m_launcher->send(QByteArray("notify x\n").repeated(10000));
    QTRY_VERIFY(received.count() >= 1);

    m_launcher->send("heartbeat 1\n");
    QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 1"));
    QVERIFY2(received.count() < 10, qPrintable(QString::number(received.count())));
}

// A failed connection is logged once, nothing is sent, and the client stays
// unconnected until connectToServer is called again.
void tst_LauncherClient::connectionFailures_data()
{
    QTest::addColumn<QString>("setUp"); // "none", "refusing" or "not a directory"
    QTest::addColumn<QString>("serverName");
    QTest::addColumn<QString>("warning"); // regular expression

    QTest::newRow("no server") << "none"
                               << "NKLauncher"
                               << "^The server \"NKLauncher\" was not found.$";
    QTest::newRow("refused") << "refusing"
                             << "NKLauncher"
                             << "^The connection to the server \"NKLauncher\" was refused.$";
    QTest::newRow("other error") << "not a directory"
                                 << ""
                                 << "^An error occurred: ";
}

void tst_LauncherClient::connectionFailures()
{
    QFETCH(QString, setUp);
    QFETCH(QString, serverName);
    QFETCH(QString, warning);

    m_launcher.reset();
    const QString socketPath = m_tmp.path() + "/NKLauncher";
    int boundFd = -1;
    if (setUp == "refusing") {
        // A socket file nobody listens on.
        boundFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(boundFd >= 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, QFile::encodeName(socketPath).constData(), sizeof(addr.sun_path));
        QCOMPARE(::bind(boundFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    } else if (setUp == "not a directory") {
        QFile file(m_tmp.path() + "/plainfile");
        QVERIFY(file.open(QIODevice::WriteOnly));
        serverName = file.fileName() + "/NKLauncher";
    }

    WarningLog log;
    LauncherClient client(serverName);
    QTRY_COMPARE(log.messages().size(), 1);
    QVERIFY2(log.messages().at(0).contains(QRegularExpression(warning)),
             qPrintable(log.messages().at(0)));
    client.sendMessage("appStart apps/demo/demo");
    QCOMPARE(log.messages().size(), 2);
    QVERIFY(log.messages().at(1).startsWith("launcherclient: Not connected to"));

    if (boundFd >= 0)
        ::close(boundFd);
    m_launcher = std::make_unique<LauncherSimulator>();
    QVERIFY(m_launcher->listen());
    client.connectToServer("NKLauncher");
    QTRY_COMPARE(m_launcher->clientCount(), 1);
    client.sendMessage("appClose");
    QTRY_COMPARE(m_launcher->received(), QByteArray("appClose"));
    QCOMPARE(log.messages().size(), 2);
}

void tst_LauncherClient::noReconnectAfterPeerClose()
{
    auto client = connectedClient();
    QSignalSpy gone(client->findChild<QLocalSocket*>(), &QLocalSocket::disconnected);
    WarningLog log;

    m_launcher->disconnectClients();
    QTRY_COMPARE(gone.count(), 1);
    QVERIFY(log.messages().isEmpty()); // a closing peer is not an error
    client->sendMessage("appCloseAll");
    QCOMPARE(log.messages().size(), 1);
    QCOMPARE(m_launcher->clientCount(), 0);

    client->connectToServer("NKLauncher");
    QTRY_COMPARE(m_launcher->clientCount(), 1);
    client->sendMessage("userGetCurrent");
    QTRY_COMPARE(m_launcher->received(), QByteArray("userGetCurrent"));

    // Closing from this side is seen by the launcher.
    QSignalSpy disconnected(m_launcher.get(), &LauncherSimulator::clientDisconnected);
    client->close();
    QTRY_COMPARE(disconnected.count(), 1);
}

QTEST_GUILESS_MAIN(tst_LauncherClient)
#include "tst_launcherclient.moc"
