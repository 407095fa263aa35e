#ifndef CRCSTD32_H
#define CRCSTD32_H

#include <QByteArray>
#include <QtGlobal>

// CRC-32/MPEG-2 of the internal-link frames: polynomial 0x04C11DB7, register
// starts at 0xFFFFFFFF, not reflected, no final XOR, appended most significant
// byte first. A message with its CRC appended leaves the register at 0.
class CrcStd32
{
public:
    // The MSB-first table with each entry byte-swapped, so that the register
    // can be kept byte-reversed and updated with a right shift.
    static const quint32 CRCTABLE[256];

    static void add(QByteArray& data);
    static void remove(QByteArray& data);
    static bool check(const QByteArray& data);
    static bool checkAndRemove(QByteArray& data);

    // The CRC register after running over `length` bytes from `init`, in its
    // natural (not byte-reversed) form; calculate("123456789") is 0x0376E6E7.
    static quint32 calculate(const char* data, qsizetype length, quint32 init = 0xFFFFFFFFu);
};

#endif
