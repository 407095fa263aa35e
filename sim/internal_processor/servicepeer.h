#ifndef SERVICEPEER_H
#define SERVICEPEER_H

#include "internalprocessorsim.h"

#include <QObject>

// The internal processor's side of one or more services, built around the
// stand-in's line. A subclass sees each data packet of the library once:
// retransmissions of a packet whose acknowledgement came late are filtered.
class ServicePeer : public QObject
{
    Q_OBJECT

public:
    explicit ServicePeer(InternalProcessorSim* sim, QObject* parent = nullptr);

    InternalProcessorSim* sim() const { return m_sim; }

protected:
    virtual bool handles(quint8 serviceId) const = 0;
    // A class-1 or class-2 packet of the library for one of our services.
    virtual void handlePacket(const InternalProcessorSim::Packet& packet) = 0;

private:
    void onPacket(const InternalProcessorSim::Packet& packet);

    InternalProcessorSim* m_sim;
};

#endif
