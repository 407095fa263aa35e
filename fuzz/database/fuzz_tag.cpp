// Decodes arbitrary slices with every data type, byte size and bit position,
// the way a frame feeder and a broken tag table could combine them.
#include "quietlog.h"
#include "tag.h"
#include "tagdatabase.h"

#include <cstdint>
#include <cstring>

namespace {

quint16 take16(const uint8_t*& data, size_t& size)
{
    quint16 v = 0;
    if (size >= 2) {
        memcpy(&v, data, 2);
        data += 2;
        size -= 2;
    }
    return v;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    silenceQtLog();
    if (size < 1)
        return 0;

    const int type = data[0] % (TDBT_ENDOFENUMMARKER + 1);
    ++data;
    --size;
    // Sizes and positions mostly small, sometimes anywhere in 16 bits.
    quint16 byteSize = take16(data, size);
    quint16 startBit = take16(data, size);
    quint16 bitSize = take16(data, size);
    quint16 startByte = take16(data, size);
    if (!(byteSize & 0x8000))
        byteSize %= 10;
    if (!(startBit & 0x8000))
        startBit %= 72;
    if (!(bitSize & 0x8000))
        bitSize %= 40;
    startByte %= 64;

    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));

    // Slices as given, whatever their length against byteSize.
    Tag tag(QStringLiteral("fuzz"));
    tag.setDataType(static_cast<tagDataType>(type));
    tag.setByteSize(byteSize);
    tag.setStartBit(startBit);
    tag.setBitSize(bitSize);
    tag.setValue(bytes);
    tag.setValue(bytes.left(bytes.size() / 2));
    (void)tag.getState();

    // The same tag fed from a frame, as the process-data path does.
    TagDatabase db;
    auto* fed = new Tag(QStringLiteral("fed"), &db);
    fed->setDataType(static_cast<tagDataType>(type));
    fed->setByteSize(byteSize & 0x0fff);
    fed->setStartByte(startByte);
    fed->setStartBit(startBit);
    fed->setBitSize(bitSize);
    fed->setHostLink(Tag::RIIT);
    db.append(fed);
    db.processProsessData(bytes);
    db.processProsessData(bytes.mid(1));
    return 0;
}
