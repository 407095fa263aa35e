#include "connection.h"

#include <QDebug>
#include <QtEndian>

namespace RUzad {

namespace {
constexpr quint8 PROTOCOL_MAJOR = 2;
constexpr quint8 PROTOCOL_MINOR = 1;

bool isHandshake(quint8 id)
{
    return id == ID_INIT || id == ID_INITACK;
}
} // namespace

Connection::Connection(quint32 baseId, quint32 remoteId, const QByteArray& checksum,
                       QObject* parent)
    : QTcpSocket(parent)
    , _baseId(static_cast<quint16>(baseId))
    , _remoteId(static_cast<quint16>(remoteId))
    , _checksum(checksum)
    , _magic("LrdA")
    , _last_timestamp(0)
    , _fallback_active(false)
    , _fallback_initialized(false)
    , _heartbeat_timer(new QTimer(this))
    , _tcp_timer(new QTimer(this))
{
    registerMetaTypes();
    applySocketOptions();
    _cursors.reserve(2);

    // Named so that a test can shorten them.
    _heartbeat_timer->setObjectName(QStringLiteral("heartbeat"));
    _tcp_timer->setObjectName(QStringLiteral("inactivity"));
    _heartbeat_timer->setSingleShot(true);
    _heartbeat_timer->setInterval(HEARTBEAT_INTERVAL_MS);
    // A coarse timer may fire 5% late; the peer expects traffic at least every 250 ms.
    _heartbeat_timer->setTimerType(Qt::PreciseTimer);
    _tcp_timer->setSingleShot(true);
    _tcp_timer->setInterval(TCP_INACTIVITY_MS);

    connect(_heartbeat_timer, &QTimer::timeout, this, &Connection::sendHeartbeat);
    connect(_tcp_timer, &QTimer::timeout, this, [this] { emit timeout(ORIGIN_TCP); });
    connect(this, &QAbstractSocket::stateChanged, this, &Connection::handleStateChanged);
    connect(this, &QAbstractSocket::errorOccurred, this, &Connection::handleError);
    connect(this, &Connection::timeout, this, &Connection::handleTimeout);
    connect(this, &QIODevice::readyRead, this, &Connection::handleReadyRead);
}

Connection::~Connection()
{
    // The socket base closes itself on destruction and signals its state while this class
    // is already gone; its own slots must not see that.
    QObject::disconnect(this, nullptr, this, nullptr);
    abort();
}

void Connection::applySocketOptions()
{
    setSocketOption(QAbstractSocket::LowDelayOption, 1);
    setSocketOption(QAbstractSocket::TypeOfServiceOption, 32);
}

void Connection::send(const Message& msg)
{
    const quint8 id = msg._header._id;
    if (id > ID_BU_STATUS) {
        countDropped();
        qCritical() << "Invalid message!";
        return;
    }
    if (id != ID_HEARTBEAT && id != ID_SERVICE_FORWARD)
        emit sendFallback(msg);

    if (isValid() && state() == QAbstractSocket::ConnectedState) {
        write(msg.serialize());
        flush();
        _heartbeat_timer->start();
    }
}

void Connection::initFallback()
{
    _fallback_active = true;
    _fallback_initialized = false;
    clearBuffer(_fallback_buffer);
}

void Connection::resetFallback()
{
    _fallback_active = false;
    _fallback_initialized = false;
    clearBuffer(_fallback_buffer);
    emit timeout(ORIGIN_FALLBACK);
}

void Connection::handleFallback(const QByteArray& data)
{
    if (data.isEmpty()) {
        countDropped();
        qWarning() << "Discarding empty R-Uzad message (fallback).";
        return;
    }
    if (!_fallback_active)
        initFallback();
    _fallback_buffer.append(data);
    parse(_fallback_buffer, ORIGIN_FALLBACK);
}

void Connection::handleStateChanged(QAbstractSocket::SocketState state)
{
    // Bytes of a message cut by a lost connection must not be taken for the start of the next
    // connection's stream, where they would swallow the handshake answer.
    switch (state) {
    case QAbstractSocket::UnconnectedState:
        _tcp_timer->stop();
        clearBuffer(_tcp_buffer);
        break;
    case QAbstractSocket::ConnectedState:
        _connections.fetch_add(1, std::memory_order_relaxed);
        // Options given before the socket existed do not reach the kernel; set them again.
        applySocketOptions();
        _tcp_timer->start();
        break;
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        clearBuffer(_tcp_buffer);
        _tcp_timer->start();
        break;
    default:
        break;
    }
}

bool Connection::passesStaleFilter(MessageOrigin origin, quint8 id) const
{
    // Over TCP the handshake and forwarded service packets are taken whatever their age: they
    // may come from a peer whose clock was reset. Through the tunnel, where delayed copies are
    // possible, only the handshake that a new session waits for is taken that way.
    if (origin == ORIGIN_TCP)
        return isHandshake(id) || id == ID_SERVICE_FORWARD;
    return isHandshake(id) && !_fallback_initialized;
}

void Connection::handleError(QAbstractSocket::SocketError error)
{
    qCritical().noquote() << "R-Uzad connection error:" << error << errorString();
    _tcp_timer->stop();
    abort();
    close();
    emit connectionError();
}

void Connection::handleTimeout(MessageOrigin origin)
{
    qWarning().noquote() << "Connection [ BU" << _baseId << "] <--> [ RU" << _remoteId << "] ("
                         << enumName(origin) << ") timed out due to inactivity...";
    clearBuffer(origin == ORIGIN_TCP ? _tcp_buffer : _fallback_buffer);
}

void Connection::handleReadyRead()
{
    const QByteArray bytes = readAll();
    if (bytes.isEmpty()) {
        qWarning() << "Discarding empty R-Uzad message (TCP).";
        return;
    }
    _tcp_buffer.append(bytes);
    parse(_tcp_buffer, ORIGIN_TCP);
}

void Connection::clearBuffer(QByteArray& buffer)
{
    int handled = 0; // by a parse running on this buffer
    for (ParseCursor& cursor : _cursors) {
        if (cursor.buffer == &buffer) {
            handled = cursor.consumed;
            cursor.consumed = 0;
        }
    }
    // The start of a message whose rest will never come.
    if (buffer.size() > handled)
        countDropped();
    buffer.clear();
}

// Every complete message in data is consumed, so between calls data holds less than one
// message: under 12 + 65535 bytes from a magic on (the size field is 16 bits), fewer than 12
// bytes after the last message, or up to three bytes that may begin a magic. Bytes before
// the first magic are never kept.
void Connection::parse(QByteArray& data, MessageOrigin origin)
{
    for (const ParseCursor& cursor : qAsConst(_cursors)) {
        if (cursor.buffer == &data)
            return; // appended while dispatching: the running parse takes these bytes too
    }
    _cursors.append({ &data, 0 });
    const int self = _cursors.size() - 1; // nested parses of other buffers pop before we do
    bool tcpAccepted = false;

    for (;;) {
        int& consumed = _cursors[self].consumed;
        const int start = data.indexOf(_magic, consumed);
        if (start < 0) {
            // A magic cut by the end of a read may continue in the next one.
            int keep = qMin(_magic.size() - 1, data.size() - consumed);
            while (keep > 0 && !data.endsWith(_magic.left(keep)))
                --keep;
            if (data.size() - consumed - keep > 0) {
                countDropped();
                qWarning().noquote()
                    << "R-Uzad msg stream is out of sync! Origin:" << enumName(origin);
            }
            consumed = data.size() - keep;
            break;
        }
        if (start > consumed)
            countDropped(); // bytes before the message start, skipped silently
        consumed = start;
        if (data.size() - start < HEADER_SIZE)
            break;
        const Header header(QByteArray::fromRawData(data.constData() + start, HEADER_SIZE));
        const int end = start + HEADER_SIZE + header._size;
        if (data.size() < end)
            break;

        // Removed before dispatch, so that slots reached from a signal see the rest only.
        consumed = end;
        if (_last_timestamp > header._timestamp && !passesStaleFilter(origin, header._id)) {
            // Dropped, and the rest of the read goes on: stopping here would leave it waiting
            // for the next read, and a peer sending stale data would grow the buffer forever.
            countDropped();
            if (data.size() - end < HEADER_SIZE)
                break;
            continue;
        }
        _last_timestamp = header._timestamp;

        const QByteArray payload = data.mid(start + HEADER_SIZE, header._size);
        ErrorCode result = E_OK;
        switch (header._id) {
        case ID_HEARTBEAT:
            break;
        case ID_INIT:
            result = handleInit(payload, origin);
            break;
        case ID_INITACK:
            result = handleInitAck(payload, origin);
            break;
        case ID_CMD:
            emit readyReadCmd(payload);
            break;
        case ID_PERIODIC_DATA:
            emit readyReadPeriodicData(payload);
            break;
        case ID_SERVICE_FORWARD:
            emit readyReadServiceForward(payload);
            break;
        case ID_POWER_OFF:
            emit readyReadPowerOff();
            break;
        case ID_E_STOP:
            emit readyReadEmergencyStop(payload);
            break;
        case ID_BU_STATUS:
            emit readyReadBuStatus(payload);
            break;
        default:
            countDropped();
            qWarning().noquote() << "Discarding R-Uzad message with unknown id:" << header._id
                                 << "| Origin:" << enumName(origin);
            break;
        }
        if (isHandshake(header._id) && result == E_OK) {
            // A completed handshake starts the peer's clock anew: a base unit that rebooted
            // stamps from an earlier time and would otherwise be filtered out for good.
            _last_timestamp = header._timestamp;
            if (origin == ORIGIN_FALLBACK)
                _fallback_initialized = true;
        }
        if (result != E_OK) {
            // Nothing after a refused handshake in this read is acted upon; dropping it rather
            // than keeping it also keeps the buffer bounded against a peer that repeats it.
            _tcp_timer->stop();
            tcpAccepted = false;
            if (data.size() > _cursors[self].consumed)
                countDropped();
            _cursors[self].consumed = data.size();
            break;
        }
        if (origin == ORIGIN_TCP)
            tcpAccepted = true;
        if (data.size() - _cursors[self].consumed < HEADER_SIZE)
            break;
    }

    data.remove(0, qMin(_cursors[self].consumed, data.size()));
    _cursors.removeLast();
    // One restart per read: the same as restarting per message, as no time passes in between.
    if (tcpAccepted)
        _tcp_timer->start();
}

ErrorCode Connection::handleInit(QByteArray payload, MessageOrigin origin)
{
    if (payload.size() < INIT_PAYLOAD_SIZE)
        payload.append(QByteArray(INIT_PAYLOAD_SIZE - payload.size(), '\0'));
    const auto* p = reinterpret_cast<const uchar*>(payload.constData());
    const int major = p[0];
    const int minor = p[1];
    const quint16 remoteId = qFromLittleEndian<quint16>(p + 2);
    const quint16 requestedBaseId = qFromLittleEndian<quint16>(p + 4);
    const QByteArray checksum = payload.mid(6, CHECKSUM_SIZE);
    _remoteId = remoteId;

    ErrorCode result = E_OK;
    if (major != PROTOCOL_MAJOR || minor == 0) {
        qCritical() << "Available protocol version" << PROTOCOL_MAJOR << PROTOCOL_MINOR
                    << "does not match support requested version" << major << minor;
        result = E_PROTOCOL_VERSION_MISMATCH;
    } else if (requestedBaseId != _baseId) {
        qCritical() << "This BU [" << _baseId << "] does not match the requested BU ["
                    << requestedBaseId << "] from RU [" << remoteId << "]";
        result = E_REMOTE_NOT_PAIRED;
    } else if (checksum != _checksum) {
        qCritical() << "Application checksums do not match. Remote is paired, but config is out "
                       "of sync.";
        result = E_APP_CHECKSUM_MISMATCH;
    } else {
        emit initialized(origin);
        sendInitAck(E_OK);
        qInfo().noquote() << "R-Uzad initialized! Origin:" << enumName(origin);
        return E_OK;
    }
    sendInitAck(result);
    emit configError(result, QString());
    return result;
}

ErrorCode Connection::handleInitAck(QByteArray payload, MessageOrigin origin)
{
    if (payload.size() < 2)
        payload.append(QByteArray(2 - payload.size(), '\0'));
    const auto code = static_cast<ErrorCode>(qFromLittleEndian<quint16>(payload.constData()));
    if (code == E_OK) {
        emit initialized(origin);
        if (origin == ORIGIN_TCP)
            sendHeartbeat();
        qInfo().noquote() << "R-Uzad initialized! Origin:" << enumName(origin);
        return E_OK;
    }
    qCritical().noquote() << "R-Uzad initialization failed:" << enumName(code)
                          << "| Origin:" << enumName(origin);
    QByteArray text = payload.mid(2, INITACK_TEXT_SIZE);
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    emit configError(code, QString::fromUtf8(text));
    return code;
}

void Connection::sendHeartbeat()
{
    send(Message(ID_HEARTBEAT));
}

void Connection::sendInitAck(ErrorCode err, QString str)
{
    Message msg(ID_INITACK);
    QByteArray payload(2, Qt::Uninitialized);
    qToLittleEndian<quint16>(static_cast<quint16>(err), payload.data());
    payload.append(str.toUtf8().left(INITACK_TEXT_SIZE));
    payload.append(QByteArray(INITACK_PAYLOAD_SIZE - payload.size(), '\0'));
    msg._payload._payload = payload;
    msg._header._size = INITACK_PAYLOAD_SIZE;
    send(msg);
}

} // namespace RUzad
