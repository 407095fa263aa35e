#include "message.h"

#include <QDateTime>
#include <QtEndian>

namespace RUzad {

namespace {
quint16 defaultPayloadSize(MessageId id)
{
    switch (id) {
    case ID_INIT:
        return INIT_PAYLOAD_SIZE;
    case ID_INITACK:
        return INITACK_PAYLOAD_SIZE;
    case ID_CMD:
        return 16;
    case ID_E_STOP:
        return 1;
    case ID_BU_STATUS:
        return 3;
    default:
        return 0;
    }
}
} // namespace

void registerMetaTypes()
{
    qRegisterMetaType<RUzad::MessageId>("RUzad::MessageId");
    qRegisterMetaType<RUzad::ErrorCode>("RUzad::ErrorCode");
    qRegisterMetaType<RUzad::FallbackMode>("RUzad::FallbackMode");
    qRegisterMetaType<RUzad::MessageOrigin>("RUzad::MessageOrigin");
    qRegisterMetaType<RUzad::State>("RUzad::State");
    qRegisterMetaType<RUzad::Message>("RUzad::Message");
}

Header::Header()
    : _magic(0)
    , _id(ID_UNKNOWN)
    , _spare(0)
    , _size(0)
    , _timestamp(0)
{
}

Header::Header(MessageId id)
    : _magic(MAGIC)
    , _id(static_cast<quint8>(id))
    , _spare(0)
    , _size(defaultPayloadSize(id))
    , _timestamp(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()))
{
    if (static_cast<int>(id) > ID_BU_STATUS)
        qFatal("Unknown R-Uzad message id!");
}

Header::Header(const QByteArray& bytes)
    : Header()
{
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    _magic = qFromLittleEndian<quint32>(p);
    _id = p[4];
    _spare = p[5];
    _size = qFromLittleEndian<quint16>(p + 6);
    _timestamp = qFromLittleEndian<quint32>(p + 8);
}

QByteArray Header::serialize() const
{
    QByteArray out(HEADER_SIZE, Qt::Uninitialized);
    auto* p = reinterpret_cast<uchar*>(out.data());
    qToLittleEndian<quint32>(_magic, p);
    p[4] = _id;
    p[5] = _spare;
    qToLittleEndian<quint16>(_size, p + 6);
    qToLittleEndian<quint32>(_timestamp, p + 8);
    return out;
}

Message::Message(MessageId id)
    : _header(id)
{
}

QByteArray Message::serialize() const
{
    return _header.serialize() + _payload.serialize();
}

} // namespace RUzad
