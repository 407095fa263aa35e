#ifndef RUZAD_CLIENT_H
#define RUZAD_CLIENT_H

#include "connection.h"
#include "message.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <atomic>

namespace RUzad {

// The remote's end of the link: connects to the base unit, offers the handshake as soon as
// TCP is up and keeps reconnecting after errors and silence until disconnect() is called.
class Client : public QObject
{
    Q_OBJECT

public:
    static constexpr int RECONNECT_DELAY_MS = 1000;

    Client(quint32 baseId, quint32 remoteId, const QByteArray& checksum, QObject* parent = nullptr);
    ~Client() override;

    void connect(const QHostAddress& addr, quint16 port);
    void disconnect();
    Message generateInitMsg();
    bool isTcpActive() const { return _conn->isTcpActive(); }
    // Connected, as opposed to still trying to connect (when isTcpActive() is true as well).
    bool isTcpConnected() const { return _conn->state() == QAbstractSocket::ConnectedState; }
    bool isFallbackActive() const { return _conn->isFallbackActive(); }

    // Safe to read from any thread. Connections established after the first one.
    quint64 reconnects() const
    {
        const quint64 connections = _conn->connectionCount();
        return connections > 0 ? connections - 1 : 0;
    }
    // The connection's dropped messages, and service forwards too long to send or given
    // while TCP is down.
    quint64 droppedMessages() const
    {
        return _conn->droppedMessages() + _dropped.load(std::memory_order_relaxed);
    }

signals:
    void readyReadCmd(QByteArray cmd);
    void readyReadPeriodicData(QByteArray data);
    void readyReadServiceForward(QByteArray data);
    void readyReadBuStatus(QByteArray data);
    void sendFallback(RUzad::Message msg);
    void configError(RUzad::ErrorCode err, QString str);
    void initialized(RUzad::MessageOrigin origin);
    void timeout(RUzad::MessageOrigin origin);
    void disconnected();

public slots:
    void send(RUzad::Message msg);
    void recvServiceForward(QByteArray data);
    void initFallback();
    void resetFallback();
    void recvFallback(QByteArray data);

private slots:
    void initialize();
    void reconnect();
    void handleTimeout(RUzad::MessageOrigin origin);
    void handleConnectionError();

private:
    quint16 _baseId;
    quint16 _remoteId;
    quint8 _majVersion;
    quint8 _minVersion;
    QByteArray _checksum;
    QHostAddress _addr;
    quint16 _port;
    Connection* _conn;
    QTimer* _reconnect_timer;
    std::atomic<quint64> _dropped { 0 };
};

} // namespace RUzad

#endif
