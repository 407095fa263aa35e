#include "notificationpeer.h"

namespace {
constexpr quint8 idMessage = 0;
constexpr quint8 idReset = 1;
constexpr quint8 idAcknowledge = 2;
constexpr quint8 idAudible = 3;

void appendLe16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}
} // namespace

NotificationPeer::NotificationPeer(InternalProcessorSim* sim, QObject* parent)
    : ServicePeer(sim, parent)
{
}

QByteArray NotificationPeer::notificationPayload(quint16 reference, quint16 notificationId,
                                                 quint8 target, quint8 severity, quint8 acknowledge,
                                                 const QByteArray& text)
{
    QByteArray payload(1, char(idMessage));
    appendLe16(payload, reference);
    appendLe16(payload, notificationId);
    payload.append(char(target));
    payload.append(char(severity));
    payload.append(char(acknowledge));
    payload.append(text);
    return payload;
}

quint8 NotificationPeer::raise(quint16 reference, quint16 notificationId, quint8 severity,
                               const QString& text, quint8 messageClass)
{
    return sendRaw(
        notificationPayload(reference, notificationId, 0, severity, 0, text.toUtf8() + '\0'),
        messageClass);
}

quint8 NotificationPeer::raisePopup(quint16 reference, quint16 notificationId, quint8 severity,
                                    const QString& text, quint8 messageClass)
{
    return sendRaw(notificationPayload(reference, notificationId, popupTarget, severity, 1,
                                       text.toUtf8() + '\0'),
                   messageClass);
}

quint8 NotificationPeer::withdraw(quint16 reference, quint8 messageClass)
{
    QByteArray payload(1, char(idReset));
    appendLe16(payload, reference);
    return sendRaw(payload, messageClass);
}

quint8 NotificationPeer::sendRaw(const QByteArray& payload, quint8 messageClass)
{
    return sim()->sendPacket(serviceId, messageClass, payload);
}

void NotificationPeer::handlePacket(const InternalProcessorSim::Packet& packet)
{
    const QByteArray& p = packet.payload;
    if (p.size() == 3 && quint8(p.at(0)) == idAcknowledge) {
        const quint16 reference = quint16(quint8(p.at(1)) | quint8(p.at(2)) << 8);
        m_acks.append(reference);
        emit acknowledged(reference);
    } else if (!p.isEmpty() && quint8(p.at(0)) == idAudible) {
        m_audible.append(p);
        emit audibleRequested(p);
    } else {
        m_unexpected.append(p);
    }
}
