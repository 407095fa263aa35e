#include "servicepeer.h"

ServicePeer::ServicePeer(InternalProcessorSim* sim, QObject* parent)
    : QObject(parent)
    , m_sim(sim)
{
    connect(sim, &InternalProcessorSim::packetReceived, this, &ServicePeer::onPacket);
}

void ServicePeer::onPacket(const InternalProcessorSim::Packet& packet)
{
    if (packet.messageClass != 1 && packet.messageClass != 2)
        return;
    const bool repeat = packet.packetNumber == m_lastNumber && packet.serviceId == m_lastService
        && packet.payload == m_lastPayload;
    m_lastNumber = packet.packetNumber;
    m_lastService = packet.serviceId;
    m_lastPayload = packet.payload;
    if (!repeat && handles(packet.serviceId))
        handlePacket(packet);
}
