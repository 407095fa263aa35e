#ifndef SYSTEMEVENTPEER_H
#define SYSTEMEVENTPEER_H

#include "servicepeer.h"
#include "systemeventservice.h"
#include "utillityfunctions.h"

// The internal processor's side of the remote-control state (service 0):
// answers the reset request and reports the outcome of forwarded requests
// by a simple policy, or sends any event on command. The event bytes are
// those of SystemEventService::Events.
class SystemEventPeer : public ServicePeer
{
    Q_OBJECT

public:
    using Events = SystemEventService::Events;

    explicit SystemEventPeer(InternalProcessorSim* sim, QObject* parent = nullptr);

    // Policy: how forwarded requests are answered.
    void setAnswerReset(bool on) { m_answerReset = on; }
    void setSelectSucceeds(bool on) { m_selectOk = on; }
    void setArmSucceeds(bool on) { m_armOk = on; }
    void setAutoReply(bool on) { m_autoReply = on; }

    // Reports an event as the internal processor does (class 1, or 2 when it
    // wants an answer).
    void sendEvent(quint8 event, quint8 messageClass = 1);

    int resetRequests() const { return m_resetRequests; }
    // The remote-control state as the internal processor holds it after the
    // events it sent, for the "state" field of its process data.
    RC_STATE_T rcState() const { return m_rcState; }

signals:
    void requestReceived(quint8 event);

protected:
    bool handles(quint8 serviceId) const override { return serviceId == 0; }
    void handlePacket(const InternalProcessorSim::Packet& packet) override;

private:
    bool m_answerReset = true;
    bool m_selectOk = true;
    bool m_armOk = true;
    bool m_autoReply = true;
    int m_resetRequests = 0;
    RC_STATE_T m_rcState = RC_STATE_WAITING;
};

#endif
