// The machine-stop button on a sysfs GPIO tree kept in a temporary sysroot.

#include "machinestop.h"
#include "messagelog.h"
#include "remoteworld.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class tst_MachineStop : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root; // the remote's "/"

    QString gpio(const QString& name) const { return m_root.path() + "/sys/class/gpio/" + name; }
    void put(const QString& name, const QByteArray& content)
    {
        QVERIFY(remoteworld::writeFile(gpio(name), content));
    }
    QByteArray contents(const QString& name) const { return remoteworld::readFile(gpio(name)); }

private slots:
    void initTestCase() { qputenv("NORVIK_SYSROOT", QFile::encodeName(m_root.path())); }
    void init()
    {
        QVERIFY(QDir(m_root.path() + "/sys").removeRecursively());
        QVERIFY(QDir().mkpath(gpio("gpio37")));
        put("export", "");
        put("gpio37/direction", "");
        put("gpio37/value", "1");
    }

    // Set-up failures are logged and polling starts anyway. A write to
    // /dev/full fails like the kernel's refusal of an already exported line.
    void setUp_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("refusing"); // else missing
        QTest::addColumn<QString>("warning");
        QTest::newRow("fresh line") << "" << false << "";
        QTest::newRow("line already exported")
            << "export" << true << "BGP_STOPBUTTON_GPIO_NUM already exported";
        QTest::newRow("no direction file")
            << "gpio37/direction" << false << "Not able to set GPIO direction for Machine Stop";
    }
    void setUp()
    {
        QFETCH(QString, file);
        QFETCH(bool, refusing);
        QFETCH(QString, warning);
        if (!file.isEmpty())
            QVERIFY(QFile::remove(gpio(file))
                    && (!refusing || QFile::link("/dev/full", gpio(file))));
        MessageLog log;
        MachineStop stop;
        QCOMPARE(log.messages(), warning.isEmpty() ? QStringList() : QStringList { warning });
        if (file != "export")
            QCOMPARE(contents("export"), QByteArray("37"));
        if (file != "gpio37/direction")
            QCOMPARE(contents("gpio37/direction"), QByteArray("in"));

        // Whatever the set-up gave, the timer follows the pin both ways.
        QSignalSpy pressed(&stop, &MachineStop::stopPressed);
        QSignalSpy released(&stop, &MachineStop::stopReleased);
        put("gpio37/value", "0\n");
        QTRY_COMPARE(pressed.count(), 1);
        put("gpio37/value", "1\n");
        QTRY_COMPARE(released.count(), 1);
        QCOMPARE(pressed.count(), 1);
    }

    // Samples taken by hand: "0", "1", other contents, or "<missing>" /
    // "<directory>" for a value file that cannot be opened / read. Expected:
    // the signals in order (P pressed, R released) and the warnings logged.
    void levelSequence_data()
    {
        const QString open = "Failed to read stop button gpio fd";
        const QString bad = "Error reading stop button";
        QTest::addColumn<QStringList>("samples");
        QTest::addColumn<QString>("trace");
        QTest::addColumn<QStringList>("warnings");
        QTest::newRow("held, then released")
            << QStringList { "0", "0", "1" } << "PR" << QStringList();
        QTest::newRow("missing file is pressed")
            << QStringList { "<missing>", "<missing>", "1" } << "PR" << QStringList { open, open };
        QTest::newRow("unreadable file is pressed")
            << QStringList { "<directory>", "1" } << "PR"
            << QStringList { "Failed to read stop button gpio pin", bad };
        QTest::newRow("garbage is pressed")
            << QStringList { "", "x", " 1" } << "P" << QStringList { bad, bad, bad };
        QTest::newRow("file lost while pressed")
            << QStringList { "0", "<missing>", "0", "1" } << "PR" << QStringList { open };
    }
    void levelSequence()
    {
        QFETCH(QStringList, samples);
        MachineStop stop;
        QString seen;
        connect(&stop, &MachineStop::stopPressed, this, [&seen] { seen += 'P'; });
        connect(&stop, &MachineStop::stopReleased, this, [&seen] { seen += 'R'; });
        MessageLog log;
        for (const QString& sample : samples) {
            QFile::remove(gpio("gpio37/value"));
            QDir(gpio("gpio37/value")).removeRecursively();
            if (sample == "<directory>")
                QVERIFY(QDir().mkpath(gpio("gpio37/value")));
            else if (sample != "<missing>")
                put("gpio37/value", sample.toLatin1());
            QCOMPARE(stop.checkButtonState(),
                     sample.startsWith('1') ? STOP_BUTTON_NOT_PRESSED : STOP_BUTTON_PRESSED);
        }
        QTEST(seen, "trace");
        QTEST(log.messages(), "warnings");
    }

    // A held button is reported during construction, so the next "0" is no new edge.
    void pressedAtStartUp()
    {
        put("gpio37/value", "0");
        MachineStop stop;
        QSignalSpy pressed(&stop, &MachineStop::stopPressed);
        QSignalSpy released(&stop, &MachineStop::stopReleased);
        QCOMPARE(stop.checkButtonState(), STOP_BUTTON_PRESSED);
        put("gpio37/value", "1");
        QTRY_COMPARE(released.count(), 1);
        QCOMPARE(pressed.count(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_MachineStop)
#include "tst_machinestop.moc"
