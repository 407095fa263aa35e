// The remote-control state machine driven through its public slots and the
// internal processor's packets, observed on the wire and in stateChanged; and the
// machine-stop button that stops it, on a sysfs GPIO tree kept in a temporary sysroot.
#include "machinestop.h"
#include "messagelog.h"
#include "remoteworld.h"
#include "systemeventservice.h"
#include "wiretrace.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using S = SystemEventService::States;
using E = SystemEventService::Events;
using Service = SystemEventService;

namespace {
const auto link = [](Service& s, E event, quint8 cls = 1) {
    s.readData(QByteArray(1, char(event)), Internal, cls);
};
// clang-format off
const S states[] = { S::NO_RI_Link, S::WAITING, S::SELECTED, S::ARMING, S::ARMED_ENABLED, S::STOP, S::POWERING_DOWN };
const char letters[] = "NWSAETP"; // the states above, the columns of `next` below
const struct Input {
    const char* name;
    void (*fire)(Service&);
    const char* wire; // what the service sends, unless the state's column holds '-'
    const char* next; // per state: '.' or '-' stays silently, a letter enters that state
} inputs[] = {
    { "reset()",         [](Service& s) { s.reset(); },                   "tx 0/2:00", ".NNNNN-" },
    { "exit()",          [](Service& s) { s.exit(); },                    "tx 0/2:00", ".NNNNN-" },
    { "select()",        [](Service& s) { s.select(); },                  "tx 0/1:01", "......-" },
    { "unselect()",      [](Service& s) { s.unselect(); },                "tx 0/1:02", "......-" },
    { "arm()",           [](Service& s) { s.arm(); },                     "tx 0/1:03", "..A...-" },
    { "disarm()",        [](Service& s) { s.disarm(); },                  "tx 0/1:04", "......-" },
    { "INACTIVITY",      [](Service& s) { emit s.eventFired(E::INACTIVITY); }, "tx 0/1:05", "......-" },
    { "shutdown()",      [](Service& s) { s.shutdown(); },                "tx 0/1:06", "......-" },
    { "reset answer",    [](Service& s) { s.readData("\x07", Internal, 3); }, "",      "W......" },
    { "SELECT_OK",       [](Service& s) { link(s, E::SELECT_OK); },       "",          ".S....." },
    { "UNSELECT_DONE",   [](Service& s) { link(s, E::UNSELECT_DONE); },   "",          "..W...." },
    { "ARM_OK",          [](Service& s) { link(s, E::ARM_OK); },          "",          "...E..." },
    { "ARM_FAIL",        [](Service& s) { link(s, E::ARM_FAIL); },        "",          "...S..." },
    { "DISARM_DONE",     [](Service& s) { link(s, E::DISARM_DONE); },     "",          "....S.." },
    { "stopTriggered()", [](Service& s) { s.stopTriggered(); },           "",          "....T.." },
    { "stopReleased()",  [](Service& s) { s.stopReleased(); },            "",          ".....S." },
    { "SHUTDOWN",        [](Service& s) { link(s, E::SHUTDOWN); },        "",          "PPPPPP." },
    { "link failure",    [](Service& s) { s.internalLinkFailed(); },      "",          "NNNNNNN" },
    // A request is answered once, before it is handled, whatever it holds.
    { "ARM_OK request",  [](Service& s) { link(s, E::ARM_OK, 2); },       "tx 0/3:",   "...E..." },
    { "empty request",   [](Service& s) { QTest::ignoreMessage(QtWarningMsg, "SystemEventService: event packet of class 2 without an event byte dropped"); s.readData({}, Internal, 2); }, "tx 0/3:", "......." },
    { "empty packet",    [](Service& s) { QTest::ignoreMessage(QtWarningMsg, "SystemEventService: event packet of class 1 without an event byte dropped"); s.readData({}, Internal, 1); }, "", "......." },
    { "unknown request", [](Service& s) { QTest::ignoreMessage(QtCriticalMsg, "unhandled event: 250"); link(s, E(250), 2); }, "tx 0/3:", "......." },
    { "unknown event",   [](Service& s) { QTest::ignoreMessage(QtCriticalMsg, "unhandled event: 7"); link(s, E(7)); }, "", "......." },
};
// clang-format on

// A machine in states[target], driven there by the first input leading on from each state.
struct Machine : Service
{
    WireTrace trace { this };
    explicit Machine(int target)
    {
        trace.note(this, &Service::stateChanged, "enter");
        for (int k = 0; k < target; ++k)
            std::find_if(std::begin(inputs), std::end(inputs), [k](const Input& in) {
                return in.next[k] == letters[k + 1];
            })->fire(*this);
        trace.log.clear();
    }
};
} // namespace

class tst_SystemEvent : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root; // the remote's "/"

    QString gpio(const QString& name) const { return m_root.path() + "/sys/class/gpio/" + name; }
    void put(const QString& name, const QByteArray& content)
    {
        QVERIFY(remoteworld::writeFile(gpio(name), content));
    }
    QByteArray contents(const QString& name) const { return remoteworld::readFile(gpio(name)); }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("default.info=false");
        qputenv("NORVIK_SYSROOT", QFile::encodeName(m_root.path()));
    }
    void init()
    {
        QVERIFY(QDir(m_root.path() + "/sys").removeRecursively());
        QVERIFY(QDir().mkpath(gpio("gpio37")));
        put("export", "");
        put("gpio37/direction", "");
        put("gpio37/value", "1");
    }

    void transitions_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("from");
        for (int i = 0; i < int(std::size(inputs)); ++i)
            for (int k = 0; k < int(std::size(states)); ++k)
                QTest::addRow("%s in %s", inputs[i].name, qPrintable(WireTrace::text(states[k])))
                    << i << k;
    }
    void transitions()
    {
        QFETCH(int, input);
        QFETCH(int, from);
        const Input& in = inputs[input];
        Machine machine(from);
        QCOMPARE(machine.state(), states[from]);
        in.fire(machine);
        const char next = in.next[from];
        QStringList expected = *in.wire && next != '-' ? QStringList(in.wire) : QStringList();
        if (isupper(next))
            expected << "enter " + WireTrace::text(states[strchr(letters, next) - letters]);
        QCOMPARE(machine.trace.log, expected);
    }

    void stopReleasedAfterOneSecond()
    {
        QElapsedTimer clock;
        clock.start();
        Machine machine(5);
        QTRY_COMPARE_WITH_TIMEOUT(machine.trace.log, QStringList("enter SELECTED"), 5000);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
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

QTEST_GUILESS_MAIN(tst_SystemEvent)
#include "tst_systemevent.moc"
