// The I2C bus library with its worker thread on the simulated bus, and the battery gauge
// and the backlight/light sensor clients on it through the real handler and its thread.

#include "backlighthandler.h"
#include "batteryHandler.h"
#include "i2chandler.h"
#include "messagelog.h"
#include "simulatedi2cbus.h"
#include "tagdatabase.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class tst_Peripherals : public QObject
{
    Q_OBJECT

private:
    SimulatedI2cBus* m_bus = nullptr;
    TagDatabase* m_tags = nullptr;
    i2cHandler* m_i2c = nullptr; // the clients' handler, made by their tests

    QStringList m_results; // "address register data" in hex, in arrival order
    bool m_offThread = false;

    // Records the handler's results, and whether one came on another thread than its own.
    void record(i2cHandler* handler)
    {
        connect(
            handler, &i2cHandler::readyReadFromI2C, this,
            [this](quint8 address, quint8 reg, QByteArray data) {
                m_offThread |= QThread::currentThread() != thread();
                m_results << QString::asprintf("%02x %02x ", address, reg) + data.toHex();
            },
            Qt::DirectConnection);
    }

    void addTag(const QString& name, const QVariant& value)
    {
        auto* tag = new Tag(name, m_tags);
        tag->setValue(value);
        QVERIFY(m_tags->append(tag));
    }
    QVariant value(const QString& name) const { return m_tags->get(name)->getValue(); }
    static void setInterval(QObject* owner, const char* timer, int ms)
    {
        owner->findChild<QTimer*>(timer)->setInterval(ms);
    }

private slots:
    void init()
    {
        m_results.clear();
        m_bus = new SimulatedI2cBus;
        m_bus->install();
        m_tags = new TagDatabase;
    }
    void cleanup()
    {
        delete m_i2c;
        m_i2c = nullptr;
        delete m_tags;
        QCOMPARE(m_bus->openDescriptors(), 0);
        QVERIFY(!m_offThread);
        delete m_bus;
    }

    // Two devices' requests and a write go out one at a time in request order; a
    // read is the register byte, then a separate read; results come back in the
    // same order on the handler's thread, tagged with address and register.
    void transfersInRequestOrder()
    {
        qputenv("NORVIK_SYSROOT", "/remote");
        i2cHandler handler(nullptr, "/dev/i2c-2");
        qunsetenv("NORVIK_SYSROOT");
        QCOMPARE(m_bus->openedPaths(), QStringList { "/remote/dev/i2c-2" });
        m_bus->setDesignCapacity(2000);
        m_bus->setLightResult(3, 0x456);
        record(&handler);

        handler.i2cRead(0x0B, 0x18, 2);
        handler.i2cRead(0x44, 0x00, 2);
        handler.i2cWrite(0x2D, 0x07, QByteArray(128, '\x5a'));
        handler.i2cRead(0x2D, 0x07, 0);
        handler.i2cRead(0x2D, 0x07, 128);
        QTRY_COMPARE(m_results,
                     (QStringList { "0b 18 d007", "44 00 3456", "2d 07 ",
                                    "2d 07 " + QString("5a").repeated(128) }));
        QCOMPARE(m_bus->trace(),
                 (QStringList { "w 0b 18", "r 0b 2", "w 44 00", "r 44 2",
                                "w 2d 07" + QString(" 5a").repeated(128), "w 2d 07", "r 2d 0",
                                "w 2d 07", "r 2d 128" }));
    }

    // A transfer that fails is dropped without a signal; the next one still works.
    void failedTransferDropped_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("failed"); // the wire trace of the failing read
        QTest::newRow("no acknowledge")
            << int(SimulatedI2cBus::NoAcknowledge) << QStringList { "w 0b 0d nak" };
        QTest::newRow("short read")
            << int(SimulatedI2cBus::ShortRead) << QStringList { "w 0b 0d", "r 0b 2 short" };
        QTest::newRow("bus gone") << -1 << QStringList { "w 0b 0d gone" };
    }
    void failedTransferDropped()
    {
        QFETCH(int, fault);
        QFETCH(QStringList, failed);
        i2cHandler handler(nullptr, "/dev/i2c-2");
        record(&handler);
        if (fault < 0)
            m_bus->setPresent(false);
        else
            m_bus->setFault(0x0B, SimulatedI2cBus::Fault(fault));

        handler.i2cRead(0x0B, 0x0D, 2);
        QTRY_COMPARE(m_bus->trace(), failed);
        m_bus->setPresent(true);
        handler.i2cRead(0x44, 0x00, 2);
        QTRY_COMPARE(m_results, QStringList { "44 00 0000" });
    }

    // The destructor ends the worker for good whatever it is doing: blocked on an
    // empty queue, or working through a queue on a slow bus (the rest is never
    // sent). The device is closed every time (checked in cleanup()).
    void destroyedInAnyState_data()
    {
        QTest::addColumn<int>("rounds");
        QTest::addColumn<int>("queued");
        QTest::addColumn<int>("delayUs");
        QTest::newRow("idle, many times") << 50 << 0 << 0;
        QTest::newRow("one request, many times") << 50 << 1 << 0;
        QTest::newRow("long queue on a slow bus") << 1 << 500 << 2000;
    }
    void destroyedInAnyState()
    {
        QFETCH(int, rounds);
        QFETCH(int, queued);
        QFETCH(int, delayUs);
        m_bus->setTransferDelay(delayUs);
        for (int round = 0; round < rounds; ++round) {
            auto* handler = new i2cHandler(nullptr, "/dev/i2c-2");
            for (int i = 0; i < queued; ++i)
                handler->i2cRead(0x0B, 0x0D, 2);
            if (delayUs)
                QTRY_VERIFY(!m_bus->trace().isEmpty());
            delete handler;
        }
        const QStringList trace = m_bus->trace();
        QVERIFY(trace.size() <= 2 * rounds * queued);
        if (delayUs)
            QVERIFY2(trace.size() < queued, qPrintable(QString::number(trace.size())));
        QTest::qWait(50);
        QCOMPARE(m_bus->trace(), trace);
    }

    // The first cycle reads the design capacity, average current and state of
    // charge; later ones only the last two while the capacity is known. The
    // current becomes a percentage of the capacity, truncated toward zero.
    void gaugeCycles_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("chargeState");
        QTest::newRow("draining, 0x9c 0xff") << 2000 << -100 << -5;
        QTest::newRow("charging, truncated") << 3 << 1 << 33;
        QTest::newRow("no capacity: read every cycle") << 0 << 50 << 77;
        QTest::newRow("negative capacity") << -2000 << 50 << 77;
    }
    void gaugeCycles()
    {
        QFETCH(int, capacity);
        QFETCH(int, current);
        m_i2c = new i2cHandler(nullptr, "/dev/i2c-2");
        addTag("ru_battery", 0);
        addTag("ru_charge_state", 77);
        m_bus->setDesignCapacity(qint16(capacity));
        m_bus->setAverageCurrent(qint16(current));
        m_bus->setRelativeStateOfCharge(64);
        battery gauge(nullptr, m_tags, m_i2c);
        QTRY_COMPARE(value("ru_battery"), QVariant(64));
        QCOMPARE(value("bat_cap"), QVariant(capacity));
        QTEST(value("ru_charge_state").toInt(), "chargeState");
        const QStringList current_soc { "w 0b 0b", "r 0b 2", "w 0b 0d", "r 0b 2" };
        const QStringList first = QStringList { "w 0b 18", "r 0b 2" } + current_soc;
        QCOMPARE(m_bus->trace(), first);

        m_bus->clearTrace();
        setInterval(&gauge, "batteryRead", 20);
        QTRY_VERIFY(m_bus->trace().size() >= 12);
        QCOMPARE(m_bus->trace().mid(0, 12),
                 capacity != 0 ? current_soc + current_soc + current_soc : first + first);
    }

    // Start-up configures the sensor and sets half intensity; each intensity is
    // then written as brightness and PWM, high byte first. Out-of-range values
    // are clamped, and one that is no number writes nothing.
    void backlightIntensity_data()
    {
        QTest::addColumn<QVariant>("intensity");
        QTest::addColumn<QString>("bytes"); // brightness, PWM; none when ignored
        QTest::addColumn<double>("tag");
        QTest::newRow("0") << QVariant(0.0) << "0b b8 00 00" << 0.0;
        QTest::newRow("1") << QVariant(1) << "ff ff 0f ff" << 1.0;
        QTest::newRow("text 0.1") << QVariant("0.1") << "24 25 01 99" << 0.1;
        QTest::newRow("below 0") << QVariant(-0.5) << "0b b8 00 00" << 0.0;
        QTest::newRow("above 1") << QVariant(7) << "ff ff 0f ff" << 1.0;
        QTest::newRow("not a number") << QVariant("bright") << "" << 0.5;
        QTest::newRow("NaN") << QVariant(qQNaN()) << "" << 0.5;
    }
    void backlightIntensity()
    {
        QFETCH(QVariant, intensity);
        QFETCH(QString, bytes);
        m_i2c = new i2cHandler(nullptr, "/dev/i2c-2");
        BacklightHandler backlight(nullptr, m_tags, m_i2c);
        backlight.findChild<QTimer*>("lightSensorRead")->stop();
        const QStringList fence { "w 2d 00", "r 2d 2" };
        m_i2c->i2cRead(0x2D, 0, 2);
        QTRY_COMPARE(m_bus->trace(),
                     QStringList({ "w 44 01 c6 10", "w 2d 00 85 db", "w 2d 02 0f ff" }) + fence);
        QCOMPARE(value("backlightIntensity"), QVariant(0.5));

        m_bus->clearTrace();
        if (bytes.isEmpty())
            QTest::ignoreMessage(QtWarningMsg,
                                 qPrintable("BacklightHandler: intensity " + intensity.toString()
                                            + " is not a number, ignored"));
        backlight.setBacklightIntesity(intensity);
        m_i2c->i2cRead(0x2D, 0, 2);
        const QStringList writes { "w 2d 00 " + bytes.left(5), "w 2d 02 " + bytes.mid(6) };
        QTRY_COMPARE(m_bus->trace(), (bytes.isEmpty() ? QStringList() : writes) + fence);
        QTEST(value("backlightIntensity").toDouble(), "tag");
    }

    // Both clients on one bus. The light level is 0.01 * 2^E * R lux; results of
    // other devices or registers leave the tags alone. Without "ru_charge_state"
    // the gauge warns once and keeps the other tags.
    void sharedBus()
    {
        m_i2c = new i2cHandler(nullptr, "/dev/i2c-2");
        addTag("light_sensor_value", 0);
        addTag("ru_battery", 0);
        MessageLog log;
        BacklightHandler backlight(nullptr, m_tags, m_i2c);
        battery gauge(nullptr, m_tags, m_i2c);
        setInterval(&backlight, "lightSensorRead", 20);
        setInterval(&gauge, "batteryRead", 20);
        for (const auto& [exponent, mantissa, lux] : { std::tuple(3, 0x456, 88.8f),
                                                       { 0, 0, 0.0f },
                                                       { 15, 0xFFF, 1341849.6f },
                                                       { 0, 1, 0.01f } }) {
            m_bus->setLightResult(quint8(exponent), quint16(mantissa));
            QTRY_COMPARE(value("light_sensor_value").toFloat(), lux);
        }
        QTRY_COMPARE(value("ru_battery"), QVariant(100));
        QCOMPARE(log.messages(),
                 QStringList { "batteryHandler: 'ru_charge_state' tag don't exists. "
                               "Please check the config file." });

        backlight.findChild<QTimer*>("lightSensorRead")->stop();
        gauge.findChild<QTimer*>("batteryRead")->stop();
        emit m_i2c->readyReadFromI2C(0x2D, 0x00, QByteArray("\x34\x56"));
        emit m_i2c->readyReadFromI2C(0x44, 0x01, QByteArray("\x34\x56"));
        emit m_i2c->readyReadFromI2C(0x44, 0x0D, QByteArray("\x34\x56"));
        QCOMPARE(value("light_sensor_value").toFloat(), 0.01f);
        QCOMPARE(value("ru_battery"), QVariant(100));
    }
};

QTEST_GUILESS_MAIN(tst_Peripherals)
#include "tst_peripherals.moc"
