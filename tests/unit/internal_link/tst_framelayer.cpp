// Framing and CRC of the internal link.
#include "crcstd32.h"
#include "frame_layer.h"

#include <QRandomGenerator>
#include <QtTest>

class tst_FrameLayer : public QObject
{
    Q_OBJECT

private slots:
    void stuffing()
    {
        const auto hex = [](const QByteArray& text) { return QByteArray::fromHex(text); };
        // Both ways: the three special bytes, nothing, bytes that only look special.
        const QByteArrayList both = { "820A9041", "829002908A9010410A", "",
                                      "820A",     "02108A0D11130300FF", "8202108A0D11130300FF0A" };
        for (int i = 0; i < both.size(); i += 2) {
            QCOMPARE(FrameLayer().add(hex(both[i])), hex(both[i + 1]));
            QCOMPARE(FrameLayer().remove(hex(both[i + 1])), hex(both[i]));
        }
        // Delimiters dropped anywhere; an escape takes any byte, at the end a zero.
        const QByteArrayList tolerated
            = { "41820A420A82", "4142", "4190", "4180", "90419082", "C102" };
        for (int i = 0; i < tolerated.size(); i += 2)
            QCOMPARE(FrameLayer().remove(hex(tolerated[i])), hex(tolerated[i + 1]));
    }

    // The check value is appended big-endian; the CRC goes whether it matched or not.
    void crcCheckValueAndDamage()
    {
        QByteArray message("123456789");
        CrcStd32::add(message);
        QCOMPARE(message.mid(9), QByteArray::fromHex("0376E6E7"));
        QByteArray broken = message;
        broken[4] = char(broken.at(4) ^ 0x10);
        QVERIFY(!CrcStd32::checkAndRemove(broken) && broken.size() == 9);
        QVERIFY(CrcStd32::checkAndRemove(message) && message == "123456789");
        QByteArray empty, three("abc");
        CrcStd32::add(empty);
        CrcStd32::remove(three);
        QCOMPARE(empty + three, QByteArray::fromHex("FFFFFFFF616263"));
    }

    // The sliced CRC against a bit-at-a-time one on random data, every tail length.
    void crcMatchesDefinition()
    {
        QRandomGenerator rng(20261205);
        for (int length = 0; length < 4200; length += (length < 64 ? 1 : 1021)) {
            QByteArray data(length, Qt::Uninitialized);
            quint32 crc = 0xFFFFFFFFu;
            for (char& c : data) {
                crc ^= quint32(quint8(c = char(rng.bounded(256)))) << 24;
                for (int bit = 0; bit < 8; ++bit)
                    crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            }
            QCOMPARE(CrcStd32::calculate(data.constData(), data.size()), crc);
        }
    }
};

QTEST_GUILESS_MAIN(tst_FrameLayer)
#include "tst_framelayer.moc"
