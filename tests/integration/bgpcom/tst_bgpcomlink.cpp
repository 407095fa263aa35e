#include "baseunitsimulator.h"
#include "bgpcom.h"
#include "checksum.h"
#include "cranesetup.h"
#include "periodicdatahandler.h"
#include "tsan.h"

#include <QThread>
#include <QtTest>

#include <memory>

using namespace RUzad;

namespace {
// The base unit's port is fixed, so this test has loopback addresses of its own.
const QString kBaseUnit = QStringLiteral("127.0.0.43");
const QString kStuck = QStringLiteral("127.0.0.44");
constexpr int kTimeoutMs = 10000; // two-second link timers on a loaded machine
} // namespace

// Receives the manager's signals on the test's thread.
class Relay : public QObject
{
    Q_OBJECT
signals:
    void cmd(QByteArray cmd);
    void tunnel(QByteArray data);
};

// The manager on a thread of its own, wired as the remote wires it.
class tst_BGPComLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<CraneSetup> _crane;
    std::unique_ptr<BaseUnitSimulator> _sim;
    std::unique_ptr<QThread> _thread;
    std::unique_ptr<QObject> _host; // lives on the manager's thread, to delete it there
    std::unique_ptr<Relay> _relay;
    std::unique_ptr<PeriodicDataHandler> _periodic;
    BGPCom* _bgp = nullptr;

    bool start(const QString& address, bool run = true)
    {
        _crane = std::make_unique<CraneSetup>();
        if (!_crane->setUp(address, { { QStringLiteral("GFBM"), QStringLiteral("1") } }))
            return false;
        _sim = std::make_unique<BaseUnitSimulator>();
        _sim->setBaseId(39);
        _sim->setAppDir(_crane->appDir());
        if (!_sim->listen(QHostAddress(kBaseUnit), 1147))
            return false;
        _relay = std::make_unique<Relay>();
        _periodic = std::make_unique<PeriodicDataHandler>(nullptr, _crane->tags.get());
        _bgp = new BGPCom(_crane->tags.get(), _crane->app.get());
        connect(_bgp, &BGPCom::readyReadCmd, _relay.get(), &Relay::cmd);
        connect(_bgp, &BGPCom::sendFallback, _relay.get(), &Relay::tunnel);
        connect(_bgp, &BGPCom::readyReadPeriodicData, _periodic.get(),
                &PeriodicDataHandler::recvPeriodicData);
        _thread = std::make_unique<QThread>();
        if (run)
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

private slots:
    void initTestCase()
    {
        qRegisterMetaType<NorvikLinkDefines::NotificationSeverity>();
        RUzad::registerMetaTypes();
    }

    // The manager is deleted on its own thread, as the remote does it, whatever its state.
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
            if (_sim->hasClient())
                QTRY_VERIFY(!_sim->hasClient()); // its connection went with it
        }
        _host.reset();
        _thread.reset();
        _periodic.reset();
        _relay.reset();
        _sim.reset();
        _crane.reset();
    }

    // The tag database may be cleared (from the interface) while the link runs: the manager
    // writes into no tag that is gone, nor into the ones that replace them.
    void tagDatabaseCleared()
    {
        QVERIFY(start(kBaseUnit));
        QByteArray frame(24, '\0');
        frame[4] = 42; // "hydraulic_pressure", fed by the periodic-data handler
        _sim->setPeriodicData(frame);
        _sim->setPeriodicInterval(50);
        QTRY_COMPARE_WITH_TIMEOUT(_crane->value("g_link_status"), uint(STATE_OPERATIONAL),
                                  kTimeoutMs);
        QTRY_COMPARE(_crane->value("hydraulic_pressure"), 42u);
        QTimer changes;
        int sent = 0;
        connect(&changes, &QTimer::timeout, this, [&] { _sim->sendBuStatus(7, quint8(++sent)); });
        changes.start(5);
        QTRY_VERIFY(_crane->value("bu_state") > 2);
        QCOMPARE(_crane->value("bu_identity"), 7u);
        _crane->tags->clear();
        QTest::qWait(100); // the tags are deleted while status keeps arriving
        _crane->tags->prePopulate();
        const int reached = sent;
        QTRY_VERIFY(sent > reached + 20);
        _sim->dropConnection(); // the link status changes twice more
        QTRY_VERIFY_WITH_TIMEOUT(_sim->isInitialized(), kTimeoutMs);
        QSignalSpy cmds(_relay.get(), &Relay::cmd);
        _sim->sendCommand("sync");
        QTRY_COMPARE(cmds.size(), 1); // everything before it was handled
        QCOMPARE(_crane->value("bu_state"), 0u);
        QCOMPARE(_crane->value("g_link_status"), 0u);
    }

    // Deleted before run(), while connecting, connected, and in fallback operation; the
    // deletion itself is done by cleanup().
    void deletedAtAnyMoment_data()
    {
        QTest::addColumn<int>("phase");
        QTest::newRow("before run") << 0;
        QTest::newRow("connecting") << 1;
        QTest::newRow("connected") << 2;
        QTest::newRow("fallback") << 3;
    }
    void deletedAtAnyMoment()
    {
        QFETCH(int, phase);
        StuckBaseUnit stuck;
        QVERIFY(stuck.listen(kStuck));
        QVERIFY(start(phase == 2 ? kBaseUnit : kStuck, phase != 0));
        if (phase == 0)
            return;
        QSignalSpy tunnel(_relay.get(), &Relay::tunnel);
        if (phase == 2)
            QTRY_COMPARE_WITH_TIMEOUT(_crane->value("g_link_status"), uint(STATE_OPERATIONAL),
                                      kTimeoutMs);
        if (phase != 3)
            return;
        // Offered through the tunnel while TCP gets nowhere: the pairing of this application.
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel.isEmpty(), kTimeoutMs);
        const QByteArray init = tunnel.at(0).at(0).toByteArray();
        QCOMPARE(init.mid(4, 1), QByteArray(1, char(ID_INIT)));
        QCOMPARE(init.mid(12),
                 QByteArray::fromHex("020134122700") + RUzad::calculateChecksum(_crane->appDir()));
        const QByteArray ack = BaseUnitSimulator::encode(
            BaseUnitSimulator::INITACK, QByteArray(42, '\0'), BaseUnitSimulator::wallClock());
        onManagerThread([ack](BGPCom* bgp) {
            bgp->initFallback();
            bgp->receiveFallback(ack);
        });
        QTRY_COMPARE(_crane->value("g_link_status"), uint(STATE_FALLBACK));
    }
};

QTEST_GUILESS_MAIN(tst_BGPComLink)
#include "tst_bgpcomlink.moc"
