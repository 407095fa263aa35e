#include "processdataelement.h"

#include "tagdatabase.h"

#include <QDebug>

ProcessdataElement::ProcessdataElement(QObject* parent, QString tagName, TagDatabase* tags)
    : QObject(parent)
    , tagName(tagName)
    , tag(tags ? tags->get(tagName) : nullptr)
{
    if (!tag) {
        qWarning().noquote() << "ProcessdataElement: no tag" << tagName
                             << "- it is left out of the process-data frame";
        return;
    }
    present = true;
    dataType = tag->getDataType();
    byteSize = tag->getByteSize();
    const bool integer = dataType == TDBT_INT || dataType == TDBT_UINT;
    if ((integer && byteSize != 1 && byteSize != 2 && byteSize != 4)
        || (!integer && dataType != TDBT_RAW))
        qWarning().noquote() << "ProcessdataElement: tag" << tagName << "of data type"
                             << int(dataType) << "and byte size" << byteSize
                             << "cannot be encoded, it is sent as" << byteSize << "zero bytes";
    // Connected before the value is taken, so no change can fall in between.
    connect(tag, &Tag::valueUpdated, this, &ProcessdataElement::updateMe);
    value = tag->getValue();
}

void ProcessdataElement::updateMe(QVariant newValue)
{
    value = newValue;
}

QByteArray ProcessdataElement::getValue() const
{
    if (!present)
        return QByteArray();
    if (dataType == TDBT_RAW)
        return value.canConvert<QByteArray>() ? value.toByteArray() : QByteArray(byteSize, '\0');

    QByteArray bytes(byteSize, '\0');
    if (dataType != TDBT_INT && dataType != TDBT_UINT)
        return bytes;
    if (byteSize != 1 && byteSize != 2 && byteSize != 4)
        return bytes;
    // Both signednesses send the low bytes of the two's complement; a value
    // above the signed range only converts as unsigned.
    bool ok = false;
    quint64 bits = quint64(value.toLongLong(&ok));
    if (!ok)
        bits = value.toULongLong(&ok);
    if (!ok)
        return bytes;
    for (int k = 0; k < byteSize; ++k)
        bytes[k] = char((bits >> (8 * k)) & 0xFF);
    return bytes;
}
