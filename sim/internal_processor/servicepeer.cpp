#include "servicepeer.h"

ServicePeer::ServicePeer(InternalProcessorSim* sim, QObject* parent)
    : QObject(parent)
    , m_sim(sim)
{
    connect(sim, &InternalProcessorSim::packetReceived, this, &ServicePeer::onPacket);
}

void ServicePeer::onPacket(const InternalProcessorSim::Packet& packet)
{
    if ((packet.messageClass == 1 || packet.messageClass == 2) && !packet.repeat
        && handles(packet.serviceId))
        handlePacket(packet);
}
