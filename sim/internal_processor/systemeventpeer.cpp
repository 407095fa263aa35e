#include "systemeventpeer.h"

#include "internalprocessorsim.h"

SystemEventPeer::SystemEventPeer(InternalProcessorSim* sim, QObject* parent)
    : QObject(parent)
    , m_sim(sim)
{
    m_sim->setRequestHandler(0, [this](const InternalProcessorSim::Packet&) {
        ++m_resetRequests;
        return m_answerReset ? std::optional<QByteArray>(QByteArray()) : std::nullopt;
    });
    connect(m_sim, &InternalProcessorSim::packetReceived, this,
            [this](const InternalProcessorSim::Packet& p) {
                if (p.serviceId != 0 || p.messageClass != 1 || p.payload.isEmpty())
                    return;
                const quint8 event = quint8(p.payload.at(0));
                emit requestReceived(event);
                if (!m_autoReply)
                    return;
                switch (event) {
                case SELECT:
                    sendEvent(m_selectOk ? SELECT_OK : SELECT_FAIL);
                    break;
                case UNSELECT:
                    sendEvent(UNSELECT_DONE);
                    break;
                case ARM_REQUEST:
                    sendEvent(m_armOk ? ARM_OK : ARM_FAIL);
                    break;
                case DISARM_REQUEST:
                    sendEvent(DISARM_DONE);
                    break;
                case POWER_OFF:
                    sendEvent(SHUTDOWN);
                    break;
                default:
                    break;
                }
            });
}

void SystemEventPeer::sendEvent(quint8 event, quint8 messageClass)
{
    m_sim->sendPacket(0, messageClass, QByteArray(1, char(event)));
}
