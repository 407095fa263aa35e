// The I2C bus library with its worker thread, on the simulated bus.

#include "i2chandler.h"
#include "simulatedi2cbus.h"

#include <QtTest>

class tst_I2cHandler : public QObject
{
    Q_OBJECT

private:
    SimulatedI2cBus* m_bus = nullptr;

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

private slots:
    void init()
    {
        m_results.clear();
        m_bus = new SimulatedI2cBus;
        m_bus->install();
    }
    void cleanup()
    {
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
};

QTEST_GUILESS_MAIN(tst_I2cHandler)
#include "tst_i2chandler.moc"
