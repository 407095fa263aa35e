// The two fallback services on their own: the R-Uzad tunnel's blocks,
// confirmations, command exception and session timeout, and the
// service-forward relay.
#include "cfallbackservice.h"
#include "fallbackpeer.h"
#include "gfallbackservice.h"
#include "gfallbacksession.h"

#include <QtTest>

namespace {
constexpr quint8 idHeartbeat = FallbackPeer::ruzadHeartbeat;
constexpr quint8 idCmd = FallbackPeer::ruzadCmd;
constexpr quint8 idPeriodicData = FallbackPeer::ruzadPeriodicData;
constexpr int sessionTimeoutMarginMs = 10000;

QByteArray ruzad(quint8 id, int totalSize)
{
    return FallbackPeer::ruzadMessage(id, totalSize - 12);
}
} // namespace

class tst_FallbackServices : public QObject
{
    Q_OBJECT

private:
    GFallbackService* m_tunnel = nullptr;
    QSignalSpy* m_sent = nullptr;
    QSignalSpy* m_up = nullptr;
    QSignalSpy* m_down = nullptr;
    QSignalSpy* m_received = nullptr;

    QByteArray sentPayload(int i) const { return m_sent->at(i).at(0).toByteArray(); }

    void confirm() { m_tunnel->readData(QByteArray(), Internal, 1); }

    void expectSessionStart()
    {
        QTest::ignoreMessage(QtInfoMsg, "R-Uzad fallback session established!");
    }

private slots:
    void init()
    {
        m_tunnel = new GFallbackService;
        m_sent = new QSignalSpy(m_tunnel, &ServiceBase::readyReadFromService);
        m_up = new QSignalSpy(m_tunnel, &GFallbackService::up);
        m_down = new QSignalSpy(m_tunnel, &GFallbackService::down);
        m_received = new QSignalSpy(m_tunnel, &GFallbackService::receive);
    }

    void cleanup()
    {
        delete m_sent;
        delete m_up;
        delete m_down;
        delete m_received;
        delete m_tunnel;
    }

    void commandException_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("periodic data dropped") << int(idPeriodicData) << false;
        QTest::newRow("heartbeat dropped") << int(idHeartbeat) << false;
        QTest::newRow("command goes out at once") << int(idCmd) << true;
    }

    void commandException()
    {
        QFETCH(int, id);
        QFETCH(bool, accepted);

        const QByteArray first = ruzad(idPeriodicData, 600);
        const QByteArray second = ruzad(quint8(id), 40);
        expectSessionStart();
        m_tunnel->send(first);
        m_tunnel->send(second); // 348 bytes of the first are still buffered
        QCOMPARE(m_sent->count(), accepted ? 2 : 1);

        for (int i = 0; i < 5; ++i)
            confirm(); // more than needed: the extra ones release nothing
        QByteArray all;
        for (int i = 0; i < m_sent->count(); ++i) {
            QVERIFY(sentPayload(i).size() <= 252);
            QCOMPARE(m_sent->at(i).at(2).toUInt(), 5u);
            QCOMPARE(m_sent->at(i).at(3).toUInt(), 1u);
            all += sentPayload(i);
        }
        QCOMPARE(all, accepted ? first + second : first);
        QCOMPARE(m_up->count(), 1);
    }

    void refusedInput()
    {
        // Shorter than an R-Uzad header: refused before any session exists.
        QTest::ignoreMessage(QtWarningMsg,
                             "GFallbackService: R-Uzad message of 11 bytes is "
                             "shorter than its 12-byte header, dropped");
        m_tunnel->send(ruzad(idCmd, 12).left(11));
        QVERIFY(!m_tunnel->hasSession());
        QCOMPARE(m_up->count(), 0);

        // Tunnel traffic without a session, data and confirmations alike.
        QTest::ignoreMessage(QtWarningMsg, "Got data, but no session was active!");
        QTest::ignoreMessage(QtWarningMsg, "Got data, but no session was active!");
        m_tunnel->readData("stray", Internal, 1);
        confirm();
        QCOMPARE(m_received->count(), 0);
        QCOMPARE(m_sent->count(), 0);
    }

    void sessionTimesOutAfterSilence()
    {
        expectSessionStart();
        m_tunnel->send(ruzad(idPeriodicData, 300));
        m_tunnel->readData("answer", Internal, 1); // starts the inactivity timer
        QCOMPARE(m_received->count(), 1);
        QCOMPARE(m_received->at(0).at(0).toByteArray(), QByteArray("answer"));

        QTest::ignoreMessage(QtInfoMsg, "R-Uzad fallback session removed!");
        QTRY_COMPARE_WITH_TIMEOUT(m_down->count(), 1, sessionTimeoutMarginMs);
        QVERIFY(!m_tunnel->hasSession());
        QTRY_VERIFY(m_tunnel->findChildren<GFallbackSession*>().isEmpty());
        QCOMPARE(sentPayload(m_sent->count() - 1), QByteArray()); // the abort
        QCOMPARE(m_sent->last().at(3).toUInt(), 1u);

        // The rest of the buffer went with the session: a confirmation now
        // finds no session.
        QTest::ignoreMessage(QtWarningMsg, "Got data, but no session was active!");
        const int before = m_sent->count();
        confirm();
        QCOMPARE(m_sent->count(), before);
    }

    void resetWithoutSession()
    {
        m_tunnel->reset();
        QCOMPARE(m_down->count(), 1);
        QCOMPARE(m_sent->count(), 1);
        QCOMPARE(sentPayload(0), QByteArray());

        // A new message after the reset opens a new session.
        expectSessionStart();
        m_tunnel->send(ruzad(idCmd, 20));
        QCOMPARE(m_up->count(), 1);
    }

    void serviceForwardRelay_data()
    {
        QTest::addColumn<int>("messageClass");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("forwarded");

        QTest::newRow("data") << 1 << false << true;
        QTest::newRow("request") << 2 << true << true;
        QTest::newRow("answer ignored") << 3 << false << false;
    }

    void serviceForwardRelay()
    {
        QFETCH(int, messageClass);
        QFETCH(bool, answered);
        QFETCH(bool, forwarded);

        CFallbackService relay;
        QStringList order;
        connect(&relay, &ServiceBase::readyReadFromService, this,
                [&order](const QByteArray& data, Link, quint8 id, quint8 cls) {
                    order << QStringLiteral("to link %1/%2 %3")
                                 .arg(id)
                                 .arg(cls)
                                 .arg(QString::fromLatin1(data.toHex()));
                });
        connect(&relay, &CFallbackService::cFallbackTx, this, [&order](const QByteArray& data) {
            order << QStringLiteral("to manager %1").arg(QString::fromLatin1(data.toHex()));
        });

        relay.readData(QByteArray::fromHex("a1b2c3"), Internal, quint8(messageClass));
        QStringList expected;
        if (answered)
            expected << "to link 4/3 ";
        if (forwarded)
            expected << "to manager a1b2c3";
        QCOMPARE(order, expected);

        order.clear();
        relay.cFallbackRx(QByteArray::fromHex("00ff10"));
        QCOMPARE(order, QStringList("to link 4/1 00ff10"));
    }

    void foreignLinkIsFatal()
    {
        // Run in a child process of this program, which stops itself.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NORVIK_FOREIGN_LINK_PROBE"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY(child.readAllStandardError().contains("Unexpected fromLink: not Internal!"));
    }

    void emptyServiceForwardDropped()
    {
        CFallbackService relay;
        QSignalSpy toManager(&relay, &CFallbackService::cFallbackTx);
        QSignalSpy toLink(&relay, &ServiceBase::readyReadFromService);
        QTest::ignoreMessage(QtWarningMsg,
                             "CFallbackService: empty service-forward payload dropped");
        relay.readData(QByteArray(), Internal, 2);
        QCOMPARE(toManager.count(), 0);
        QCOMPARE(toLink.count(), 1); // the request is still answered
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("NORVIK_FOREIGN_LINK_PROBE")) {
        CFallbackService relay;
        relay.readData("x", Graphical, 1); // does not return
        return 0;
    }
    tst_FallbackServices test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_fallbackservices.moc"
