// The remote-control state machine driven through its public slots and the
// internal processor's packets, observed on the wire and in stateChanged.
#include "systemeventservice.h"
#include "wiretrace.h"

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

class tst_SystemEventService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.info=false"); }

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
};

QTEST_GUILESS_MAIN(tst_SystemEventService)
#include "tst_systemeventservice.moc"
