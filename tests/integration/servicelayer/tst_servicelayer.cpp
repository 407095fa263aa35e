// The whole internal link stack as the remote runs it: the service layer on
// a service thread of its own with all six services, the tag database on
// the main thread, and the internal processor stand-in on a real
// pseudo-terminal with its service peers.
#include "cfallbackservice.h"
#include "configurationpeer.h"
#include "configurationservice.h"
#include "fallbackpeer.h"
#include "gfallbackservice.h"
#include "internalprocessorsim.h"
#include "notificationservice.h"
#include "processdata.h"
#include "processdatapeer.h"
#include "sampleinstall.h"
#include "service_layer.h"
#include "systemeventpeer.h"
#include "systemeventservice.h"
#include "tag.h"
#include "tagdatabase.h"
#include "tsan.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using S = SystemEventService::States;

class tst_ServiceLayer : public QObject
{
    Q_OBJECT

private:
    SampleInstall m_sample;
    QTemporaryDir* m_sysroot = nullptr;
    InternalProcessorSim* m_sim = nullptr;
    SystemEventPeer* m_events = nullptr;
    TagDatabase* m_tags = nullptr;
    QThread* m_thread = nullptr;
    ServiceLayer* m_layer = nullptr;
    SystemEventService* m_state = nullptr;
    QSignalSpy* m_changes = nullptr;

    // Calls a slot of a service on the service thread, as the facade does.
    template<typename Fn> void onServiceThread(Fn fn)
    {
        QMetaObject::invokeMethod(m_layer, fn, Qt::QueuedConnection);
    }

    S lastState() const { return m_changes->last().at(0).value<S>(); }

    void expectState(S state)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_changes->isEmpty() && lastState() == state, 5000);
    }

    void reachWaiting()
    {
        onServiceThread([this] { m_state->reset(); });
        expectState(S::WAITING);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sample.isValid());
        m_sample.useApp("crane");
        QLoggingCategory::setFilterRules("default.info=false");
    }

    void init()
    {
        m_sysroot = new QTemporaryDir;
        qputenv("NORVIK_SYSROOT", m_sysroot->path().toLocal8Bit());
        m_sim = new InternalProcessorSim;
        QVERIFY(m_sim->open(m_sysroot->path()));
        m_events = new SystemEventPeer(m_sim);
        m_tags = new TagDatabase;
        m_tags->prePopulate();

        m_layer = new ServiceLayer(m_tags);
        m_thread = new QThread;
        m_layer->moveToThread(m_thread);
        m_thread->start(QThread::InheritPriority);
        QVERIFY(QMetaObject::invokeMethod(m_layer, "run", Qt::BlockingQueuedConnection));
        NORVIK_TSAN_ACQUIRE(m_layer);
        m_state = qobject_cast<SystemEventService*>(m_layer->getServices().value(0));
        QVERIFY(m_state);
        m_changes = new QSignalSpy(m_state, &SystemEventService::stateChanged);
    }

    void cleanup()
    {
        delete m_changes;
        // The stack's timers and serial port belong to the service thread.
        QMetaObject::invokeMethod(
            m_layer,
            [this] {
                delete m_layer;
                NORVIK_TSAN_RELEASE(m_thread);
            },
            Qt::BlockingQueuedConnection);
        NORVIK_TSAN_ACQUIRE(m_thread);
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        delete m_tags;
        delete m_events;
        delete m_sim;
        delete m_sysroot;
    }

    void servicesByIdAndRouting()
    {
        const auto services = m_layer->getServices();
        QCOMPARE(services.keys(), (QList<unsigned char> { 0, 1, 2, 3, 4, 5 }));
        QVERIFY(qobject_cast<SystemEventService*>(services.value(0)));
        QVERIFY(qobject_cast<ProcessData*>(services.value(1)));
        QVERIFY(qobject_cast<ConfigurationService*>(services.value(2)));
        QVERIFY(qobject_cast<NotificationService*>(services.value(3)));
        QVERIFY(qobject_cast<CFallbackService*>(services.value(4)));
        QVERIFY(qobject_cast<GFallbackService*>(services.value(5)));
        for (auto it = services.cbegin(); it != services.cend(); ++it) {
            QCOMPARE(it.value()->getServiceId(), quint8(it.key()));
            QCOMPARE(it.value()->thread(), m_thread);
        }

        // A packet for the reserved id 6 reaches no service; one for id 5 does
        // (the tunnel delivers while a session is open).
        auto* tunnel = qobject_cast<GFallbackService*>(services.value(5));
        QSignalSpy received(tunnel, &GFallbackService::receive);
        QSignalSpy up(tunnel, &GFallbackService::up);
        FallbackPeer fallback(m_sim);
        const QByteArray message = FallbackPeer::ruzadMessage(FallbackPeer::ruzadCmd, 4);
        QMetaObject::invokeMethod(tunnel, [tunnel, message] { tunnel->send(message); });
        QTRY_COMPARE(up.count(), 1);
        m_sim->sendPacket(6, 1, "nobody");
        m_sim->sendPacket(5, 1, "tunnel data");
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toByteArray(), QByteArray("tunnel data"));
    }

    void resetHandshake()
    {
        QTest::qWait(100);
        QCOMPARE(m_changes->count(), 0); // the initial state is not announced
        reachWaiting();
        QCOMPARE(m_events->resetRequests(), 1);
        QCOMPARE(m_changes->count(), 1);
    }

    void selectArmStopRelease()
    {
        reachWaiting();
        onServiceThread([this] { m_state->select(); });
        expectState(S::SELECTED);
        onServiceThread([this] { m_state->arm(); });
        expectState(S::ARMED_ENABLED);
        QCOMPARE(m_changes->at(m_changes->count() - 2).at(0).value<S>(), S::ARMING);

        onServiceThread([this] { m_state->stopTriggered(); });
        expectState(S::STOP);
        expectState(S::SELECTED); // released by the stop timer

        m_events->setArmSucceeds(false);
        onServiceThread([this] { m_state->arm(); });
        QTRY_COMPARE(m_changes->count(), 8);
        QCOMPARE(m_changes->at(6).at(0).value<S>(), S::ARMING);
        QCOMPARE(lastState(), S::SELECTED);

        m_events->setArmSucceeds(true);
        onServiceThread([this] { m_state->arm(); });
        expectState(S::ARMED_ENABLED);
        onServiceThread([this] { m_state->disarm(); });
        expectState(S::SELECTED);
        onServiceThread([this] { m_state->shutdown(); });
        expectState(S::POWERING_DOWN);
    }

    void linkFailureInEveryState_data()
    {
        QTest::addColumn<int>("steps");
        QTest::newRow("WAITING") << 1;
        QTest::newRow("SELECTED") << 2;
        QTest::newRow("ARMED_ENABLED") << 3;
    }
    void linkFailureInEveryState()
    {
        QFETCH(int, steps);
        reachWaiting();
        if (steps >= 2) {
            onServiceThread([this] { m_state->select(); });
            expectState(S::SELECTED);
        }
        if (steps >= 3) {
            onServiceThread([this] { m_state->arm(); });
            expectState(S::ARMED_ENABLED);
        }
        m_sim->setWithholdAcks(true);
        m_events->setAutoReply(false);
        onServiceThread([this] { m_state->select(); }); // forwarded, never acknowledged
        expectState(S::NO_RI_Link);

        // Back through the handshake once the internal processor answers again.
        m_sim->setWithholdAcks(false);
        reachWaiting();
    }

    void configurationWalk()
    {
        ConfigurationPeer parameters(m_sim);
        parameters.setValue("RCSR", 0x01040107);
        parameters.setValue("ECSR", 0x01040107);
        parameters.setValue("HWID", 0x01040107);
        parameters.setNoValue("RUID");
        auto* service = qobject_cast<ConfigurationService*>(m_layer->getServices().value(2));
        QMetaObject::invokeMethod(service, "requestConfigurationParameters", Qt::QueuedConnection);
        QTRY_COMPARE(parameters.requests().size(), 19);
        Tag* rc = m_tags->get("rc_sw_rev");
        Tag* ec = m_tags->get("ec_sw_rev");
        Tag* id = m_tags->get("hw_id");
        QVERIFY(rc && ec && id);
        QTRY_COMPARE(rc->getValue().toString(), QStringLiteral("1.4"));
        QTRY_COMPARE(ec->getValue().toString(), QStringLiteral("1.4.7"));
        QTRY_COMPARE(id->getValue().toUInt(), 17039623u);
    }

    void processDataBothWays()
    {
        ProcessDataPeer peer(m_sim);
        QVERIFY(peer.loadLayout(m_sample.sharedConfigDir() + "/remoteInternalInputTags.csv"));
        Tag* joystick = m_tags->get("joystick_01");
        QVERIFY(joystick);
        QSignalSpy updated(joystick, &Tag::valueUpdated);
        QVERIFY(peer.setJoystick(1, -321));
        peer.sendFrame();
        QTRY_COMPARE(updated.count(), 1);
        QCOMPARE(joystick->getValue().toInt(), -321);
        QCOMPARE(joystick->thread(), QThread::currentThread());

        // Status frames every 500 ms, all of the layout's length.
        QTRY_VERIFY_WITH_TIMEOUT(peer.statusFrames().size() >= 2, 5000);
        const int size = peer.statusFrames().first().size();
        QVERIFY(size > 0);
        for (const QByteArray& frame : peer.statusFrames())
            QCOMPARE(frame.size(), size);
    }
};

QTEST_GUILESS_MAIN(tst_ServiceLayer)
#include "tst_servicelayer.moc"
