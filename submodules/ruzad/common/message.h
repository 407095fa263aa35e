#ifndef RUZAD_MESSAGE_H
#define RUZAD_MESSAGE_H

#include <QByteArray>
#include <QMetaEnum>
#include <QMetaType>
#include <QObject>

namespace RUzad {
Q_NAMESPACE

enum MessageId {
    ID_HEARTBEAT = 0,
    ID_INIT = 1,
    ID_INITACK = 2,
    ID_CMD = 3,
    ID_PERIODIC_DATA = 4,
    ID_SERVICE_FORWARD = 5,
    ID_POWER_OFF = 6,
    ID_E_STOP = 7,
    ID_BU_STATUS = 8,
    ID_UNKNOWN = 255
};
Q_ENUM_NS(MessageId)

enum ErrorCode {
    E_OK = 0,
    E_REMOTE_NOT_PAIRED = 1,
    E_PROTOCOL_VERSION_MISMATCH = 2,
    E_BU_NOT_READY = 3,
    E_APP_CHECKSUM_MISMATCH = 4,
    E_GENERIC = 5,
    E_UNKNOWN = 65535
};
Q_ENUM_NS(ErrorCode)

enum FallbackMode {
    FALLBACK_MODE_DISABLED = 0,
    FALLBACK_MODE_ALWAYS = 1,
    FALLBACK_MODE_WHEN_ARMED = 2
};
Q_ENUM_NS(FallbackMode)

enum MessageOrigin { ORIGIN_TCP = 0, ORIGIN_FALLBACK = 1 };
Q_ENUM_NS(MessageOrigin)

enum State {
    STATE_UNUSED = 0,
    STATE_OPERATIONAL = 1,
    STATE_NO_LINK = 2,
    STATE_LINK_ERROR = 3,
    STATE_INTERFACE_ERROR = 4,
    STATE_DATA_ERROR = 5,
    STATE_PASSIVE = 6,
    STATE_FALLBACK = 7
};
Q_ENUM_NS(State)

// Wire sizes shared by every user of the format.
constexpr int HEADER_SIZE = 12;
constexpr int INIT_PAYLOAD_SIZE = 22;
constexpr int INITACK_PAYLOAD_SIZE = 42;
constexpr int INITACK_TEXT_SIZE = 40;
constexpr int CHECKSUM_SIZE = 16;
constexpr quint32 MAGIC = 0x4164724C; // "LrdA" read as a little-endian quint32

// The bare enumerator name ("ORIGIN_TCP"), or the number for a value outside the enumeration.
template<typename E> QByteArray enumName(E value)
{
    const char* key = QMetaEnum::fromType<E>().valueToKey(static_cast<int>(value));
    return key ? QByteArray(key) : QByteArray::number(static_cast<int>(value));
}

// Registers the enumerations and Message for queued connections; safe to call repeatedly.
void registerMetaTypes();

class Header
{
public:
    // A header for a message to send, stamped with the current time.
    explicit Header(MessageId id);
    // A header read from the first 12 bytes of received data (the caller guarantees them).
    explicit Header(const QByteArray& bytes);
    Header();

    QByteArray serialize() const;

    quint32 _magic;
    quint8 _id;
    quint8 _spare;
    quint16 _size;
    quint32 _timestamp;
};

class Payload
{
public:
    Payload() = default;
    QByteArray serialize() const { return _payload; }

    QByteArray _payload;
};

// Built, filled and sent by value; whoever fills a variable payload sets _header._size first.
class Message
{
public:
    explicit Message(MessageId id);
    Message() = default;

    MessageId id() const { return static_cast<MessageId>(_header._id); }
    QByteArray serialize() const;

    Header _header;
    Payload _payload;
};

} // namespace RUzad

Q_DECLARE_METATYPE(RUzad::Message)

#endif
