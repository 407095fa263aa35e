#include "tag.h"

#include <QDebug>

#include <cstring>

namespace {

// Byte k of the slice, 0 beyond its end: a table whose sizes do not fit the
// slice never makes the decoder read outside it.
inline quint8 byteAt(const QByteArray& bytes, int k)
{
    return k < bytes.size() ? static_cast<quint8>(bytes.at(k)) : 0;
}

// The first n bytes (n at most 8) as an unsigned integer in the given byte order.
quint64 toUnsigned(const QByteArray& bytes, int n, bool bigEndian)
{
    quint64 v = 0;
    for (int k = 0; k < n; ++k) {
        const quint64 b = byteAt(bytes, k);
        if (bigEndian)
            v = (v << 8) | b;
        else
            v |= b << (8 * k);
    }
    return v;
}

bool isBigEndian(tagDataType type)
{
    return type == TDBT_BE_UINT || type == TDBT_BE_INT || type == TDBT_BE_REAL
        || type == TDBT_BE_BOOLEAN;
}

} // namespace

Tag::Tag(const QString& name, QObject* parent)
    : Data(name, parent)
    , value(0)
{
    emit valueUpdated(value);
}

void Tag::setValue(const QByteArray& bytes)
{
    if (rawDataEquals(bytes.constData(), bytes.size()))
        return;
    // A deep copy: the slice may point into a caller's frame buffer.
    if (rawData.size() == bytes.size() && rawData.isDetached())
        memcpy(rawData.data(), bytes.constData(), bytes.size());
    else
        rawData = QByteArray(bytes.constData(), bytes.size());

    QVariant newValue;
    if (!decode(newValue))
        return;
    const QVariant oldValue = value;
    value = newValue;
    if (newValue != oldValue)
        emit valueUpdated(newValue);
}

void Tag::setValue(const QVariant& v)
{
    if (v == value)
        return;
    value = v;
    emit valueUpdated(v);
}

void Tag::unsupportedSize(const char* typeName) const
{
    qWarning().noquote() << "Unsupported tag size for" << getTag() << "data type" << typeName;
}

bool Tag::decode(QVariant& newValue) const
{
    const bool be = isBigEndian(dataType);
    const int n = byteSize;
    switch (dataType) {
    case TDBT_UINT:
    case TDBT_BE_UINT: {
        quint32 v = 0;
        if (n == 1 || n == 2 || n == 4)
            v = static_cast<quint32>(toUnsigned(rawData, n, be));
        else
            unsupportedSize(be ? "BE_UINT" : "UINT");
        if (bitSize != 0) {
            v = startBit >= 32 ? 0 : v >> startBit;
            if (bitSize < 32)
                v &= (quint32(1) << bitSize) - 1;
        }
        newValue = QVariant(v);
        return true;
    }
    case TDBT_INT:
    case TDBT_BE_INT:
        if (bitSize != 0 && n >= 1 && n <= 4) {
            // Bits of the field that lie beyond the slice read as 0.
            const quint64 raw = toUnsigned(rawData, n, be);
            const int width = qMin<int>(bitSize, 32);
            const quint64 field
                = startBit >= 64 ? 0 : (raw >> startBit) & ((quint64(1) << width) - 1);
            const quint64 sign = quint64(1) << (width - 1);
            newValue = QVariant(
                static_cast<qint32>(static_cast<qint64>(field ^ sign) - static_cast<qint64>(sign)));
            return true;
        }
        if (bitSize == 0 && n == 4) {
            newValue
                = QVariant(static_cast<qint32>(static_cast<quint32>(toUnsigned(rawData, 4, be))));
            return true;
        }
        if (bitSize == 0 && n == 2) {
            newValue = QVariant(static_cast<int>(
                static_cast<qint16>(static_cast<quint16>(toUnsigned(rawData, 2, be)))));
            return true;
        }
        if (bitSize == 0 && n == 1) {
            newValue = QVariant(static_cast<int>(static_cast<qint8>(byteAt(rawData, 0))));
            return true;
        }
        unsupportedSize(be ? "BE_INT" : "INT");
        return false;
    case TDBT_REAL:
    case TDBT_BE_REAL:
        if (n == 8) {
            const quint64 bits = toUnsigned(rawData, 8, be);
            double d;
            memcpy(&d, &bits, sizeof d);
            newValue = QVariant(d);
            return true;
        }
        if (n == 4) {
            const quint32 bits = static_cast<quint32>(toUnsigned(rawData, 4, be));
            float f;
            memcpy(&f, &bits, sizeof f);
            newValue = QVariant(f);
            return true;
        }
        unsupportedSize(be ? "BE_REAL" : "REAL");
        return false;
    case TDBT_STRING: {
        const int nul = rawData.indexOf('\0');
        newValue = QVariant(QString::fromUtf8(rawData.constData(), nul < 0 ? rawData.size() : nul));
        return true;
    }
    case TDBT_RAW:
        newValue = QVariant(rawData);
        return true;
    case TDBT_BOOLEAN:
    case TDBT_BE_BOOLEAN:
        if (n == 1 || n == 2 || n == 4) {
            // A bit beyond the slice reads as false.
            const int quotient = startBit / 8;
            const int index = be ? n - 1 - quotient : quotient;
            bool bit = false;
            if (index >= 0 && index < n)
                bit = (byteAt(rawData, index) >> (startBit % 8)) & 1;
            newValue = QVariant(bit);
            return true;
        }
        unsupportedSize(be ? "TDBT_BE_BOOLEAN" : "TDBT_BOOLEAN");
        return false;
    default:
        qWarning().nospace() << "setTagValue - type error for " << getTag().toUtf8().constData()
                             << " - setValue: " << rawData.toHex(' ').constData()
                             << " current value: " << value
                             << " dataType: " << static_cast<int>(dataType);
        return false;
    }
}

void Tag::insertState(const QVariant& stateValue, const QString& stateLabel)
{
    for (auto& state : states) {
        if (state.first == stateValue) {
            state.second = stateLabel;
            return;
        }
    }
    states.append(qMakePair(stateValue, stateLabel));
}

QString Tag::getState() const
{
    for (const auto& state : states) {
        if (state.first == value)
            return state.second;
    }
    return QString();
}
