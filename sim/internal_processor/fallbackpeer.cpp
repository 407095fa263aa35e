#include "fallbackpeer.h"

#include <QTimer>

FallbackPeer::FallbackPeer(InternalProcessorSim* sim, QObject* parent)
    : ServicePeer(sim, parent)
{
}

QByteArray FallbackPeer::ruzadMessage(quint8 id, int payloadSize, quint32 timestamp)
{
    QByteArray message("LrdA");
    message.append(char(id));
    message.append('\0');
    message.append(char(payloadSize & 0xFF));
    message.append(char((payloadSize >> 8) & 0xFF));
    for (int shift = 0; shift < 32; shift += 8)
        message.append(char((timestamp >> shift) & 0xFF));
    for (int i = 0; i < payloadSize; ++i)
        message.append(char((i * 7 + id) % 251));
    return message;
}

quint8 FallbackPeer::confirm(quint8 messageClass)
{
    return sim()->sendPacket(tunnelId, messageClass, QByteArray());
}

quint8 FallbackPeer::sendTunnelData(const QByteArray& data, quint8 messageClass)
{
    return sim()->sendPacket(tunnelId, messageClass, data);
}

quint8 FallbackPeer::sendServiceForward(const QByteArray& data, quint8 messageClass)
{
    return sim()->sendPacket(serviceForwardId, messageClass, data);
}

QByteArray FallbackPeer::tunnelBytes() const
{
    QByteArray all;
    for (const QByteArray& block : m_blocks)
        all += block;
    return all;
}

void FallbackPeer::handlePacket(const InternalProcessorSim::Packet& packet)
{
    if (packet.serviceId == serviceForwardId) {
        m_serviceForward.append(packet.payload);
        emit serviceForwardReceived(packet.payload);
        return;
    }
    if (packet.payload.isEmpty()) {
        ++m_aborts;
        emit abortReceived();
        return;
    }
    m_blocks.append(packet.payload);
    emit blockReceived(packet.payload);
    if (m_confirmDelayMs == 0)
        confirm();
    else if (m_confirmDelayMs > 0)
        QTimer::singleShot(m_confirmDelayMs, this, [this] { confirm(); });
}
