// The machine-stop button on a sysfs GPIO tree kept in a temporary sysroot.

#include "machinestop.h"
#include "tempsysroot.h"
#include "warninglog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const char* const kOpenFailed = "Failed to read stop button gpio fd";
const char* const kReadFailed = "Failed to read stop button gpio pin";
const char* const kBadLevel = "Error reading stop button";
} // namespace

class tst_MachineStop : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setUp_data();
    void setUp();
    void levelSequence_data();
    void levelSequence();
    void pressedAtStartUp();
    void pollingFollowsTheFile();
    void vanishedFileWarnsEveryPollAndStopsOnce();

private:
    QString gpio(const QString& name) const { return m_root->path() + "/sys/class/gpio/" + name; }
    void writeLevel(const QByteArray& level)
    {
        QFile file(gpio("gpio37/value"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(level), qint64(level.size()));
    }
    // A sysroot with the export, direction and value files of line 37.
    void makeGpioTree(const QByteArray& level)
    {
        QVERIFY(QDir().mkpath(gpio("gpio37")));
        QFile exportFile(gpio("export"));
        QVERIFY(exportFile.open(QIODevice::WriteOnly));
        exportFile.close();
        QFile direction(gpio("gpio37/direction"));
        QVERIFY(direction.open(QIODevice::WriteOnly));
        direction.close();
        writeLevel(level);
    }
    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    std::unique_ptr<TempSysroot> m_root;
};

void tst_MachineStop::init()
{
    m_root = std::make_unique<TempSysroot>();
    QVERIFY(m_root->isValid());
}

void tst_MachineStop::cleanup()
{
    m_root.reset();
}

// Set-up failures are logged and polling starts anyway. A write to /dev/full
// fails like the kernel's refusal of an already exported line.
void tst_MachineStop::setUp_data()
{
    QTest::addColumn<QString>("exportFile"); // "file", "missing" or "refusing"
    QTest::addColumn<QString>("directionFile");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("fresh line") << "file"
                                << "file" << QStringList();
    QTest::newRow("no export file")
        << "missing"
        << "file" << QStringList { "Not able to get GPIO for Machine Stop" };
    QTest::newRow("line already exported")
        << "refusing"
        << "file" << QStringList { "BGP_STOPBUTTON_GPIO_NUM already exported" };
    QTest::newRow("no direction file")
        << "file"
        << "missing" << QStringList { "Not able to set GPIO direction for Machine Stop" };
    QTest::newRow("direction refused")
        << "file"
        << "refusing" << QStringList { "Not able to set GPIO direction for Machine Stop" };
    QTest::newRow("nothing there")
        << "missing"
        << "missing"
        << QStringList { "Not able to get GPIO for Machine Stop",
                         "Not able to set GPIO direction for Machine Stop" };
}

void tst_MachineStop::setUp()
{
    QFETCH(QString, exportFile);
    QFETCH(QString, directionFile);
    QFETCH(QStringList, warnings);

    makeGpioTree("1");
    const auto prepare = [](const QString& path, const QString& how) {
        if (how == "file")
            return true;
        if (!QFile::remove(path))
            return false;
        return how == "missing" || QFile::link("/dev/full", path);
    };
    QVERIFY(prepare(gpio("export"), exportFile));
    QVERIFY(prepare(gpio("gpio37/direction"), directionFile));

    WarningLog log;
    MachineStop stop;
    QCOMPARE(log.messages(), warnings);
    if (exportFile == "file")
        QCOMPARE(contents(gpio("export")), QByteArray("37"));
    if (directionFile == "file")
        QCOMPARE(contents(gpio("gpio37/direction")), QByteArray("in"));

    // Whatever the set-up gave, the button is still watched.
    QSignalSpy pressed(&stop, &MachineStop::stopPressed);
    writeLevel("0");
    QTRY_COMPARE(pressed.count(), 1);
}

// Samples taken by hand, one per entry: "0", "1", other file contents, or
// "<missing>" / "<directory>" for a value file that cannot be opened / read.
// Expected: the signals in order, P for pressed and R for released, and the
// warnings logged on the way.
void tst_MachineStop::levelSequence_data()
{
    QTest::addColumn<QStringList>("samples");
    QTest::addColumn<QString>("signalTrace");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("stays released") << QStringList { "1", "1", "1\n" } << "" << QStringList();
    QTest::newRow("press held, then released")
        << QStringList { "0", "0", "1" } << "PR" << QStringList();
    QTest::newRow("press, release, press again")
        << QStringList { "0\n", "1\n", "0\n", "1\n" } << "PRPR" << QStringList();
    QTest::newRow("missing file counts as pressed")
        << QStringList { "<missing>", "<missing>", "1" } << "PR"
        << QStringList { kOpenFailed, kOpenFailed };
    QTest::newRow("unreadable file counts as pressed")
        << QStringList { "<directory>", "1" } << "PR" << QStringList { kReadFailed, kBadLevel };
    QTest::newRow("empty file counts as pressed")
        << QStringList { "" } << "P" << QStringList { kBadLevel };
    QTest::newRow("garbage counts as pressed") << QStringList { "x", "\x01", " 1" } << "P"
                                               << QStringList { kBadLevel, kBadLevel, kBadLevel };
    QTest::newRow("pressed, then file lost: no second press")
        << QStringList { "0", "<missing>", "0", "1" } << "PR" << QStringList { kOpenFailed };
}

void tst_MachineStop::levelSequence()
{
    QFETCH(QStringList, samples);
    QFETCH(QString, signalTrace);
    QFETCH(QStringList, warnings);

    makeGpioTree("1");
    MachineStop stop;
    QString trace;
    connect(&stop, &MachineStop::stopPressed, this, [&trace] { trace += 'P'; });
    connect(&stop, &MachineStop::stopReleased, this, [&trace] { trace += 'R'; });

    WarningLog log;
    const QString value = gpio("gpio37/value");
    for (const QString& sample : samples) {
        QFile::remove(value);
        QDir(value).removeRecursively();
        if (sample == "<directory>")
            QVERIFY(QDir().mkpath(value));
        else if (sample != "<missing>")
            writeLevel(sample.toLatin1());

        const QString before = trace;
        const STOPBUTTON_STATE state = stop.checkButtonState();
        QCOMPARE(state, sample.startsWith('1') ? STOP_BUTTON_NOT_PRESSED : STOP_BUTTON_PRESSED);
        QVERIFY2(trace.size() - before.size() <= 1, qPrintable(sample));
    }
    QCOMPARE(trace, signalTrace);
    QCOMPARE(log.messages(), warnings);
}

// The pin is read once during construction, so a held button is already
// known: the next "0" is no new edge and the first "1" releases it.
void tst_MachineStop::pressedAtStartUp()
{
    makeGpioTree("0");
    MachineStop stop;
    QSignalSpy pressed(&stop, &MachineStop::stopPressed);
    QSignalSpy released(&stop, &MachineStop::stopReleased);
    QCOMPARE(stop.checkButtonState(), STOP_BUTTON_PRESSED);
    QCOMPARE(pressed.count(), 0);

    writeLevel("1");
    QTRY_COMPARE(released.count(), 1);
    QCOMPARE(pressed.count(), 0);
}

void tst_MachineStop::pollingFollowsTheFile()
{
    makeGpioTree("1");
    MachineStop stop;
    QSignalSpy pressed(&stop, &MachineStop::stopPressed);
    QSignalSpy released(&stop, &MachineStop::stopReleased);

    for (int round = 1; round <= 3; ++round) {
        writeLevel("0");
        QTRY_COMPARE(pressed.count(), round);
        QCOMPARE(released.count(), round - 1);
        writeLevel("1");
        QTRY_COMPARE(released.count(), round);
        QCOMPARE(pressed.count(), round);
    }
}

// A value file that vanishes while running gives one warning per poll and a
// single stop. The warnings also pace the poll: five of them span at least
// four periods of 250 ms (lower bound only; a loaded machine is only slower).
void tst_MachineStop::vanishedFileWarnsEveryPollAndStopsOnce()
{
    makeGpioTree("1");
    MachineStop stop;
    QSignalSpy pressed(&stop, &MachineStop::stopPressed);
    QSignalSpy released(&stop, &MachineStop::stopReleased);

    WarningLog log;
    QVERIFY(QFile::remove(gpio("gpio37/value")));
    QTRY_COMPARE_WITH_TIMEOUT(log.messages().size() >= 1, true, 10000);
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    QTRY_COMPARE_WITH_TIMEOUT(log.messages().size() >= 5, true, 20000);
    QVERIFY2(sinceFirst.elapsed() >= 4 * 250 * 8 / 10,
             qPrintable(QString::number(sinceFirst.elapsed())));
    QStringList distinct = log.messages();
    distinct.removeDuplicates();
    QCOMPARE(distinct, QStringList { kOpenFailed });
    QCOMPARE(pressed.count(), 1);

    writeLevel("1");
    QTRY_COMPARE(released.count(), 1);
    QCOMPARE(pressed.count(), 1);
}

QTEST_GUILESS_MAIN(tst_MachineStop)
#include "tst_machinestop.moc"
