#include "frame_layer.h"
#include "message_layer.h"

#include <QRandomGenerator>
#include <QtTest>

class tst_FrameLayer : public QObject
{
    Q_OBJECT

private slots:
    void stuffing_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("all three specials")
            << QByteArray::fromHex("820A9041") << QByteArray::fromHex("829002908A9010410A");
        QTest::newRow("empty") << QByteArray() << QByteArray::fromHex("820A");
        QTest::newRow("plain bytes")
            << QByteArray::fromHex("00017F80FF") << QByteArray::fromHex("8200017F80FF0A");
        QTest::newRow("xor partners pass")
            << QByteArray::fromHex("02108A") << QByteArray::fromHex("8202108A0A");
        QTest::newRow("line bytes pass")
            << QByteArray::fromHex("0D111303") << QByteArray::fromHex("820D1113030A");
    }
    void stuffing()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, frame);
        FrameLayer layer;
        QCOMPARE(layer.add(message), frame);
        QCOMPARE(layer.remove(frame), message);
    }

    void unstuffingIsTolerant_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("delimiters dropped anywhere")
            << QByteArray::fromHex("41820A420A82") << QByteArray::fromHex("4142");
        QTest::newRow("escape at the end")
            << QByteArray::fromHex("4190") << QByteArray::fromHex("4180");
        QTest::newRow("escape takes any byte")
            << QByteArray::fromHex("90419082") << QByteArray::fromHex("C102");
        QTest::newRow("only delimiters") << QByteArray::fromHex("820A820A") << QByteArray();
    }
    void unstuffingIsTolerant()
    {
        QFETCH(QByteArray, wire);
        QFETCH(QByteArray, message);
        QCOMPARE(FrameLayer().remove(wire), message);
    }

    // A CRC byte equal to a special byte is escaped like any other byte, and
    // no stuffed frame contains a delimiter except at its ends.
    void roundTripWithCrc()
    {
        FrameLayer frames;
        MessageLayer crc;
        QRandomGenerator rng(7);
        int escapedCrcBytes = 0;
        for (int round = 0; round < 2000; ++round) {
            QByteArray message(int(rng.bounded(64)), Qt::Uninitialized);
            for (char& c : message)
                c = char(rng.bounded(256));
            QByteArray withCrc = message;
            crc.add(withCrc);
            for (int i = withCrc.size() - 4; i < withCrc.size(); ++i)
                escapedCrcBytes += (quint8(withCrc[i]) == 0x0A || quint8(withCrc[i]) == 0x82
                                    || quint8(withCrc[i]) == 0x90);
            const QByteArray wire = frames.add(withCrc);
            const QByteArray inner = wire.mid(1, wire.size() - 2);
            QVERIFY(!inner.contains(char(0x0A)));
            QVERIFY(!inner.contains(char(0x82)));
            QByteArray back = frames.remove(wire);
            QVERIFY(crc.check(back));
            crc.remove(back);
            QCOMPARE(back, message);
        }
        QVERIFY(escapedCrcBytes > 0);
    }
};

QTEST_GUILESS_MAIN(tst_FrameLayer)
#include "tst_framelayer.moc"
