#ifndef NOTIFICATIONPEER_H
#define NOTIFICATIONPEER_H

#include "servicepeer.h"

#include <QList>

// The internal processor's side of service 3: raises notifications, popups
// and withdrawals, and records the acknowledgements and the vibration and
// buzzer requests it gets.
class NotificationPeer : public ServicePeer
{
    Q_OBJECT

public:
    static constexpr quint8 serviceId = 3;
    static constexpr quint8 popupTarget = 2;

    explicit NotificationPeer(InternalProcessorSim* sim, QObject* parent = nullptr);

    // Payload of a notification; `text` goes as it is (no terminator added).
    static QByteArray notificationPayload(quint16 reference, quint16 notificationId, quint8 target,
                                          quint8 severity, quint8 acknowledge,
                                          const QByteArray& text);

    // Each returns the packet number used.
    quint8 raise(quint16 reference, quint16 notificationId, quint8 severity, const QString& text,
                 quint8 messageClass = 1);
    quint8 raisePopup(quint16 reference, quint16 notificationId, quint8 severity,
                      const QString& text, quint8 messageClass = 1);
    quint8 withdraw(quint16 reference, quint8 messageClass = 1);
    quint8 sendRaw(const QByteArray& payload, quint8 messageClass = 1);

    QList<quint16> acknowledgements() const { return m_acks; }
    // Whole payloads of the vibration and buzzer requests, as on the wire.
    QList<QByteArray> audibleRequests() const { return m_audible; }
    // Payloads that were neither.
    QList<QByteArray> unexpected() const { return m_unexpected; }
    void clearReceived()
    {
        m_acks.clear();
        m_audible.clear();
        m_unexpected.clear();
    }

signals:
    void acknowledged(quint16 reference);
    void audibleRequested(const QByteArray& payload);

protected:
    bool handles(quint8 id) const override { return id == serviceId; }
    void handlePacket(const InternalProcessorSim::Packet& packet) override;

private:
    QList<quint16> m_acks;
    QList<QByteArray> m_audible;
    QList<QByteArray> m_unexpected;
};

#endif
