// The configuration and process-data services on a service thread of their
// own, as on the remote, talking to the internal processor stand-in through
// the real link stack and a pseudo-terminal; the tags stay on the main thread.
#include "app.h"
#include "configurationpeer.h"
#include "configurationservice.h"
#include "datasvcfixture.h"
#include "internalprocessorsim.h"
#include "processdata.h"
#include "processdatapeer.h"
#include "transport_layer.h"
#include "tsan.h"

#include <QThread>
#include <QtTest>

// The two services and the transport, built on the service thread and fed by
// service id, as the service layer does.
class ServiceHost : public QObject
{
    Q_OBJECT

public:
    TransportLayer* transport = nullptr;
    ProcessData* processData = nullptr;
    ConfigurationService* configuration = nullptr;

    void start(TagDatabase* tags)
    {
        transport = new TransportLayer(this);
        processData = new ProcessData(tags, this);
        configuration = new ConfigurationService(tags, this);
        for (ServiceBase* service :
             { static_cast<ServiceBase*>(processData), static_cast<ServiceBase*>(configuration) })
            connect(service, &ServiceBase::readyReadFromService, transport,
                    &TransportLayer::readDataFromService);
        connect(transport, &TransportLayer::readyRead, this,
                [this](QByteArray data, Link link, quint8 serviceId, quint8 messageClass) {
                    if (serviceId == SERV_ID_PROCESS_DATA)
                        processData->readData(data, link, messageClass);
                    else if (serviceId == SERV_ID_CONFIGURATION)
                        configuration->readData(data, link, messageClass);
                });
        // The elements read their tags here while the main thread waits.
        NORVIK_TSAN_RELEASE(this);
    }

    void stop()
    {
        delete processData;
        delete configuration;
        delete transport;
        NORVIK_TSAN_RELEASE(this); // the main thread deletes the host next
    }
};

class tst_DataLink : public QObject
{
    Q_OBJECT

private:
    SampleTags* m_fixture = nullptr;
    SampleInstall* m_sample = nullptr;
    QTemporaryDir* m_sysroot = nullptr;
    InternalProcessorSim* m_sim = nullptr;
    ConfigurationPeer* m_config = nullptr;
    ProcessDataPeer* m_process = nullptr;
    TagDatabase* m_tags = nullptr;
    App* m_app = nullptr;
    QThread* m_thread = nullptr;
    ServiceHost* m_host = nullptr;

    QVariant value(const char* name) const { return m_tags->get(QLatin1String(name))->getValue(); }
    void set(const char* name, const QVariant& v) { m_tags->get(QLatin1String(name))->setValue(v); }

private slots:
    void init()
    {
        m_fixture = new SampleTags;
        QVERIFY(m_fixture->isValid());
        m_sample = &m_fixture->sample;
        m_tags = &m_fixture->tags;
        m_sysroot = new QTemporaryDir;
        qputenv("NORVIK_SYSROOT", m_sysroot->path().toLocal8Bit());
        m_sim = new InternalProcessorSim;
        QVERIFY(m_sim->open(m_sysroot->path()));
        m_config = new ConfigurationPeer(m_sim);
        m_process = new ProcessDataPeer(m_sim);
        QVERIFY(m_process->loadLayout(m_sample->sharedConfigDir()
                                      + QStringLiteral("/remoteInternalInputTags.csv")));
        QCOMPARE(m_process->frameSize(), 24);

        m_app = new App(QStringLiteral("crane_ui"), m_sample->appDir(QStringLiteral("crane")));

        m_thread = new QThread;
        m_host = new ServiceHost;
        m_host->moveToThread(m_thread);
        m_thread->start();
        TagDatabase* tags = m_tags;
        ServiceHost* host = m_host;
        QMetaObject::invokeMethod(
            m_host, [host, tags] { host->start(tags); }, Qt::BlockingQueuedConnection);
        NORVIK_TSAN_ACQUIRE(m_host);
    }

    void cleanup()
    {
        if (ServiceHost* host = m_host) {
            QMetaObject::invokeMethod(
                host, [host] { host->stop(); }, Qt::BlockingQueuedConnection);
            m_thread->quit();
            m_thread->wait();
            NORVIK_TSAN_ACQUIRE(host);
        }
        delete m_host;
        delete m_thread;
        m_host = nullptr;
        m_thread = nullptr;
        delete m_app;
        delete m_process;
        delete m_config;
        delete m_sim;
        delete m_sysroot;
        delete m_fixture;
        m_app = nullptr;
        m_process = nullptr;
        m_config = nullptr;
        m_sim = nullptr;
        m_sysroot = nullptr;
        m_fixture = nullptr;
    }

    void configurationWalk()
    {
        m_config->setValue("RCSR", 0x01040107);
        m_config->setValue("ECSR", 0x01040107);
        m_config->setValue("HWRV", 0x02030000);
        m_config->setValue("HWID", 0x01040107);
        m_config->setNoValue("RUID");
        m_config->setValue("IRTY", 3);
        for (int i = 1; i <= 4; ++i)
            m_config->setValue("IJS" + QByteArray::number(i), 1100 + i);
        for (int i = 1; i <= 8; ++i)
            m_config->setValue("IEF" + QByteArray::number(i), 2000 + i);
        m_config->setValue("IENC", 3001);
        set("ru_id", 77u);
        QThread* writtenOn = nullptr;
        connect(m_tags->get(QStringLiteral("hw_id")), &Tag::valueUpdated, this,
                [&] { writtenOn = QThread::currentThread(); });

        // Called from the main thread, as the facade does.
        m_host->configuration->requestConfigurationParameters();
        QTRY_COMPARE_WITH_TIMEOUT(value("encoder_id"), QVariant(3001u), 10000);
        QCOMPARE(m_config->requests(), configurationWalkOrder());
        QCOMPARE(value("rc_sw_rev"), QVariant("1.4"));
        QCOMPARE(value("ec_sw_rev"), QVariant("1.4.7"));
        QCOMPARE(value("hw_rev"), QVariant("2.3"));
        QCOMPARE(value("hw_id"), QVariant(17039623u));
        QCOMPARE(writtenOn, QThread::currentThread()); // tags are written on their own thread
        QCOMPARE(value("ru_id"), QVariant(77u)); // no value: unchanged
        QCOMPARE(value("clink_radio_type"), QVariant(3u));
        QCOMPARE(value("joystick_04_id"), QVariant(1104u));
        QCOMPARE(value("switch_08_id"), QVariant(2008u));
        QTest::qWait(300);
        QCOMPARE(m_config->requests().size(), 19); // and then it stops

        // A second walk reads everything again.
        m_config->clearRequests();
        m_config->setValue("RCSR", 0x02050000);
        m_config->setValue("IENC", 3002);
        m_host->configuration->requestConfigurationParameters();
        QTRY_COMPARE_WITH_TIMEOUT(value("encoder_id"), QVariant(3002u), 10000);
        QCOMPARE(value("rc_sw_rev"), QVariant("2.5"));
        QCOMPARE(m_config->requests(), configurationWalkOrder());

        // Restarted while the fifth request is outstanding: the restart is
        // queued before that answer can arrive, so it begins at the first entry.
        m_config->clearRequests();
        bool restarted = false;
        connect(m_config, &ConfigurationPeer::parameterRequested, this, [&](const QByteArray&) {
            if (!restarted && m_config->requests().size() == 5) {
                restarted = true;
                m_host->configuration->requestConfigurationParameters();
            }
        });
        m_host->configuration->requestConfigurationParameters();
        QTRY_COMPARE_WITH_TIMEOUT(m_config->requests().size(), 24, 10000);
        QCOMPARE(m_config->requests().mid(0, 5), configurationWalkOrder().mid(0, 5));
        QCOMPARE(m_config->requests().mid(5), configurationWalkOrder());
        QTest::qWait(300);
        QCOMPARE(m_config->requests().size(), 24);
    }

    void answersWhileWalking()
    {
        m_host->configuration->setConfigurationParameters(m_app);
        m_host->configuration->requestConfigurationParameters();
        QTest::ignoreMessage(QtWarningMsg,
                             "ConfigurationService: request of 2 bytes has no key, answered "
                             "without a value");
        for (const QByteArray& key : { QByteArray("BUID"), QByteArray("AJS1"), QByteArray("XXXX"),
                                       QByteArray("BU"), QByteArray("AENC") })
            m_config->requestParameter(key);
        QTRY_COMPARE_WITH_TIMEOUT(m_config->answers().size(), 5, 10000);
        const QList<QPair<QByteArray, QByteArray>> expected = {
            { "BUID", QByteArray::fromHex("27000000") },
            { "AJS1", QByteArray::fromHex("A6040000") },
            { "XXXX", QByteArray::fromHex("FFFFFFFF") },
            { "BU", QByteArray::fromHex("FFFFFFFF") },
            { "AENC", QByteArray::fromHex("1C0C0000") },
        };
        QCOMPARE(m_config->answers(), expected);
        // The walk's own requests and answers were not mixed up with these.
        QTRY_COMPARE_WITH_TIMEOUT(m_config->requests().size(), 19, 10000);
        QCOMPARE(m_config->requests(), configurationWalkOrder());
    }

    void processDataIntoTags()
    {
        Tag* joystick = m_tags->get(QStringLiteral("joystick_01"));
        QThread* seenOn = nullptr;
        connect(joystick, &Tag::valueUpdated, this, [&] { seenOn = QThread::currentThread(); });

        QVERIFY(m_process->setField(QStringLiteral("state"), 2));
        QVERIFY(m_process->setJoystick(1, -500));
        QVERIFY(m_process->setJoystick(4, 1000));
        QVERIFY(m_process->setSwitch(3, true));
        QVERIFY(m_process->setEncoder(1234));
        QVERIFY(m_process->setField(QStringLiteral("pd_frame_counter"), 0x0102));
        m_process->sendFrame(1);
        QTRY_COMPARE_WITH_TIMEOUT(value("encoder_01"), QVariant(1234), 5000);
        QCOMPARE(value("state"), QVariant(2u));
        QCOMPARE(value("joystick_01"), QVariant(-500));
        QCOMPARE(value("joystick_04"), QVariant(1000));
        QCOMPARE(value("switch_03"), QVariant(true));
        QCOMPARE(value("switch_02"), QVariant(false));
        QCOMPARE(value("pd_frame_counter"), QVariant(0x0102u));
        QCOMPARE(seenOn, QThread::currentThread());

        // Class 2 is input too, and a steady stream keeps the tags current.
        QVERIFY(m_process->setSwitch(3, false));
        m_process->sendFrame(2);
        QTRY_COMPARE_WITH_TIMEOUT(value("switch_03"), QVariant(false), 5000);
        m_process->startSending(20);
        QVERIFY(m_process->setJoystick(1, 321));
        QTRY_COMPARE_WITH_TIMEOUT(value("joystick_01"), QVariant(321), 5000);
        m_process->stopSending();
    }

    void statusFrames()
    {
        set("ru_identity", 258u);
        set("rc_state", 3u);
        set("g_link_rssi", 88u);
        set("ru_charge_state", -1);
        set("led_control_1_to_8", QByteArray::fromHex("0102040810204080"));
        const QByteArray expected = QByteArray::fromHex("0201"
                                                        "03"
                                                        "00"
                                                        "58"
                                                        "00"
                                                        "00"
                                                        "FF"
                                                        "0102040810204080");
        const auto last = [this] {
            const QList<QByteArray> frames = m_process->statusFrames();
            return frames.isEmpty() ? QByteArray() : frames.last();
        };
        QTRY_COMPARE_WITH_TIMEOUT(last().toHex(), expected.toHex(), 5000);

        // Without changes every tick sends the same frame.
        m_process->clearStatusFrames();
        QTRY_VERIFY_WITH_TIMEOUT(m_process->statusFrames().size() >= 2, 5000);
        QCOMPARE(m_process->statusFrames().at(0).toHex(), expected.toHex());
        QCOMPARE(m_process->statusFrames().at(1).toHex(), expected.toHex());

        // A change on the main thread shows in the following frames.
        set("g_link_rssi", 55u);
        QByteArray changed = expected;
        changed[4] = char(55);
        QTRY_COMPARE_WITH_TIMEOUT(last().toHex(), changed.toHex(), 5000);
        m_process->clearStatusFrames();
        QTRY_VERIFY_WITH_TIMEOUT(m_process->statusFrames().size() >= 1, 5000);
        QCOMPARE(m_process->statusFrames().at(0).toHex(), changed.toHex());
    }
};

QTEST_GUILESS_MAIN(tst_DataLink)
#include "tst_datalink.moc"
