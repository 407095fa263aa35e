// The remote-control state machine driven through every state and event,
// checked against the transition table: next state, what goes to the
// internal processor, and whether stateChanged is emitted.
#include "systemeventservice.h"

#include <QtTest>

using S = SystemEventService::States;
using E = SystemEventService::Events;

namespace {
// What an event does in a state: F forwards it (class 1), R sends the reset
// request (class 2), '-' sends nothing.
struct Cell
{
    char send;
    S next;
};

const S states[] = { S::NO_RI_Link,    S::WAITING, S::SELECTED,     S::ARMING,
                     S::ARMED_ENABLED, S::STOP,    S::POWERING_DOWN };

Cell expected(S state, E event)
{
    if (state == S::POWERING_DOWN)
        return { '-', state };
    switch (event) {
    case E::RESET:
        return { 'R', S::NO_RI_Link };
    case E::SELECT:
    case E::UNSELECT:
    case E::DISARM_REQUEST:
    case E::INACTIVITY:
    case E::POWER_OFF:
        return { 'F', state };
    case E::ARM_REQUEST:
        return { 'F', state == S::SELECTED ? S::ARMING : state };
    case E::SELECT_OK:
        return { '-', state == S::WAITING ? S::SELECTED : state };
    case E::UNSELECT_DONE:
        return { '-', state == S::SELECTED ? S::WAITING : state };
    case E::ARM_OK:
        return { '-', state == S::ARMING ? S::ARMED_ENABLED : state };
    case E::ARM_FAIL:
        return { '-', state == S::ARMING ? S::SELECTED : state };
    case E::DISARM_DONE:
        return { '-', state == S::ARMED_ENABLED ? S::SELECTED : state };
    case E::SHUTDOWN:
        return { '-', S::POWERING_DOWN };
    case E::RESET_ACK:
        return { '-', state == S::NO_RI_Link ? S::WAITING : state };
    case E::STOP_TRIGGERED:
        return { '-', state == S::ARMED_ENABLED ? S::STOP : state };
    case E::STOP_RELEASED:
        return { '-', state == S::STOP ? S::SELECTED : state };
    default:
        return { '-', state };
    }
}

// Events the internal processor reports, as they arrive on the link.
void feed(SystemEventService& s, E event)
{
    s.readData(QByteArray(1, char(event)), Internal, 1);
}

void driveTo(SystemEventService& s, S target)
{
    if (target == S::NO_RI_Link)
        return;
    if (target == S::POWERING_DOWN) {
        feed(s, E::SHUTDOWN);
        return;
    }
    s.readData(QByteArray(), Internal, 3); // answer to the reset request
    if (target == S::WAITING)
        return;
    feed(s, E::SELECT_OK);
    if (target == S::SELECTED)
        return;
    s.handleEvent(E::ARM_REQUEST);
    if (target == S::ARMING)
        return;
    feed(s, E::ARM_OK);
    if (target == S::ARMED_ENABLED)
        return;
    s.handleEvent(E::STOP_TRIGGERED);
}
} // namespace

class tst_SystemEventService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Entering POWERING_DOWN runs sync; keep the log quiet otherwise.
        QLoggingCategory::setFilterRules("default.info=false");
    }

    void transitionTable_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("event");
        const QMetaEnum se = QMetaEnum::fromType<S>();
        const QMetaEnum ee = QMetaEnum::fromType<E>();
        for (S state : states)
            for (int i = 0; i < ee.keyCount(); ++i)
                QTest::addRow("%s/%s", se.valueToKey(state), ee.key(i))
                    << int(state) << ee.value(i);
    }
    void transitionTable()
    {
        QFETCH(int, state);
        QFETCH(int, event);
        SystemEventService service;
        driveTo(service, S(state));
        QCOMPARE(service.state(), S(state));

        QSignalSpy sent(&service, &ServiceBase::readyReadFromService);
        QSignalSpy changed(&service, &SystemEventService::stateChanged);
        service.handleEvent(E(event));
        const Cell cell = expected(S(state), E(event));

        QCOMPARE(service.state(), cell.next);
        QCOMPARE(changed.count(), cell.next != S(state) ? 1 : 0);
        if (cell.send == '-') {
            QCOMPARE(sent.count(), 0);
        } else {
            QCOMPARE(sent.count(), 1);
            const QByteArray payload = sent.at(0).at(0).toByteArray();
            QCOMPARE(sent.at(0).at(2).toUInt(), 0u); // service id
            QCOMPARE(sent.at(0).at(3).toUInt(), cell.send == 'F' ? 1u : 2u);
            QCOMPARE(payload, QByteArray(1, char(cell.send == 'F' ? event : 0)));
        }
    }

    void packetsFromTheInternalProcessor()
    {
        SystemEventService service;
        QSignalSpy sent(&service, &ServiceBase::readyReadFromService);
        QSignalSpy changed(&service, &SystemEventService::stateChanged);

        // Any class-3 payload is the answer to the reset request.
        service.readData(QByteArray("\x37\x42"), Internal, 3);
        QCOMPARE(service.state(), S::WAITING);

        // A class-2 event is answered with an empty class-3 payload first.
        connect(&service, &SystemEventService::stateChanged, this,
                [&] { QCOMPARE(sent.count(), 1); });
        service.readData(QByteArray(1, char(E::SELECT_OK)) + "extra", Internal, 2);
        QCOMPARE(service.state(), S::SELECTED);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.at(0).at(0).toByteArray(), QByteArray());
        QCOMPARE(sent.at(0).at(3).toUInt(), 3u);
        QCOMPARE(changed.count(), 2);
    }

    void badEventBytes()
    {
        SystemEventService service;
        driveTo(service, S::SELECTED);
        QSignalSpy sent(&service, &ServiceBase::readyReadFromService);
        QSignalSpy changed(&service, &SystemEventService::stateChanged);

        QTest::ignoreMessage(QtCriticalMsg, "unhandled event: 7");
        service.readData(QByteArray(1, char(7)), Internal, 1);
        QTest::ignoreMessage(QtCriticalMsg, "unhandled event: 250");
        service.readData(QByteArray(1, char(250)), Internal, 1);

        QTest::ignoreMessage(
            QtWarningMsg,
            "SystemEventService: event packet of class 1 without an event byte dropped");
        service.readData(QByteArray(), Internal, 1);
        // A request without an event byte is still answered, so pairing holds.
        QTest::ignoreMessage(
            QtWarningMsg,
            "SystemEventService: event packet of class 2 without an event byte dropped");
        service.readData(QByteArray(), Internal, 2);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.at(0).at(3).toUInt(), 3u);

        QCOMPARE(service.state(), S::SELECTED);
        QCOMPARE(changed.count(), 0);
    }

    void stopReleasesAfterOneSecond()
    {
        SystemEventService service;
        driveTo(service, S::SELECTED);
        service.stopTriggered(); // ignored unless armed
        QCOMPARE(service.state(), S::SELECTED);

        driveTo(service, S::NO_RI_Link);
        service.handleEvent(E::ARM_REQUEST);
        feed(service, E::ARM_OK);
        QCOMPARE(service.state(), S::ARMED_ENABLED);
        QElapsedTimer clock;
        clock.start();
        service.stopTriggered();
        QCOMPARE(service.state(), S::STOP);
        QTRY_COMPARE_WITH_TIMEOUT(service.state(), S::SELECTED, 5000);
        QVERIFY2(clock.elapsed() >= 950, qPrintable(QString::number(clock.elapsed())));

        // An early release wins over the timer.
        service.handleEvent(E::ARM_REQUEST);
        feed(service, E::ARM_OK);
        service.stopTriggered();
        service.stopReleased();
        QCOMPARE(service.state(), S::SELECTED);
    }

    void linkFailureAlwaysReported()
    {
        SystemEventService service;
        QSignalSpy changed(&service, &SystemEventService::stateChanged);
        QSignalSpy sent(&service, &ServiceBase::readyReadFromService);
        service.internalLinkFailed();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<S>(), S::NO_RI_Link);
        driveTo(service, S::ARMED_ENABLED);
        sent.clear();
        service.internalLinkFailed();
        QCOMPARE(service.state(), S::NO_RI_Link);
        QCOMPARE(sent.count(), 0); // no reset request on failure
    }

    void logTexts()
    {
        QLoggingCategory::setFilterRules("default.info=true");
        QTest::ignoreMessage(QtInfoMsg, "RGP State: NO_RI_Link");
        SystemEventService service;
        QTest::ignoreMessage(QtInfoMsg, "System Event: RESET_ACK");
        QTest::ignoreMessage(QtInfoMsg, "RGP State: WAITING");
        service.readData(QByteArray(), Internal, 3);
        QTest::ignoreMessage(QtInfoMsg, "System Event: SHUTDOWN");
        QTest::ignoreMessage(QtInfoMsg, "Powering down RU...");
        QTest::ignoreMessage(QtInfoMsg, "RGP State: POWERING_DOWN");
        feed(service, E::SHUTDOWN);
        QLoggingCategory::setFilterRules("default.info=false");
    }
};

QTEST_GUILESS_MAIN(tst_SystemEventService)
#include "tst_systemeventservice.moc"
