#include "client.h"

#include <QDebug>
#include <QtEndian>

namespace RUzad {

Client::Client(quint32 baseId, quint32 remoteId, const QByteArray& checksum, QObject* parent)
    : QObject(parent)
    , _baseId(static_cast<quint16>(baseId))
    , _remoteId(static_cast<quint16>(remoteId))
    , _majVersion(2)
    , _minVersion(1)
    , _checksum(checksum)
    , _addr(QStringLiteral("192.168.32.1"))
    , _port(1147)
    , _conn(nullptr)
    , _reconnect_timer(new QTimer(this))
{
    registerMetaTypes();
    _reconnect_timer->setObjectName(QStringLiteral("reconnect"));
    _reconnect_timer->setSingleShot(true);
    _reconnect_timer->setInterval(RECONNECT_DELAY_MS);
    QObject::connect(_reconnect_timer, &QTimer::timeout, this, &Client::reconnect);

    _conn = new Connection(baseId, remoteId, checksum, this);
    QObject::connect(_conn, &QAbstractSocket::connected, this, &Client::initialize);
    QObject::connect(_conn, &Connection::connectionError, this, &Client::handleConnectionError);
    QObject::connect(_conn, &Connection::timeout, this, &Client::handleTimeout);
    QObject::connect(_conn, &Connection::initialized, this, &Client::initialized);
    QObject::connect(_conn, &Connection::configError, this, &Client::configError);
    QObject::connect(_conn, &QAbstractSocket::disconnected, this, &Client::disconnected);
    QObject::connect(_conn, &Connection::readyReadCmd, this, &Client::readyReadCmd);
    QObject::connect(_conn, &Connection::readyReadPeriodicData, this,
                     &Client::readyReadPeriodicData);
    QObject::connect(_conn, &Connection::readyReadServiceForward, this,
                     &Client::readyReadServiceForward);
    QObject::connect(_conn, &Connection::readyReadBuStatus, this, &Client::readyReadBuStatus);
    QObject::connect(_conn, &Connection::sendFallback, this, &Client::sendFallback);
}

Client::~Client()
{
    // Closing the socket signals a disconnection; whoever listens to this client must not
    // hear of it from a client that is going away. Connection and timer are children and go
    // with the client, on its thread, at once.
    QObject::disconnect(_conn, nullptr, this, nullptr);
    _reconnect_timer->stop();
    _conn->abort();
}

void Client::connect(const QHostAddress& addr, quint16 port)
{
    qInfo() << "Connecting R-Uzad...";
    _reconnect_timer->stop(); // an explicit connect supersedes a pending retry
    _conn->abort();
    _addr = addr;
    _port = port;
    _conn->connectToHost(addr, port, QIODevice::ReadWrite);
}

void Client::disconnect()
{
    qInfo() << "Disconnecting R-Uzad...";
    _conn->abort();
    _conn->close();
    _reconnect_timer->stop();
}

Message Client::generateInitMsg()
{
    QByteArray payload;
    payload.reserve(INIT_PAYLOAD_SIZE);
    payload.append(static_cast<char>(_majVersion));
    payload.append(static_cast<char>(_minVersion));
    char id[2];
    qToLittleEndian<quint16>(_remoteId, id);
    payload.append(id, 2);
    qToLittleEndian<quint16>(_baseId, id);
    payload.append(id, 2);
    payload.append(_checksum);
    if (payload.size() < INIT_PAYLOAD_SIZE)
        payload.append(QByteArray(INIT_PAYLOAD_SIZE - payload.size(), '\0'));
    payload.truncate(INIT_PAYLOAD_SIZE);

    Message msg(ID_INIT);
    msg._payload._payload = payload;
    return msg;
}

void Client::send(Message msg)
{
    _conn->send(msg);
}

void Client::recvServiceForward(QByteArray data)
{
    if (data.size() > 0xFFFF) {
        // The size field has 16 bits; a longer payload would desynchronise the peer.
        _dropped.fetch_add(1, std::memory_order_relaxed);
        qWarning() << "Discarding oversized R-Uzad service forward:" << data.size() << "bytes";
        return;
    }
    // Service forwards travel over TCP only: without it the connection writes nothing.
    if (!isTcpConnected())
        _dropped.fetch_add(1, std::memory_order_relaxed);
    Message msg(ID_SERVICE_FORWARD);
    msg._header._size = static_cast<quint16>(data.size());
    msg._payload._payload = data;
    send(msg);
}

void Client::initFallback()
{
    _conn->initFallback();
}

void Client::resetFallback()
{
    _conn->resetFallback();
}

void Client::recvFallback(QByteArray data)
{
    _conn->handleFallback(data);
}

void Client::initialize()
{
    qInfo() << "Initializing R-Uzad...";
    _conn->send(generateInitMsg());
}

void Client::reconnect()
{
    qInfo() << "Attempting to reconnect...";
    _conn->connectToHost(_addr, _port, QIODevice::ReadWrite);
}

void Client::handleTimeout(MessageOrigin origin)
{
    if (origin == ORIGIN_TCP) {
        _conn->abort();
        _conn->close();
        _reconnect_timer->start();
    }
    emit timeout(origin);
}

void Client::handleConnectionError()
{
    _reconnect_timer->start();
}

} // namespace RUzad
