// The whole internal link stack as the remote runs it: the service layer on
// a service thread of its own with all six services, the tag database on
// the main thread, and the internal processor stand-in on a real
// pseudo-terminal with its service peers.
#include "app.h"
#include "cfallbackservice.h"
#include "configurationservice.h"
#include "cranesetup.h"
#include "fallbackpeer.h"
#include "service_layer.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"
#include "tsan.h"

#include <QThread>
#include <QtTest>

class tst_ServiceLayer : public QObject
{
    Q_OBJECT

private:
    StandIns* m_world = nullptr; // no base unit: the link to it is not part of this stack
    TagDatabase* m_tags = nullptr;
    QThread* m_thread = nullptr;
    ServiceLayer* m_layer = nullptr;

    template<typename T> T* service(int id) const
    {
        return qobject_cast<T*>(m_layer->getServices().value(quint8(id)));
    }
    // Calls into the stack on the service thread, as the facade does.
    template<typename Fn> void onServiceThread(Fn fn)
    {
        QMetaObject::invokeMethod(m_layer, fn, Qt::QueuedConnection);
    }
    QVariant value(const char* name) const { return m_tags->get(QLatin1String(name))->getValue(); }
    void set(const char* name, const QVariant& v) { m_tags->get(QLatin1String(name))->setValue(v); }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.info=false"); }

    void init()
    {
        m_world = new StandIns(QString());
        QVERIFY(m_world->isValid());
        m_tags = new TagDatabase;
        m_tags->prePopulate();

        m_layer = new ServiceLayer(m_tags);
        m_thread = new QThread;
        m_layer->moveToThread(m_thread);
        m_thread->start();
        QVERIFY(QMetaObject::invokeMethod(m_layer, "run", Qt::BlockingQueuedConnection));
        NORVIK_TSAN_ACQUIRE(m_layer);
    }

    void cleanup()
    {
        // The stack's timers and serial port belong to the service thread.
        connect(m_thread, &QThread::finished, m_layer, &QObject::deleteLater);
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        delete m_tags;
        delete m_world;
    }

    void configurationWalkWithInterleavedRequests()
    {
        App crane(QStringLiteral("crane_ui"), m_world->sample.appDir(QStringLiteral("crane")));
        auto* configuration = service<ConfigurationService>(SERV_ID_CONFIGURATION);
        m_world->parameters.setValue("RCSR", 0x01040107);
        m_world->parameters.setValue("ECSR", 0x01040107);
        m_world->parameters.setValue("RUID", 4660);
        m_world->parameters.setValue("IENC", 3001);
        QThread* writtenOn = nullptr;
        connect(
            m_tags->get("encoder_id"), &Tag::valueUpdated, this,
            [&] { writtenOn = QThread::currentThread(); }, Qt::DirectConnection);
        configuration->setConfigurationParameters(&crane);
        configuration->requestConfigurationParameters();
        // The internal processor asks too while the walk runs; each side's
        // answers pair with its own requests.
        QTest::ignoreMessage(QtWarningMsg,
                             "ConfigurationService: request of 2 bytes has no key, "
                             "answered without a value");
        for (const QByteArray& key : { QByteArray("BUID"), QByteArray("XXXX"), QByteArray("BU") })
            m_world->parameters.requestParameter(key);
        QTRY_COMPARE_WITH_TIMEOUT(value("encoder_id"), QVariant(3001u), 10000);
        QCOMPARE(writtenOn, QThread::currentThread());
        QCOMPARE(m_world->parameters.requests(), configurationWalkOrder());
        QCOMPARE(value("rc_sw_rev"), QVariant("1.4"));
        QCOMPARE(value("ec_sw_rev"), QVariant("1.4.7"));
        QCOMPARE(value("ru_id"), QVariant(4660u));
        QTRY_COMPARE(m_world->parameters.answers().size(), 3);
        const QList<QPair<QByteArray, QByteArray>> answers
            = { { "BUID", QByteArray::fromHex("27000000") },
                { "XXXX", QByteArray::fromHex("FFFFFFFF") },
                { "BU", QByteArray::fromHex("FFFFFFFF") } };
        QCOMPARE(m_world->parameters.answers(), answers);
    }

    void processDataBothWays()
    {
        ProcessDataPeer& peer = m_world->process;
        QThread* seenOn = nullptr;
        connect(
            m_tags->get("joystick_01"), &Tag::valueUpdated, this,
            [&] { seenOn = QThread::currentThread(); }, Qt::DirectConnection);
        QVERIFY(peer.setJoystick(1, -500));
        QVERIFY(peer.setSwitch(3, true));
        QVERIFY(peer.setEncoder(1234));
        peer.sendFrame(1);
        QTRY_COMPARE(value("encoder_01"), QVariant(1234));
        QCOMPARE(value("joystick_01"), QVariant(-500));
        QCOMPARE(value("switch_03"), QVariant(true));
        QCOMPARE(seenOn, QThread::currentThread());
        // A steady stream keeps the tags current.
        peer.startSending(20);
        QVERIFY(peer.setJoystick(1, 321));
        QTRY_COMPARE(value("joystick_01"), QVariant(321));
        peer.stopSending();

        // Status tags written on the main thread go out in the 500 ms frame.
        set("ru_identity", 258u);
        set("rc_state", 3u);
        set("g_link_rssi", 88u);
        set("ru_charge_state", -1);
        set("led_control_1_to_8", QByteArray::fromHex("0102040810204080"));
        const QByteArray expected = QByteArray::fromHex("02010300580000FF0102040810204080");
        const auto last = [&peer] {
            return peer.statusFrames().isEmpty() ? QByteArray() : peer.statusFrames().last();
        };
        QTRY_COMPARE_WITH_TIMEOUT(last().toHex(), expected.toHex(), 5000);
    }

    void serviceForwardBothWays()
    {
        FallbackPeer fallback(&m_world->ip);
        auto* forward = service<CFallbackService>(SERV_ID_CFALLBACK);
        QList<QByteArray> toBaseUnit;
        connect(forward, &CFallbackService::cFallbackTx, this,
                [&](const QByteArray& data) { toBaseUnit << data; });
        fallback.sendServiceForward("to base");
        QTRY_COMPARE(toBaseUnit, QList<QByteArray> { "to base" });
        onServiceThread([forward] { forward->cFallbackRx("from base"); });
        QTRY_COMPARE(fallback.serviceForward(), QList<QByteArray> { "from base" });
    }
};

QTEST_GUILESS_MAIN(tst_ServiceLayer)
#include "tst_servicelayer.moc"
