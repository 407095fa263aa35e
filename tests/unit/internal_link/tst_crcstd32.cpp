#include "crcstd32.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
// Bit-at-a-time CRC-32/MPEG-2, straight from the definition.
quint32 referenceCrc(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : data) {
        crc ^= quint32(quint8(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}
} // namespace

class tst_CrcStd32 : public QObject
{
    Q_OBJECT

private slots:
    void knownVectors_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("appended");
        QTest::newRow("check value") << QByteArray("123456789") << QByteArray::fromHex("0376E6E7");
        QTest::newRow("empty") << QByteArray() << QByteArray::fromHex("FFFFFFFF");
        QTest::newRow("ack of packet 5, service 3")
            << QByteArray::fromHex("C503") << QByteArray::fromHex("59031605");
        QTest::newRow("class 1 payload 01")
            << QByteArray::fromHex("400001") << QByteArray::fromHex("C58E4177");
        QTest::newRow("class 2 payload 00")
            << QByteArray::fromHex("810000") << QByteArray::fromHex("5AEA9207");
    }
    void knownVectors()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, appended);
        QByteArray message = data;
        CrcStd32::add(message);
        QCOMPARE(message, data + appended);
        QVERIFY(CrcStd32::check(message));
    }

    void tableIsByteSwapped()
    {
        QCOMPARE(CrcStd32::CRCTABLE[0], 0u);
        QCOMPARE(CrcStd32::CRCTABLE[1], 0xB71DC104u); // 0x04C11DB7 byte-swapped
        QCOMPARE(CrcStd32::CRCTABLE[128], 0xEEE00C69u); // 0x690CE0EE byte-swapped
    }

    void everyBitFlipIsDetected()
    {
        QByteArray message("123456789");
        CrcStd32::add(message);
        for (int byte = 0; byte < message.size(); ++byte) {
            for (int bit = 0; bit < 8; ++bit) {
                QByteArray broken = message;
                broken[byte] = char(broken.at(byte) ^ (1 << bit));
                QVERIFY2(!CrcStd32::check(broken),
                         qPrintable(QString("byte %1 bit %2").arg(byte).arg(bit)));
            }
        }
    }

    void emptyAndShortInput()
    {
        QVERIFY(!CrcStd32::check(QByteArray()));
        QByteArray three = QByteArray::fromHex("010203");
        CrcStd32::remove(three);
        QCOMPARE(three, QByteArray::fromHex("010203"));
        QByteArray withCrc = QByteArray::fromHex("C50359031605");
        QVERIFY(CrcStd32::checkAndRemove(withCrc));
        QCOMPARE(withCrc, QByteArray::fromHex("C503"));
        QByteArray bad = QByteArray::fromHex("C50359031604");
        QVERIFY(!CrcStd32::checkAndRemove(bad));
        QCOMPARE(bad, QByteArray::fromHex("C503"));
    }

    // The sliced implementation against the bit-at-a-time definition, over
    // lengths and alignments that exercise every tail of the slicing loop.
    void matchesReference()
    {
        QRandomGenerator rng(20261205);
        QByteArray pool(4096 + 64, Qt::Uninitialized);
        for (char& c : pool)
            c = char(rng.bounded(256));
        for (int offset = 0; offset < 16; ++offset) {
            for (int length : { 0, 1, 3, 15, 16, 17, 31, 32, 33, 63, 255, 256, 1000, 4096 }) {
                const QByteArray data = pool.mid(offset, length);
                QCOMPARE(CrcStd32::calculate(data.constData(), data.size()), referenceCrc(data));
                QByteArray message = data;
                CrcStd32::add(message);
                QVERIFY(CrcStd32::check(message));
            }
        }
    }
};

QTEST_GUILESS_MAIN(tst_CrcStd32)
#include "tst_crcstd32.moc"
