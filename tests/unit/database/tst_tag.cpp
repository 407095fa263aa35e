#include "tag.h"

#include <QSignalSpy>
#include <QtTest>

#include <cstring>

namespace {
QByteArray leFloat(float f)
{
    QByteArray b(4, '\0');
    memcpy(b.data(), &f, 4);
    return b;
}
QByteArray leDouble(double d)
{
    QByteArray b(8, '\0');
    memcpy(b.data(), &d, 8);
    return b;
}
QByteArray reversed(QByteArray b)
{
    std::reverse(b.begin(), b.end());
    return b;
}
} // namespace

class tst_Tag : public QObject
{
    Q_OBJECT

private slots:
    void decode_data()
    {
        QTest::addColumn<tagDataType>("type");
        QTest::addColumn<int>("byteSize");
        QTest::addColumn<int>("startBit");
        QTest::addColumn<int>("bitSize");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QVariant>("expected");

        const auto b = [](const char* hex) { return QByteArray::fromHex(hex); };
        QTest::newRow("UINT 1") << TDBT_UINT << 1 << 0 << 0 << b("fe") << QVariant(254u);
        QTest::newRow("UINT 2 little-endian")
            << TDBT_UINT << 2 << 0 << 0 << b("0201") << QVariant(258u);
        QTest::newRow("BE_UINT 2") << TDBT_BE_UINT << 2 << 0 << 0 << b("0201") << QVariant(513u);
        QTest::newRow("UINT 4") << TDBT_UINT << 4 << 0 << 0 << b("78563412")
                                << QVariant(0x12345678u);
        QTest::newRow("BE_UINT 4")
            << TDBT_BE_UINT << 4 << 0 << 0 << b("12345678") << QVariant(0x12345678u);
        QTest::newRow("UINT 4 all ones")
            << TDBT_UINT << 4 << 0 << 0 << b("ffffffff") << QVariant(0xffffffffu);
        QTest::newRow("UINT bit field") << TDBT_UINT << 2 << 4 << 3 << b("f000") << QVariant(7u);
        QTest::newRow("BE_UINT bit field")
            << TDBT_BE_UINT << 2 << 4 << 3 << b("f000") << QVariant(0u);
        QTest::newRow("BE_UINT bit field high byte")
            << TDBT_BE_UINT << 2 << 12 << 4 << b("f000") << QVariant(15u);
        QTest::newRow("UINT startBit ignored without bitSize")
            << TDBT_UINT << 1 << 4 << 0 << b("f1") << QVariant(241u);
        QTest::newRow("UINT bitSize 32 keeps all")
            << TDBT_UINT << 4 << 0 << 32 << b("ffffffff") << QVariant(0xffffffffu);
        QTest::newRow("UINT bitSize beyond 32 keeps shifted")
            << TDBT_UINT << 4 << 8 << 40 << b("ffffffff") << QVariant(0xffffffu);
        QTest::newRow("UINT startBit 32 gives 0")
            << TDBT_UINT << 4 << 32 << 1 << b("ffffffff") << QVariant(0u);
        QTest::newRow("INT 1") << TDBT_INT << 1 << 0 << 0 << b("ff") << QVariant(-1);
        QTest::newRow("INT 2 little-endian")
            << TDBT_INT << 2 << 0 << 0 << b("fffe") << QVariant(-257);
        QTest::newRow("BE_INT 2") << TDBT_BE_INT << 2 << 0 << 0 << b("fffe") << QVariant(-2);
        QTest::newRow("INT 2 joystick -1000")
            << TDBT_INT << 2 << 0 << 0 << b("18fc") << QVariant(-1000);
        QTest::newRow("INT 4") << TDBT_INT << 4 << 0 << 0 << b("00000080") << QVariant(INT_MIN);
        QTest::newRow("BE_INT 4") << TDBT_BE_INT << 4 << 0 << 0 << b("fffffffe") << QVariant(-2);
        QTest::newRow("INT bit field negative")
            << TDBT_INT << 1 << 0 << 4 << b("0f") << QVariant(-1);
        QTest::newRow("INT bit field positive")
            << TDBT_INT << 1 << 0 << 4 << b("07") << QVariant(7);
        QTest::newRow("INT bit field shifted")
            << TDBT_INT << 2 << 4 << 8 << b("0008") << QVariant(-128);
        QTest::newRow("BE_INT bit field")
            << TDBT_BE_INT << 2 << 8 << 4 << b("0e00") << QVariant(-2);
        QTest::newRow("INT 3 byte bit field")
            << TDBT_INT << 3 << 16 << 8 << b("0000ff") << QVariant(-1);
        QTest::newRow("INT bit field 32 wide")
            << TDBT_INT << 4 << 0 << 32 << b("feffffff") << QVariant(-2);
        QTest::newRow("INT bit field past the slice reads 0")
            << TDBT_INT << 1 << 4 << 8 << b("f0") << QVariant(15);
        QTest::newRow("REAL 4") << TDBT_REAL << 4 << 0 << 0 << leFloat(1.5f) << QVariant(1.5f);
        QTest::newRow("BE_REAL 4")
            << TDBT_BE_REAL << 4 << 0 << 0 << reversed(leFloat(-2.25f)) << QVariant(-2.25f);
        QTest::newRow("REAL 8") << TDBT_REAL << 8 << 0 << 0 << leDouble(3.0e100)
                                << QVariant(3.0e100);
        QTest::newRow("BE_REAL 8")
            << TDBT_BE_REAL << 8 << 0 << 0 << reversed(leDouble(-0.125)) << QVariant(-0.125);
        QTest::newRow("STRING to first zero")
            << TDBT_STRING << 4 << 0 << 0 << QByteArray("AB\0C", 4)
            << QVariant(QStringLiteral("AB"));
        QTest::newRow("STRING without zero") << TDBT_STRING << 3 << 0 << 0
                                             << QByteArray("\xc2\xb0"
                                                           "C")
                                             << QVariant(QStringLiteral("\u00b0C"));
        QTest::newRow("RAW") << TDBT_RAW << 3 << 0 << 0 << b("00ff10") << QVariant(b("00ff10"));
        QTest::newRow("BOOLEAN bit 9 of 2 bytes")
            << TDBT_BOOLEAN << 2 << 9 << 0 << b("0002") << QVariant(true);
        QTest::newRow("BOOLEAN bit 9 not in first byte")
            << TDBT_BOOLEAN << 2 << 9 << 0 << b("0200") << QVariant(false);
        QTest::newRow("BE_BOOLEAN bit 9 of 2 bytes")
            << TDBT_BE_BOOLEAN << 2 << 9 << 0 << b("0200") << QVariant(true);
        QTest::newRow("BE_BOOLEAN bit 9 not in second byte")
            << TDBT_BE_BOOLEAN << 2 << 9 << 0 << b("0002") << QVariant(false);
        QTest::newRow("BOOLEAN bit 31 of 4 bytes")
            << TDBT_BOOLEAN << 4 << 31 << 0 << b("00000080") << QVariant(true);
        QTest::newRow("BOOLEAN ignores bitSize")
            << TDBT_BOOLEAN << 1 << 3 << 5 << b("08") << QVariant(true);
        QTest::newRow("BOOLEAN bit past the slice")
            << TDBT_BOOLEAN << 1 << 8 << 0 << b("ff") << QVariant(false);
        QTest::newRow("BE_BOOLEAN bit past the slice")
            << TDBT_BE_BOOLEAN << 2 << 40 << 0 << b("ffff") << QVariant(false);
    }
    void decode()
    {
        QFETCH(tagDataType, type);
        QFETCH(int, byteSize);
        QFETCH(int, startBit);
        QFETCH(int, bitSize);
        QFETCH(QByteArray, bytes);
        QFETCH(QVariant, expected);

        Tag tag(QStringLiteral("t"));
        tag.setDataType(type);
        tag.setByteSize(byteSize);
        tag.setStartBit(startBit);
        tag.setBitSize(bitSize);
        QSignalSpy spy(&tag, &Tag::valueUpdated);
        tag.setValue(bytes);
        QCOMPARE(tag.getRawData(), bytes);
        QCOMPARE(tag.getValue().userType(), expected.userType());
        QCOMPARE(tag.getValue(), expected);
        QCOMPARE(spy.count(), tag.getValue() == QVariant(0) ? 0 : 1);
    }

    // A BOOLEAN and a UINT bit field with the same startBit read the same bit,
    // in either byte order.
    void booleanMatchesBitField()
    {
        for (int size : { 1, 2, 4 }) {
            for (int bit = 0; bit < 8 * size; ++bit) {
                for (bool be : { false, true }) {
                    QByteArray bytes(size, '\0');
                    const int index = be ? size - 1 - bit / 8 : bit / 8;
                    bytes[index] = static_cast<char>(1 << (bit % 8));
                    Tag flag(QStringLiteral("flag"));
                    flag.setDataType(be ? TDBT_BE_BOOLEAN : TDBT_BOOLEAN);
                    flag.setByteSize(size);
                    flag.setStartBit(bit);
                    flag.setValue(bytes);
                    Tag field(QStringLiteral("field"));
                    field.setDataType(be ? TDBT_BE_UINT : TDBT_UINT);
                    field.setByteSize(size);
                    field.setStartBit(bit);
                    field.setBitSize(1);
                    field.setValue(bytes);
                    QVERIFY2(
                        flag.getValue().toBool() && field.getValue().toUInt() == 1,
                        qPrintable(
                            QStringLiteral("size %1 bit %2 be %3").arg(size).arg(bit).arg(be)));
                }
            }
        }
    }

    void unsupportedSizes_data()
    {
        QTest::addColumn<tagDataType>("type");
        QTest::addColumn<int>("byteSize");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("UINT 3 becomes 0")
            << TDBT_UINT << 3 << "Unsupported tag size for t data type UINT" << QVariant(0u);
        QTest::newRow("BE_UINT 8 becomes 0")
            << TDBT_BE_UINT << 8 << "Unsupported tag size for t data type BE_UINT" << QVariant(0u);
        QTest::newRow("INT 3") << TDBT_INT << 3 << "Unsupported tag size for t data type INT"
                               << QVariant(42);
        QTest::newRow("BE_INT 8") << TDBT_BE_INT << 8
                                  << "Unsupported tag size for t data type BE_INT" << QVariant(42);
        QTest::newRow("REAL 3") << TDBT_REAL << 3 << "Unsupported tag size for t data type REAL"
                                << QVariant(42);
        QTest::newRow("BE_REAL 2")
            << TDBT_BE_REAL << 2 << "Unsupported tag size for t data type BE_REAL" << QVariant(42);
        QTest::newRow("BOOLEAN 3")
            << TDBT_BOOLEAN << 3 << "Unsupported tag size for t data type TDBT_BOOLEAN"
            << QVariant(42);
        QTest::newRow("BE_BOOLEAN 8")
            << TDBT_BE_BOOLEAN << 8 << "Unsupported tag size for t data type TDBT_BE_BOOLEAN"
            << QVariant(42);
    }
    void unsupportedSizes()
    {
        QFETCH(tagDataType, type);
        QFETCH(int, byteSize);
        QFETCH(QString, message);
        QFETCH(QVariant, expected);

        Tag tag(QStringLiteral("t"));
        tag.setValue(QVariant(42));
        tag.setDataType(type);
        tag.setByteSize(byteSize);
        const QByteArray bytes(byteSize, '\x11');
        QTest::ignoreMessage(QtWarningMsg, qPrintable(message));
        tag.setValue(bytes);
        QCOMPARE(tag.getValue(), expected);
        QCOMPARE(tag.getValue().userType(), expected.userType());
        QCOMPARE(tag.getRawData(), bytes);
    }

    void typeError()
    {
        Tag tag(QStringLiteral("lower"));
        tag.setByteSize(2);
        QSignalSpy spy(&tag, &Tag::valueUpdated);
        QTest::ignoreMessage(QtWarningMsg,
                             "setTagValue - type error for lower - setValue: 01 02 current value: "
                             "QVariant(int, 0) dataType: 0");
        tag.setValue(QByteArray::fromHex("0102"));
        QCOMPARE(tag.getValue(), QVariant(0));
        QCOMPARE(tag.getRawData(), QByteArray::fromHex("0102"));
        QCOMPARE(spy.count(), 0);
    }

    // The slice may not match the tag's size: nothing outside it is read.
    void sliceShorterThanTag()
    {
        Tag tag(QStringLiteral("t"));
        tag.setDataType(TDBT_BE_UINT);
        tag.setByteSize(4);
        tag.setValue(QByteArray::fromHex("01"));
        QCOMPARE(tag.getValue(), QVariant(0x01000000u));
        tag.setDataType(TDBT_REAL);
        tag.setByteSize(8);
        tag.setValue(QByteArray());
        QCOMPARE(tag.getValue(), QVariant(0.0));
    }

    void signalsOnRealChangesOnly()
    {
        Tag tag(QStringLiteral("t"));
        tag.setDataType(TDBT_UINT);
        tag.setByteSize(1);
        tag.setStartBit(0);
        tag.setBitSize(4);
        QSignalSpy spy(&tag, &Tag::valueUpdated);
        tag.setValue(QByteArray::fromHex("05"));
        tag.setValue(QByteArray::fromHex("05"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0), QVariant(5u));
        // Only bits outside the field change: raw bytes kept, no signal.
        tag.setValue(QByteArray::fromHex("f5"));
        QCOMPARE(tag.getRawData(), QByteArray::fromHex("f5"));
        QCOMPARE(spy.count(), 1);

        // A variant equal after conversion is no change.
        tag.setValue(QVariant(5));
        QCOMPARE(spy.count(), 1);
        tag.setValue(QVariant(9));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(tag.getRawData(), QByteArray::fromHex("f5"));
        // The same bytes again do not restore the decoded value.
        tag.setValue(QByteArray::fromHex("f5"));
        QCOMPARE(tag.getValue(), QVariant(9));
        QCOMPARE(spy.count(), 2);
    }

    void rawBytesAreCopied()
    {
        Tag tag(QStringLiteral("t"));
        tag.setDataType(TDBT_RAW);
        tag.setByteSize(2);
        char frame[] = { 1, 2 };
        tag.setValue(QByteArray::fromRawData(frame, 2));
        frame[0] = 7;
        QCOMPARE(tag.getRawData(), QByteArray::fromHex("0102"));
        QCOMPARE(tag.getValue().toByteArray(), QByteArray::fromHex("0102"));
    }

    void states()
    {
        Tag tag(QStringLiteral("state"));
        QCOMPARE(tag.getState(), QString());
        tag.insertState(QVariant(0), QStringLiteral("waiting"));
        tag.insertState(QVariant(2), QStringLiteral("armd"));
        tag.insertState(QVariant(2), QStringLiteral("armed"));
        QCOMPARE(tag.getState(), QStringLiteral("waiting"));
        tag.setValue(QVariant(2u));
        QCOMPARE(tag.getState(), QStringLiteral("armed"));
        tag.setValue(QVariant(3));
        QCOMPARE(tag.getState(), QString());
    }
};

QTEST_GUILESS_MAIN(tst_Tag)
#include "tst_tag.moc"
