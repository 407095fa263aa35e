#include "systemeventpeer.h"

#include "internalprocessorsim.h"

SystemEventPeer::SystemEventPeer(InternalProcessorSim* sim, QObject* parent)
    : ServicePeer(sim, parent)
{
    sim->setRequestHandler(0, [this](const InternalProcessorSim::Packet& request) {
        if (!request.repeat)
            ++m_resetRequests;
        return m_answerReset ? std::optional<QByteArray>(QByteArray()) : std::nullopt;
    });
}

// Forwarded requests are answered by the policy; each counts once even when
// the library repeats it because an acknowledgement came late.
void SystemEventPeer::handlePacket(const InternalProcessorSim::Packet& p)
{
    if (p.messageClass != 1 || p.payload.isEmpty())
        return;
    const quint8 event = quint8(p.payload.at(0));
    emit requestReceived(event);
    if (!m_autoReply)
        return;
    switch (event) {
    case Events::SELECT:
        sendEvent(m_selectOk ? Events::SELECT_OK : Events::SELECT_FAIL);
        break;
    case Events::UNSELECT:
        sendEvent(Events::UNSELECT_DONE);
        break;
    case Events::ARM_REQUEST:
        sendEvent(m_armOk ? Events::ARM_OK : Events::ARM_FAIL);
        break;
    case Events::DISARM_REQUEST:
        sendEvent(Events::DISARM_DONE);
        break;
    case Events::POWER_OFF:
        sendEvent(Events::SHUTDOWN);
        break;
    default:
        break;
    }
}

void SystemEventPeer::sendEvent(quint8 event, quint8 messageClass)
{
    sim()->sendPacket(0, messageClass, QByteArray(1, char(event)));
    // A failed selection leaves the processor waiting rather than failed: a
    // failed state in process data would hold the remote in a machine stop.
    switch (event) {
    case Events::RESET:
    case Events::SELECT_FAIL:
    case Events::UNSELECT_DONE:
        m_rcState = RC_STATE_WAITING;
        break;
    case Events::SELECT_OK:
    case Events::ARM_FAIL:
    case Events::DISARM_DONE:
        m_rcState = RC_STATE_SELECTED;
        break;
    case Events::ARM_OK:
        m_rcState = RC_STATE_ARMED;
        break;
    case Events::SHUTDOWN:
        m_rcState = RC_STATE_POWERING_DOWN;
        break;
    default:
        break;
    }
}
