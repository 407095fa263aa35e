#ifndef FALLBACKPEER_H
#define FALLBACKPEER_H

#include "servicepeer.h"

#include <QList>

// The internal processor's side of services 4 and 5: relays service-forward
// bytes, confirms tunnel blocks with an empty payload (at once, later, or
// not at all) and sends tunnel data back.
class FallbackPeer : public ServicePeer
{
    Q_OBJECT

public:
    static constexpr quint8 serviceForwardId = 4;
    static constexpr quint8 tunnelId = 5;
    // R-Uzad message ids the tunnel tells apart.
    static constexpr quint8 ruzadHeartbeat = 0;
    static constexpr quint8 ruzadCmd = 3;
    static constexpr quint8 ruzadPeriodicData = 4;

    explicit FallbackPeer(InternalProcessorSim* sim, QObject* parent = nullptr);

    // A serialized R-Uzad message: 12-byte header ("LrdA", id, spare, size,
    // timestamp) and `payloadSize` bytes of a counting pattern.
    static QByteArray ruzadMessage(quint8 id, int payloadSize, quint32 timestamp = 0x01020304);

    // Confirm every block by itself after `delayMs` (negative: never).
    void setAutoConfirm(int delayMs) { m_confirmDelayMs = delayMs; }
    // Each returns the packet number used.
    quint8 confirm(quint8 messageClass = 1);
    quint8 sendTunnelData(const QByteArray& data, quint8 messageClass = 1);
    quint8 sendServiceForward(const QByteArray& data, quint8 messageClass = 1);

    QList<QByteArray> blocks() const { return m_blocks; }
    // All blocks received so far, joined.
    QByteArray tunnelBytes() const;
    int aborts() const { return m_aborts; }
    QList<QByteArray> serviceForward() const { return m_serviceForward; }

signals:
    void blockReceived(const QByteArray& block);
    void abortReceived();
    void serviceForwardReceived(const QByteArray& data);

protected:
    bool handles(quint8 id) const override { return id == serviceForwardId || id == tunnelId; }
    void handlePacket(const InternalProcessorSim::Packet& packet) override;

private:
    int m_confirmDelayMs = -1;
    QList<QByteArray> m_blocks;
    int m_aborts = 0;
    QList<QByteArray> m_serviceForward;
};

#endif
