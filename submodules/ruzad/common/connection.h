#ifndef RUZAD_CONNECTION_H
#define RUZAD_CONNECTION_H

#include "message.h"

#include <QByteArray>
#include <QTcpSocket>
#include <QTimer>
#include <QVector>

#include <atomic>

namespace RUzad {

// The TCP socket to the base unit plus everything that turns byte streams into messages.
// Bytes from the socket and bytes tunnelled through the internal link's fallback are two
// independent streams parsed by the same code; they share only the stale-message clock.
class Connection : public QTcpSocket
{
    Q_OBJECT

public:
    static constexpr int HEARTBEAT_INTERVAL_MS = 250;
    static constexpr int TCP_INACTIVITY_MS = 2000;

    Connection(quint32 baseId, quint32 remoteId, const QByteArray& checksum,
               QObject* parent = nullptr);
    ~Connection() override;

    quint32 baseId() const { return _baseId; }
    void setBaseId(quint32 baseId) { _baseId = static_cast<quint16>(baseId); }
    quint32 remoteId() const { return _remoteId; }
    void setRemoteId(quint32 remoteId) { _remoteId = static_cast<quint16>(remoteId); }
    QByteArray checksum() const { return _checksum; }
    void setChecksum(const QByteArray& checksum) { _checksum = checksum; }
    bool isTcpActive() const { return _tcp_timer->isActive(); }
    bool isFallbackActive() const { return _fallback_active; }

    // Counted on the connection's thread; safe to read from any thread.
    // TCP connections established since construction.
    quint64 connectionCount() const { return _connections.load(std::memory_order_relaxed); }
    // Received bytes thrown away, one count per message or stretch: bytes that hold no message
    // (before a message start, or a read without one), messages filtered as stale, of an
    // unknown id, or following a refused handshake in the same read, an incomplete message
    // discarded when its stream ended or timed out, an empty tunnel packet; and messages to
    // send with an invalid id.
    quint64 droppedMessages() const { return _dropped.load(std::memory_order_relaxed); }

signals:
    void timeout(RUzad::MessageOrigin origin);
    void initialized(RUzad::MessageOrigin origin);
    void connectionError();
    void configError(RUzad::ErrorCode err, QString str);
    void readyReadCmd(QByteArray cmd);
    void readyReadPeriodicData(QByteArray data);
    void readyReadServiceForward(QByteArray data);
    void readyReadPowerOff();
    void readyReadEmergencyStop(QByteArray data);
    void readyReadBuStatus(QByteArray data);
    void sendFallback(RUzad::Message msg);

public slots:
    void send(const RUzad::Message& msg);
    void initFallback();
    void resetFallback();
    void handleFallback(const QByteArray& data);

private slots:
    void handleStateChanged(QAbstractSocket::SocketState state);
    void handleError(QAbstractSocket::SocketError error);
    void handleTimeout(RUzad::MessageOrigin origin);
    void handleReadyRead();
    void parse(QByteArray& data, RUzad::MessageOrigin origin);
    RUzad::ErrorCode handleInit(QByteArray payload, RUzad::MessageOrigin origin);
    RUzad::ErrorCode handleInitAck(QByteArray payload, RUzad::MessageOrigin origin);
    void sendHeartbeat();
    void sendInitAck(RUzad::ErrorCode err, QString str = QString());

private:
    // Position of a parse in progress. Slots reached from a dispatched message may append to
    // or clear the buffer being parsed; the cursor keeps the outer parse consistent with that.
    struct ParseCursor
    {
        const QByteArray* buffer;
        int consumed;
    };

    void clearBuffer(QByteArray& buffer);
    bool passesStaleFilter(RUzad::MessageOrigin origin, quint8 id) const;
    void applySocketOptions();
    void countDropped() { _dropped.fetch_add(1, std::memory_order_relaxed); }

    quint16 _baseId;
    quint16 _remoteId;
    QByteArray _checksum;
    QByteArray _magic;
    quint32 _last_timestamp;
    bool _fallback_active;
    bool _fallback_initialized; // the current fallback session completed its handshake
    QByteArray _tcp_buffer;
    QByteArray _fallback_buffer;
    QTimer* _heartbeat_timer;
    QTimer* _tcp_timer;
    QVector<ParseCursor> _cursors;
    std::atomic<quint64> _connections { 0 };
    std::atomic<quint64> _dropped { 0 };
};

} // namespace RUzad

#endif
