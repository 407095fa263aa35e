#ifndef SYSTEMEVENTSERVICE_H
#define SYSTEMEVENTSERVICE_H

#include "service_base.h"

#include <QMetaType>

class QTimer;

// Mirror of the remote-control state that the internal processor runs.
// Requests of the operator are forwarded as events and the state only moves
// when the internal processor confirms; the way out of NO_RI_Link is the
// reset handshake. Lives on the service thread; other threads drive it by
// emitting eventFired or invoking its slots queued.
class SystemEventService : public ServiceBase
{
    Q_OBJECT

public:
    enum States {
        NO_RI_Link = 0,
        WAITING = 1,
        SELECTED = 2,
        ARMED_ENABLED = 3,
        STOP = 4,
        POWERING_DOWN = 5,
        EXIT_APPLICATION = 6,
        ARMING = 7
    };
    Q_ENUM(States)

    // The value is the byte on the wire.
    enum Events {
        RESET = 0,
        SELECT = 1,
        UNSELECT = 2,
        ARM_REQUEST = 3,
        DISARM_REQUEST = 4,
        INACTIVITY = 5,
        POWER_OFF = 6,
        SELECT_OK = 10,
        SELECT_FAIL = 11,
        UNSELECT_DONE = 12,
        ARM_OK = 13,
        ARM_FAIL = 14,
        DISARM_DONE = 15,
        SHUTDOWN = 20,
        RESET_ACK = 100,
        STOP_TRIGGERED = 101,
        STOP_RELEASED = 102
    };
    Q_ENUM(Events)

    explicit SystemEventService(QObject* parent = nullptr);

    void readData(const QByteArray& data, Link fromLink, quint8 messageClass) override;

    States state() const { return _state; }

signals:
    void eventFired(SystemEventService::Events event);
    void stateChanged(SystemEventService::States state);

public slots:
    void reset();
    void select();
    void unselect();
    void arm();
    void disarm();
    void shutdown();
    void exit();
    void stopTriggered();
    void stopReleased();
    void internalLinkFailed();
    void handleEvent(SystemEventService::Events event);

private:
    void sendEvent(Events event);
    void sendResetEvent();
    void enterState(States state);
    States handleNoRiLinkState(Events event);
    States handleWaitingState(Events event);
    States handleSelectedState(Events event);
    States handleArmingState(Events event);
    States handleArmedEnabledState(Events event);
    States handleStopState(Events event);
    States handlePoweringDownState(Events event);
    States handleExitApplicationState(Events event);
    // What every state but the two final ones does with the same event.
    bool handleCommon(Events event, States* next);

    States _state;
    QTimer* _stopTimer;
};

Q_DECLARE_METATYPE(SystemEventService::States)
Q_DECLARE_METATYPE(SystemEventService::Events)

#endif
