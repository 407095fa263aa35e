#include "baseunitsimulator.h"

#include "checksum.h"

#include <QDateTime>
#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <sys/socket.h>

namespace {
const QByteArray kMagic("LrdA");
constexpr int kHeaderSize = 12;
constexpr int kInitSize = 22;
constexpr int kInitAckSize = 42;
} // namespace

BaseUnitSimulator::BaseUnitSimulator(QObject* parent)
    : QObject(parent)
    , _server(new QTcpServer(this))
    , _heartbeatTimer(new QTimer(this))
    , _periodicTimer(new QTimer(this))
    , _pieceTimer(new QTimer(this))
{
    _clock.start();
    _heartbeatTimer->setInterval(250);
    _heartbeatTimer->setTimerType(Qt::PreciseTimer);
    _periodicTimer->setInterval(0);
    _periodicTimer->setTimerType(Qt::PreciseTimer);
    // A small gap between pieces so that the peer reads them separately.
    _pieceTimer->setSingleShot(true);
    _pieceTimer->setInterval(2);
    connect(_server, &QTcpServer::newConnection, this, &BaseUnitSimulator::handleNewConnection);
    connect(_heartbeatTimer, &QTimer::timeout, this, &BaseUnitSimulator::sendHeartbeat);
    connect(_periodicTimer, &QTimer::timeout, this, &BaseUnitSimulator::sendPeriodic);
    connect(_pieceTimer, &QTimer::timeout, this, &BaseUnitSimulator::writeNextPiece);
}

BaseUnitSimulator::~BaseUnitSimulator()
{
    if (_client)
        _client->abort();
}

bool BaseUnitSimulator::listen(const QHostAddress& address, quint16 port)
{
    if (!_server->listen(address, port)) {
        qWarning() << "Base unit simulator cannot listen on" << address << port
                   << _server->errorString();
        return false;
    }
    _address = _server->serverAddress();
    _port = _server->serverPort();
    return true;
}

void BaseUnitSimulator::setAppDir(const QString& appDir)
{
    _checksum = RUzad::calculateChecksum(appDir);
}

void BaseUnitSimulator::setForcedInitAck(int code, const QString& text)
{
    _forcedCode = code;
    _forcedText = text;
}

QString BaseUnitSimulator::initAckText(quint16 code)
{
    switch (code) {
    case OK:
        return QString();
    case REMOTE_NOT_PAIRED:
        return QStringLiteral("Remote is not paired with this base unit");
    case PROTOCOL_VERSION_MISMATCH:
        return QStringLiteral("Protocol version not supported");
    case BU_NOT_READY:
        return QStringLiteral("Base unit not ready");
    case APP_CHECKSUM_MISMATCH:
        return QStringLiteral("Application checksum differs");
    default:
        return QStringLiteral("Base unit error");
    }
}

void BaseUnitSimulator::setTrafficInterval(QTimer* timer, int ms)
{
    timer->setInterval(ms);
    if (ms <= 0)
        timer->stop();
    else if (_initialized && !timer->isActive())
        timer->start();
}

void BaseUnitSimulator::setStatusOnInit(quint16 identity, quint8 state)
{
    _statusOnInit = true;
    _statusIdentity = identity;
    _statusState = state;
}

void BaseUnitSimulator::sendBuStatus(quint16 identity, quint8 state)
{
    QByteArray payload(3, Qt::Uninitialized);
    qToLittleEndian<quint16>(identity, payload.data());
    payload[2] = static_cast<char>(state);
    sendMessage(BU_STATUS, payload);
}

void BaseUnitSimulator::sendMessage(quint8 id, const QByteArray& payload)
{
    writeOut(_garbage + encode(id, payload, wallClock() - _timestampOffset));
}

void BaseUnitSimulator::sendRaw(const QByteArray& bytes)
{
    writeOut(bytes);
}

void BaseUnitSimulator::dropConnection()
{
    if (_client)
        _client->abort();
}

void BaseUnitSimulator::setRefuseConnections(bool refuse)
{
    if (refuse) {
        _server->close();
    } else if (!_server->isListening() && !_server->listen(_address, _port)) {
        qWarning() << "Base unit simulator cannot listen again on" << _address << _port
                   << _server->errorString();
    }
}

void BaseUnitSimulator::setRunning(bool running)
{
    setRefuseConnections(!running);
    if (!running)
        dropConnection();
}

void BaseUnitSimulator::cutInMessage(quint8 id, const QByteArray& payload, int bytes)
{
    if (!_client || _client->state() != QAbstractSocket::ConnectedState)
        return;
    stopTraffic();
    _client->write(encode(id, payload, wallClock() - _timestampOffset).left(bytes));
    _client->flush();
    // Only the sending direction ends: closing a socket with unread input resets the
    // connection, and the peer might lose the half message before reading it.
    ::shutdown(int(_client->socketDescriptor()), SHUT_WR);
}

QVector<BaseUnitSimulator::Received> BaseUnitSimulator::received(quint8 id) const
{
    QVector<Received> out;
    for (const Received& r : _received) {
        if (r.id == id)
            out.append(r);
    }
    return out;
}

int BaseUnitSimulator::receivedCount(quint8 id) const
{
    int n = 0;
    for (const Received& r : _received)
        n += r.id == id ? 1 : 0;
    return n;
}

QByteArray BaseUnitSimulator::encode(quint8 id, const QByteArray& payload, quint32 timestamp)
{
    QByteArray out(kHeaderSize, '\0');
    auto* p = reinterpret_cast<uchar*>(out.data());
    std::copy(kMagic.cbegin(), kMagic.cend(), out.begin());
    p[4] = id;
    p[5] = 0;
    qToLittleEndian<quint16>(static_cast<quint16>(payload.size()), p + 6);
    qToLittleEndian<quint32>(timestamp, p + 8);
    return out + payload;
}

quint32 BaseUnitSimulator::wallClock()
{
    return static_cast<quint32>(QDateTime::currentMSecsSinceEpoch());
}

void BaseUnitSimulator::handleNewConnection()
{
    while (QTcpSocket* socket = _server->nextPendingConnection()) {
        if (_client) {
            _client->disconnect(this);
            _client->abort();
            _client->deleteLater();
        }
        stopTraffic();
        _pieces.clear();
        _buffer.clear();
        _client = socket;
        _connectionTimesNs.append(_clock.nsecsElapsed());
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, &BaseUnitSimulator::handleReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (socket != _client)
                return;
            stopTraffic();
            _pieces.clear();
            socket->deleteLater();
            emit clientDisconnected();
        });
        emit clientConnected();
    }
}

void BaseUnitSimulator::handleReadyRead()
{
    if (!_client)
        return;
    const qint64 now = _clock.nsecsElapsed();
    _buffer.append(_client->readAll());
    // Keeps less than one message: the size field bounds a message to 12 + 65535 bytes.
    for (;;) {
        const int start = _buffer.indexOf(kMagic);
        if (start < 0) {
            _buffer = _buffer.right(kMagic.size() - 1);
            return;
        }
        _buffer.remove(0, start);
        if (_buffer.size() < kHeaderSize)
            return;
        const auto* p = reinterpret_cast<const uchar*>(_buffer.constData());
        const int size = qFromLittleEndian<quint16>(p + 6);
        if (_buffer.size() < kHeaderSize + size)
            return;
        const Received msg { p[4], qFromLittleEndian<quint32>(p + 8),
                             _buffer.mid(kHeaderSize, size), now };
        _buffer.remove(0, kHeaderSize + size);
        _received.append(msg);
        handleMessage(msg);
        if (!_client)
            return;
    }
}

void BaseUnitSimulator::handleMessage(const Received& msg)
{
    emit messageReceived(msg.id, msg.payload);
    // A silent base unit takes no part in a handshake either.
    if (msg.id == INIT && !_silent)
        answerInit(msg.payload);
}

void BaseUnitSimulator::answerInit(const QByteArray& payload)
{
    const QByteArray init = payload.leftJustified(kInitSize, '\0');
    const auto* p = reinterpret_cast<const uchar*>(init.constData());
    quint16 code = OK;
    if (_forcedCode >= 0)
        code = static_cast<quint16>(_forcedCode);
    else if (p[0] != 2 || p[1] < 1)
        code = PROTOCOL_VERSION_MISMATCH;
    else if (qFromLittleEndian<quint16>(p + 4) != _baseId)
        code = REMOTE_NOT_PAIRED;
    else if (!_ready)
        code = BU_NOT_READY;
    else if (init.mid(6, 16) != _checksum)
        code = APP_CHECKSUM_MISMATCH;
    const QString text = _forcedCode >= 0 ? _forcedText : initAckText(code);

    QByteArray ack(2, '\0');
    qToLittleEndian<quint16>(code, ack.data());
    ack.append(text.toUtf8().left(kInitAckSize - 2));
    ack = ack.leftJustified(kInitAckSize, '\0');
    sendMessage(INITACK, ack);
    emit handshakeAnswered(code);

    if (code == OK) {
        _initialized = true;
        startTraffic();
        if (_statusOnInit)
            sendBuStatus(_statusIdentity, _statusState);
    }
}

void BaseUnitSimulator::sendPeriodic()
{
    QByteArray frame = _periodicFrame;
    if (frame.isEmpty()) {
        frame = QByteArray(_periodicSize, '\0');
        for (int i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<char>(_periodicCounter + i);
        ++_periodicCounter;
    }
    sendMessage(PERIODIC_DATA, frame);
}

void BaseUnitSimulator::writeOut(const QByteArray& bytes)
{
    if (_silent || !_client || _client->state() != QAbstractSocket::ConnectedState)
        return;
    if (_splitSize <= 0 && _pieces.isEmpty()) {
        _client->write(bytes);
        _client->flush();
        return;
    }
    const int piece = _splitSize > 0 ? _splitSize : bytes.size();
    for (int i = 0; i < bytes.size(); i += piece)
        _pieces.enqueue(bytes.mid(i, piece));
    if (!_pieceTimer->isActive())
        _pieceTimer->start();
}

void BaseUnitSimulator::writeNextPiece()
{
    if (_pieces.isEmpty())
        return;
    const QByteArray piece = _pieces.dequeue();
    if (!_silent && _client && _client->state() == QAbstractSocket::ConnectedState) {
        _client->write(piece);
        _client->flush();
    }
    if (!_pieces.isEmpty())
        _pieceTimer->start();
}

void BaseUnitSimulator::startTraffic()
{
    if (_heartbeatTimer->interval() > 0)
        _heartbeatTimer->start();
    if (_periodicTimer->interval() > 0)
        _periodicTimer->start();
}

void BaseUnitSimulator::stopTraffic()
{
    _initialized = false;
    _heartbeatTimer->stop();
    _periodicTimer->stop();
}
