#include "baseunitsimulator.h"
#include "bgpcom.h"
#include "checksum.h"
#include "cranesetup.h"
#include "gfallbackservice.h"
#include "periodicdatahandler.h"
#include "tsan.h"

#include <QThread>
#include <QtEndian>
#include <QtTest>

#include <memory>

using namespace RUzad;

namespace {
// The base unit's port is fixed, so this test has loopback addresses of its own.
const QString kBaseUnit = QStringLiteral("127.0.0.43");
const QString kUnreachable = QStringLiteral("127.0.0.44");
constexpr quint16 kPort = 1147;
constexpr int kTimeoutMs = 10000; // two-second link timers on a loaded machine
} // namespace

// Receives the manager's signals on the test's thread.
class Relay : public QObject
{
    Q_OBJECT
signals:
    void cmd(QByteArray cmd);
    void tunnel(QByteArray data);
    void serviceForward(QByteArray data);
    void popup(QString message, bool popup, NorvikLinkDefines::NotificationSeverity severity,
               int reference);
};

class tst_BGPComLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<CraneSetup> _crane;
    std::unique_ptr<BaseUnitSimulator> _sim;
    std::unique_ptr<QThread> _thread;
    std::unique_ptr<QObject> _host; // lives on the manager's thread, to tear it down there
    std::unique_ptr<Relay> _relay;
    std::unique_ptr<PeriodicDataHandler> _periodic;
    BGPCom* _bgp = nullptr;
    QVector<uint> _statusHistory;

    // Sets the crane up and starts its manager on a thread of its own, as the remote does.
    bool start(const QString& address, const QMap<QString, QString>& changes = {})
    {
        _crane = std::make_unique<CraneSetup>();
        if (!_crane->setUp(address, changes))
            return false;
        _sim = std::make_unique<BaseUnitSimulator>();
        _sim->setBaseId(39);
        _sim->setAppDir(_crane->appDir());
        if (!_sim->listen(QHostAddress(kBaseUnit), kPort))
            return false;
        _statusHistory.clear();
        connect(_crane->tag("g_link_status"), &Tag::valueUpdated, this,
                [this](const QVariant& v) { _statusHistory << v.toUInt(); });

        _relay = std::make_unique<Relay>();
        _periodic = std::make_unique<PeriodicDataHandler>(nullptr, _crane->tags.get());
        _bgp = new BGPCom(_crane->tags.get(), _crane->app.get());
        connect(_bgp, &BGPCom::readyReadCmd, _relay.get(), &Relay::cmd);
        connect(_bgp, &BGPCom::sendFallback, _relay.get(), &Relay::tunnel);
        connect(_bgp, &BGPCom::sendServiceForward, _relay.get(), &Relay::serviceForward);
        connect(_bgp, &BGPCom::configErrorNotification, _relay.get(), &Relay::popup);
        connect(_bgp, &BGPCom::readyReadPeriodicData, _periodic.get(),
                &PeriodicDataHandler::recvPeriodicData);
        _thread = std::make_unique<QThread>();
        connect(_thread.get(), &QThread::started, _bgp, &BGPCom::run);
        _bgp->moveToThread(_thread.get());
        _host = std::make_unique<QObject>();
        _host->moveToThread(_thread.get());
        _thread->start();
        return true;
    }

    template<typename F> void onManagerThread(F call)
    {
        BGPCom* bgp = _bgp;
        NORVIK_TSAN_RELEASE(bgp); // the captured bytes change hands through Qt's queue
        QMetaObject::invokeMethod(bgp, [bgp, call]() {
            NORVIK_TSAN_ACQUIRE(bgp);
            call(bgp);
        });
    }

    static QByteArray initAckOk() { return QByteArray(2 + 40, '\0'); }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<NorvikLinkDefines::NotificationSeverity>();
        RUzad::registerMetaTypes();
        qRegisterMetaType<Link>("Link");
    }

    void cleanup()
    {
        if (_thread) {
            BGPCom* bgp = _bgp;
            QMetaObject::invokeMethod(
                _host.get(),
                [bgp]() {
                    delete bgp;
                    NORVIK_TSAN_RELEASE(bgp); // the main thread deletes the tags next
                },
                Qt::BlockingQueuedConnection);
            _thread->quit();
            QVERIFY(_thread->wait(kTimeoutMs));
            NORVIK_TSAN_ACQUIRE(bgp);
        }
        _host.reset();
        _thread.reset();
        _bgp = nullptr;
        _periodic.reset();
        _relay.reset();
        _sim.reset();
        _crane.reset();
    }

    void operationalLink()
    {
        QVERIFY(start(kBaseUnit));
        _sim->setStatusOnInit(0x1234, 5);
        QByteArray frame(24, '\0');
        qToLittleEndian(quint16(300), reinterpret_cast<uchar*>(frame.data()) + 4);
        qToBigEndian(quint16(1500), reinterpret_cast<uchar*>(frame.data()) + 10);
        _sim->setPeriodicData(frame);
        _sim->setPeriodicInterval(100);
        QSignalSpy fresh(_periodic.get(), &PeriodicDataHandler::dataFresh);
        // The sample's policy (fallback when armed) keeps the unarmed remote off the tunnel.
        QSignalSpy tunnel(_relay.get(), &Relay::tunnel);

        QTRY_COMPARE_WITH_TIMEOUT(_crane->value("g_link_status"), uint(STATE_OPERATIONAL),
                                  kTimeoutMs);
        QCOMPARE(_statusHistory.mid(0, 2), (QVector<uint> { STATE_NO_LINK, STATE_OPERATIONAL }));
        QTRY_COMPARE(_crane->value("bu_identity"), 4660u);
        QCOMPARE(_crane->value("bu_state"), 5u);
        QTRY_COMPARE(_crane->value("hydraulic_pressure"), 300u);
        QCOMPARE(_crane->value("engine_rpm"), 1500u);
        QTRY_COMPARE(fresh.size(), 1);
        QCOMPARE(fresh.at(0).at(0).toBool(), true);

        // A later status message, and commands in both directions.
        QSignalSpy cmds(_relay.get(), &Relay::cmd);
        _sim->sendBuStatus(0x0042, 7);
        _sim->sendCommand("hoist");
        QTRY_COMPARE(cmds.size(), 1);
        QCOMPARE(cmds.at(0).at(0).toByteArray(), QByteArray("hoist"));
        QTRY_COMPARE(_crane->value("bu_state"), 7u);
        QCOMPARE(_crane->value("bu_identity"), 0x42u);

        onManagerThread([](BGPCom* bgp) { bgp->sendCmd(QByteArray("\x10\x00\x20", 3)); });
        QTRY_COMPARE(_sim->receivedCount(BaseUnitSimulator::CMD), 1);
        QCOMPARE(_sim->received(BaseUnitSimulator::CMD).at(0).payload,
                 QByteArray("\x10\x00\x20", 3));

        // The machine-stop button reaches the base unit as its own message.
        onManagerThread([](BGPCom* bgp) { bgp->sendMachineStop(); });
        QTRY_COMPARE(_sim->receivedCount(BaseUnitSimulator::E_STOP), 1);
        QCOMPARE(_sim->received(BaseUnitSimulator::E_STOP).at(0).payload, QByteArray(1, '\0'));

        // Service forwards are relayed unchanged both ways.
        QSignalSpy forwards(_relay.get(), &Relay::serviceForward);
        _sim->sendServiceForward("\x04\x01\x02");
        QTRY_COMPARE(forwards.size(), 1);
        QCOMPARE(forwards.at(0).at(0).toByteArray(), QByteArray("\x04\x01\x02"));
        onManagerThread([](BGPCom* bgp) { bgp->receiveServiceForward("\x04\x09"); });
        QTRY_COMPARE(_sim->receivedCount(BaseUnitSimulator::SERVICE_FORWARD), 1);
        QCOMPARE(_sim->received(BaseUnitSimulator::SERVICE_FORWARD).at(0).payload,
                 QByteArray("\x04\x09"));

        // A dropped connection is reported and followed by a reconnect.
        _statusHistory.clear();
        _sim->dropConnection();
        QTRY_COMPARE_WITH_TIMEOUT(_statusHistory.value(0), uint(STATE_NO_LINK), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(_crane->value("g_link_status"), uint(STATE_OPERATIONAL),
                                  kTimeoutMs);
        QCOMPARE(_sim->connectionCount(), 2);
        QCOMPARE(tunnel.size(), 0);
    }

    void handshakeRefused_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("shown");
        QTest::newRow("checksum mismatch")
            << -1 << QString() << "Application checksum mismatch. Upgrade and pair required.";
        QTest::newRow("not paired") << 1 << QString() << "RU is not paired with this BU.";
        QTest::newRow("protocol") << 2 << QString()
                                  << "Communication protocol mismatch. System software upgrade "
                                     "required.";
        QTest::newRow("not ready")
            << 3 << QString() << "Communication could not be established. BU not ready!";
        QTest::newRow("generic") << 5 << "Boom locked"
                                 << "Boom locked";
        QTest::newRow("unknown code")
            << 77 << "?"
            << "Unrecognized configuration error! R-Uzad may be out of sync...";
    }
    void handshakeRefused()
    {
        QFETCH(int, code);
        QFETCH(QString, received);
        QFETCH(QString, shown);
        QVERIFY(start(kBaseUnit, { { QStringLiteral("GFBM"), QStringLiteral("1") } }));
        if (code < 0)
            _sim->setChecksum(QByteArray(16, '\x5a')); // paired with another application
        else
            _sim->setForcedInitAck(code, received);
        const QByteArray name
            = code < 0 ? QByteArray("E_APP_CHECKSUM_MISMATCH") : enumName(ErrorCode(code));
        QTest::ignoreMessage(QtCriticalMsg,
                             "R-Uzad initialization failed: " + name + " | Origin: ORIGIN_TCP");
        QTest::ignoreMessage(QtWarningMsg, "R-Uzad configuration error: " + name);
        QSignalSpy popups(_relay.get(), &Relay::popup);
        QSignalSpy tunnel(_relay.get(), &Relay::tunnel);

        QTRY_COMPARE_WITH_TIMEOUT(popups.size(), 1, kTimeoutMs);
        QCOMPARE(popups.at(0).at(0).toString(), shown);
        QCOMPARE(popups.at(0).at(1).toBool(), true);
        QCOMPARE(popups.at(0).at(2).value<NorvikLinkDefines::NotificationSeverity>(),
                 NorvikLinkDefines::WARNING);
        QTRY_COMPARE(_crane->value("g_link_status"), uint(STATE_LINK_ERROR));

        // The link stays down: no reconnect, and no more handshakes offered through the tunnel.
        tunnel.clear();
        QTest::qWait(2 * BGPCom::FALLBACK_OFFER_INTERVAL_MS + 500);
        QCOMPARE(_sim->connectionCount(), 1);
        QCOMPARE(tunnel.size(), 0);
        QCOMPARE(_crane->value("g_link_status"), uint(STATE_LINK_ERROR));
        QCOMPARE(popups.size(), 1);
    }

    void tunnelWhenTcpIsDown()
    {
        QVERIFY(start(kUnreachable, { { QStringLiteral("GFBM"), QStringLiteral("1") } }));
        QSignalSpy tunnel(_relay.get(), &Relay::tunnel);

        // The handshake is offered through the tunnel while TCP finds no base unit.
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel.isEmpty(), kTimeoutMs);
        const QByteArray init = tunnel.at(0).at(0).toByteArray();
        QCOMPARE(init.mid(4, 1), QByteArray(1, char(ID_INIT)));
        QCOMPARE(init.mid(12, 6), QByteArray::fromHex("020134122700"));
        QCOMPARE(init.mid(18), RUzad::calculateChecksum(_crane->appDir()));

        // The base unit answers through the tunnel: fallback operation.
        onManagerThread([](BGPCom* bgp) { bgp->initFallback(); });
        tunnel.clear();
        const QByteArray ack = BaseUnitSimulator::encode(BaseUnitSimulator::INITACK, initAckOk(),
                                                         BaseUnitSimulator::wallClock());
        onManagerThread([ack](BGPCom* bgp) { bgp->receiveFallback(ack); });
        QTRY_COMPARE_WITH_TIMEOUT(_crane->value("g_link_status"), uint(STATE_FALLBACK), kTimeoutMs);
        QTRY_VERIFY(!tunnel.isEmpty());
        QCOMPARE(tunnel.at(0).at(0).toByteArray().mid(4, 1), QByteArray(1, char(ID_HEARTBEAT)));

        // Base-unit traffic arrives the same way.
        QSignalSpy cmds(_relay.get(), &Relay::cmd);
        const QByteArray tunnelled
            = BaseUnitSimulator::encode(BaseUnitSimulator::BU_STATUS, QByteArray::fromHex("341205"),
                                        BaseUnitSimulator::wallClock())
            + BaseUnitSimulator::encode(BaseUnitSimulator::CMD, "slew",
                                        BaseUnitSimulator::wallClock());
        onManagerThread([tunnelled](BGPCom* bgp) { bgp->receiveFallback(tunnelled); });
        QTRY_COMPARE(cmds.size(), 1);
        QCOMPARE(cmds.at(0).at(0).toByteArray(), QByteArray("slew"));
        QTRY_COMPARE(_crane->value("bu_identity"), 4660u);
        QCOMPARE(_crane->value("bu_state"), 5u);

        // A command from the remote leaves through the tunnel.
        tunnel.clear();
        onManagerThread([](BGPCom* bgp) { bgp->sendCmd("luff"); });
        QTRY_VERIFY(!tunnel.isEmpty());
        QCOMPARE(tunnel.at(0).at(0).toByteArray().mid(4, 1), QByteArray(1, char(ID_CMD)));
        QCOMPARE(tunnel.at(0).at(0).toByteArray().mid(12), QByteArray("luff"));

        // Tunnel down: no link at all, and the offers resume.
        tunnel.clear();
        onManagerThread([](BGPCom* bgp) { bgp->resetFallback(); });
        QTRY_COMPARE_WITH_TIMEOUT(_crane->value("g_link_status"), uint(STATE_NO_LINK), kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel.isEmpty(), kTimeoutMs);
        QCOMPARE(tunnel.at(0).at(0).toByteArray().mid(4, 1), QByteArray(1, char(ID_INIT)));
    }
    void tunnelThroughTheFallbackService()
    {
        // The tunnel service of the internal link; the test plays the internal processor
        // behind it, confirming blocks and passing the base unit's bytes back.
        QVERIFY(start(kUnreachable, { { QStringLiteral("GFBM"), QStringLiteral("1") } }));
        GFallbackService service;
        connect(_bgp, &BGPCom::sendFallback, &service, &GFallbackService::send);
        connect(&service, &GFallbackService::up, _bgp, &BGPCom::initFallback);
        connect(&service, &GFallbackService::down, _bgp, &BGPCom::resetFallback);
        connect(&service, &GFallbackService::receive, _bgp, &BGPCom::receiveFallback);
        QSignalSpy blocks(&service, &ServiceBase::readyReadFromService);
        QSignalSpy up(&service, &GFallbackService::up);
        QSignalSpy down(&service, &GFallbackService::down);

        // The first offer opens a session and goes out as one block.
        QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 1, kTimeoutMs);
        QCOMPARE(up.size(), 1);
        const QByteArray init = blocks.at(0).at(0).toByteArray();
        QCOMPARE(init.mid(4, 1), QByteArray(1, char(ID_INIT)));
        QCOMPARE(blocks.at(0).at(2).toUInt(), 5u);
        service.readData(QByteArray(), Internal, 1); // delivered

        service.readData(BaseUnitSimulator::encode(BaseUnitSimulator::INITACK, initAckOk(),
                                                   BaseUnitSimulator::wallClock()),
                         Internal, 1);
        QTRY_COMPARE_WITH_TIMEOUT(_crane->value("g_link_status"), uint(STATE_FALLBACK), kTimeoutMs);
        QSignalSpy cmds(_relay.get(), &Relay::cmd);
        service.readData(BaseUnitSimulator::encode(BaseUnitSimulator::CMD, "jib",
                                                   BaseUnitSimulator::wallClock()),
                         Internal, 1);
        QTRY_COMPARE(cmds.size(), 1);
        QCOMPARE(cmds.at(0).at(0).toByteArray(), QByteArray("jib"));

        // Silence on the tunnel ends the session: no link, and the offers resume.
        QTRY_COMPARE_WITH_TIMEOUT(down.size(), 1, kTimeoutMs);
        // While the session was up, the once-a-second offers stayed away.
        int offers = 0;
        for (const QList<QVariant>& block : qAsConst(blocks))
            offers += block.at(0).toByteArray().mid(4, 1) == QByteArray(1, char(ID_INIT));
        QCOMPARE(offers, 1);
        QTRY_COMPARE_WITH_TIMEOUT(_crane->value("g_link_status"), uint(STATE_NO_LINK), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(up.size(), 2, kTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(tst_BGPComLink)
#include "tst_bgpcomlink.moc"
