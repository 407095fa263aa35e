#include "systemeventservice.h"

#include <QMetaEnum>
#include <QProcess>
#include <QTimer>
#include <QtQml>

namespace {
const char* stateName(SystemEventService::States state)
{
    return QMetaEnum::fromType<SystemEventService::States>().valueToKey(state);
}

const char* eventName(SystemEventService::Events event)
{
    return QMetaEnum::fromType<SystemEventService::Events>().valueToKey(event);
}
} // namespace

SystemEventService::SystemEventService(QObject* parent)
    : ServiceBase(SERV_ID_SYSTEM_EVENT, parent)
    , _state(NO_RI_Link)
    , _stopTimer(new QTimer(this))
{
    qmlRegisterUncreatableType<SystemEventService>("NorvikRemote.Services", 1, 0, "SystemEvent",
                                                   "Do not instance!");
    qRegisterMetaType<SystemEventService::States>("SystemEventService::States");
    qRegisterMetaType<SystemEventService::Events>("SystemEventService::Events");
    connect(this, &SystemEventService::eventFired, this, &SystemEventService::handleEvent);

    // Without a release the remote goes back from STOP to SELECTED after a second.
    _stopTimer->setSingleShot(true);
    _stopTimer->setInterval(1000);
    connect(_stopTimer, &QTimer::timeout, this, [this] { emit eventFired(STOP_RELEASED); });

    qInfo("RGP State: %s", stateName(_state));
}

void SystemEventService::readData(const QByteArray& data, Link fromLink, quint8 messageClass)
{
    Q_UNUSED(fromLink)
    if (messageClass == MSG_CLASS_ACK) {
        handleEvent(RESET_ACK);
        return;
    }
    if (messageClass == MSG_CLASS_SERVICE_ACK) {
        // The answer pairs with the request whatever its content, so it goes
        // out even when the event byte is missing.
        emit readyReadFromService(QByteArray(), Internal, serviceId, MSG_CLASS_ACK);
    }
    if (data.isEmpty()) {
        qWarning("SystemEventService: event packet of class %u without an event byte dropped",
                 unsigned(messageClass));
        return;
    }
    // A byte that names no event must not become an Events value: the type
    // only holds what its enumerators span.
    const int code = quint8(data.at(0));
    if (!QMetaEnum::fromType<Events>().valueToKey(code)) {
        qCritical("unhandled event: %d", code);
        return;
    }
    handleEvent(static_cast<Events>(code));
}

void SystemEventService::reset()
{
    emit eventFired(RESET);
}

void SystemEventService::select()
{
    emit eventFired(SELECT);
}

void SystemEventService::unselect()
{
    emit eventFired(UNSELECT);
}

void SystemEventService::arm()
{
    emit eventFired(ARM_REQUEST);
}

void SystemEventService::disarm()
{
    emit eventFired(DISARM_REQUEST);
}

void SystemEventService::shutdown()
{
    emit eventFired(POWER_OFF);
}

void SystemEventService::exit()
{
    emit eventFired(RESET);
}

void SystemEventService::stopTriggered()
{
    emit eventFired(STOP_TRIGGERED);
}

void SystemEventService::stopReleased()
{
    emit eventFired(STOP_RELEASED);
}

void SystemEventService::internalLinkFailed()
{
    enterState(NO_RI_Link);
}

void SystemEventService::handleEvent(SystemEventService::Events event)
{
    const char* name = eventName(event);
    if (!name) {
        qCritical("unhandled event: %d", int(event));
        return;
    }
    qInfo("System Event: %s", name);

    States next = _state;
    switch (_state) {
    case NO_RI_Link:
        next = handleNoRiLinkState(event);
        break;
    case WAITING:
        next = handleWaitingState(event);
        break;
    case SELECTED:
        next = handleSelectedState(event);
        break;
    case ARMING:
        next = handleArmingState(event);
        break;
    case ARMED_ENABLED:
        next = handleArmedEnabledState(event);
        break;
    case STOP:
        next = handleStopState(event);
        break;
    case POWERING_DOWN:
        next = handlePoweringDownState(event);
        break;
    case EXIT_APPLICATION:
        next = handleExitApplicationState(event);
        break;
    }
    if (next != _state)
        enterState(next);
}

void SystemEventService::sendEvent(Events event)
{
    emit readyReadFromService(QByteArray(1, char(event)), Internal, serviceId,
                              MSG_CLASS_TRANSP_ACK);
}

void SystemEventService::sendResetEvent()
{
    emit readyReadFromService(QByteArray(1, char(0)), Internal, serviceId, MSG_CLASS_SERVICE_ACK);
}

void SystemEventService::enterState(States state)
{
    switch (state) {
    case STOP:
        _stopTimer->start();
        break;
    case POWERING_DOWN:
        qInfo("Powering down RU...");
        QProcess::execute(QStringLiteral("sync"), QStringList());
        break;
    case EXIT_APPLICATION:
        qInfo("Closing app...");
        break;
    default:
        break;
    }
    _state = state;
    emit stateChanged(state);
    qInfo("RGP State: %s", stateName(state));
}

bool SystemEventService::handleCommon(Events event, States* next)
{
    switch (event) {
    case RESET:
        sendResetEvent();
        *next = NO_RI_Link;
        return true;
    case SELECT:
    case UNSELECT:
    case ARM_REQUEST:
    case DISARM_REQUEST:
    case INACTIVITY:
    case POWER_OFF:
        sendEvent(event);
        *next = _state;
        return true;
    case SHUTDOWN:
        *next = POWERING_DOWN;
        return true;
    default:
        return false;
    }
}

SystemEventService::States SystemEventService::handleNoRiLinkState(Events event)
{
    States next = _state;
    if (handleCommon(event, &next))
        return next;
    return event == RESET_ACK ? WAITING : _state;
}

SystemEventService::States SystemEventService::handleWaitingState(Events event)
{
    States next = _state;
    if (handleCommon(event, &next))
        return next;
    return event == SELECT_OK ? SELECTED : _state;
}

SystemEventService::States SystemEventService::handleSelectedState(Events event)
{
    States next = _state;
    if (handleCommon(event, &next))
        return event == ARM_REQUEST ? ARMING : next;
    return event == UNSELECT_DONE ? WAITING : _state;
}

SystemEventService::States SystemEventService::handleArmingState(Events event)
{
    States next = _state;
    if (handleCommon(event, &next))
        return next;
    if (event == ARM_OK)
        return ARMED_ENABLED;
    return event == ARM_FAIL ? SELECTED : _state;
}

SystemEventService::States SystemEventService::handleArmedEnabledState(Events event)
{
    States next = _state;
    if (handleCommon(event, &next))
        return next;
    if (event == DISARM_DONE)
        return SELECTED;
    return event == STOP_TRIGGERED ? STOP : _state;
}

SystemEventService::States SystemEventService::handleStopState(Events event)
{
    States next = _state;
    if (handleCommon(event, &next))
        return next;
    return event == STOP_RELEASED ? SELECTED : _state;
}

SystemEventService::States SystemEventService::handlePoweringDownState(Events event)
{
    Q_UNUSED(event)
    return _state;
}

SystemEventService::States SystemEventService::handleExitApplicationState(Events event)
{
    Q_UNUSED(event)
    return _state;
}
