#include "crcstd32.h"

#include <QtEndian>

#include <array>
#include <cstring>

namespace {

constexpr quint32 polynomial = 0x04C11DB7u;

constexpr quint32 byteSwap(quint32 v)
{
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

constexpr quint32 msbFirstEntry(quint32 index)
{
    quint32 c = index << 24;
    for (int bit = 0; bit < 8; ++bit)
        c = (c & 0x80000000u) ? (c << 1) ^ polynomial : (c << 1);
    return c;
}

// Sixteen tables for slicing: table 0 is CRCTABLE, table k advances a byte
// by k further zero bytes, so sixteen input bytes are folded per step.
constexpr int sliceCount = 16;
using SliceTables = std::array<std::array<quint32, 256>, sliceCount>;

constexpr SliceTables makeSliceTables()
{
    SliceTables t {};
    for (quint32 i = 0; i < 256; ++i)
        t[0][i] = byteSwap(msbFirstEntry(i));
    for (int k = 1; k < sliceCount; ++k)
        for (quint32 i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    return t;
}

constexpr SliceTables slices = makeSliceTables();

inline quint32 loadLe32(const uchar* p)
{
    quint32 v;
    std::memcpy(&v, p, sizeof v);
    return qFromLittleEndian(v);
}

// Runs the byte-reversed register over the data.
quint32 update(quint32 reg, const uchar* p, qsizetype length)
{
    while (length >= sliceCount) {
        const quint32 a = loadLe32(p) ^ reg;
        const quint32 b = loadLe32(p + 4);
        const quint32 c = loadLe32(p + 8);
        const quint32 d = loadLe32(p + 12);
        reg = slices[15][a & 0xFFu] ^ slices[14][(a >> 8) & 0xFFu] ^ slices[13][(a >> 16) & 0xFFu]
            ^ slices[12][a >> 24] ^ slices[11][b & 0xFFu] ^ slices[10][(b >> 8) & 0xFFu]
            ^ slices[9][(b >> 16) & 0xFFu] ^ slices[8][b >> 24] ^ slices[7][c & 0xFFu]
            ^ slices[6][(c >> 8) & 0xFFu] ^ slices[5][(c >> 16) & 0xFFu] ^ slices[4][c >> 24]
            ^ slices[3][d & 0xFFu] ^ slices[2][(d >> 8) & 0xFFu] ^ slices[1][(d >> 16) & 0xFFu]
            ^ slices[0][d >> 24];
        p += sliceCount;
        length -= sliceCount;
    }
    // The tail goes through the published table, so that it is the one in use.
    while (length-- > 0)
        reg = CrcStd32::CRCTABLE[(reg ^ *p++) & 0xFFu] ^ (reg >> 8);
    return reg;
}

} // namespace

const quint32 CrcStd32::CRCTABLE[256] = {
#define NORVIK_CRC_ROW(i)                                                                          \
    slices[0][i], slices[0][i + 1], slices[0][i + 2], slices[0][i + 3], slices[0][i + 4],          \
        slices[0][i + 5], slices[0][i + 6], slices[0][i + 7]
    NORVIK_CRC_ROW(0),   NORVIK_CRC_ROW(8),   NORVIK_CRC_ROW(16),  NORVIK_CRC_ROW(24),
    NORVIK_CRC_ROW(32),  NORVIK_CRC_ROW(40),  NORVIK_CRC_ROW(48),  NORVIK_CRC_ROW(56),
    NORVIK_CRC_ROW(64),  NORVIK_CRC_ROW(72),  NORVIK_CRC_ROW(80),  NORVIK_CRC_ROW(88),
    NORVIK_CRC_ROW(96),  NORVIK_CRC_ROW(104), NORVIK_CRC_ROW(112), NORVIK_CRC_ROW(120),
    NORVIK_CRC_ROW(128), NORVIK_CRC_ROW(136), NORVIK_CRC_ROW(144), NORVIK_CRC_ROW(152),
    NORVIK_CRC_ROW(160), NORVIK_CRC_ROW(168), NORVIK_CRC_ROW(176), NORVIK_CRC_ROW(184),
    NORVIK_CRC_ROW(192), NORVIK_CRC_ROW(200), NORVIK_CRC_ROW(208), NORVIK_CRC_ROW(216),
    NORVIK_CRC_ROW(224), NORVIK_CRC_ROW(232), NORVIK_CRC_ROW(240), NORVIK_CRC_ROW(248),
#undef NORVIK_CRC_ROW
};

quint32 CrcStd32::calculate(const char* data, qsizetype length, quint32 init)
{
    return byteSwap(update(byteSwap(init), reinterpret_cast<const uchar*>(data), length));
}

void CrcStd32::add(QByteArray& data)
{
    const quint32 crc = calculate(data.constData(), data.size());
    char bytes[4];
    qToBigEndian(crc, bytes);
    data.append(bytes, 4);
}

void CrcStd32::remove(QByteArray& data)
{
    if (data.size() >= 4)
        data.chop(4);
}

bool CrcStd32::check(const QByteArray& data)
{
    if (data.isEmpty())
        return false;
    return calculate(data.constData(), data.size()) == 0;
}

bool CrcStd32::checkAndRemove(QByteArray& data)
{
    const bool ok = check(data);
    remove(data);
    return ok;
}
