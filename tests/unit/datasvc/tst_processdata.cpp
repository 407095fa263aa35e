// The process-data service on one thread: element encodings against known
// bytes, the status frame of the sample installation, and incoming frames
// reaching the input tags.
#include "datasvcfixture.h"
#include "processdata.h"
#include "processdataelement.h"

#include <QtTest>

class tst_ProcessData : public SampleTagsTest
{
    Q_OBJECT

private:
    void set(const char* name, const QVariant& value)
    {
        Tag* tag = m_tags->get(QLatin1String(name));
        QVERIFY2(tag, name);
        tag->setValue(value);
    }

private slots:
    void elementEncoding_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("byteSize");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("misconfigured");
        const auto row = [](const char* name, tagDataType type, int size, const QVariant& value,
                            const char* hex, bool misconfigured = false) {
            QTest::newRow(name) << int(type) << size << value << QByteArray::fromHex(hex)
                                << misconfigured;
        };
        row("UINT 1", TDBT_UINT, 1, QVariant(200u), "C8");
        row("UINT 1 keeps the low byte", TDBT_UINT, 1, QVariant(0x1FFu), "FF");
        row("UINT 2 holding 258", TDBT_UINT, 2, QVariant(258u), "0201");
        row("UINT 4", TDBT_UINT, 4, QVariant(0x01020304u), "04030201");
        row("UINT 4 above the signed range", TDBT_UINT, 4, QVariant(quint64(0xFFFFFFFEu)),
            "FEFFFFFF");
        row("UINT 4 from text digits", TDBT_UINT, 4, QVariant(QStringLiteral("39")), "27000000");
        row("INT 1 holding -1", TDBT_INT, 1, QVariant(-1), "FF");
        row("INT 2 holding -2", TDBT_INT, 2, QVariant(-2), "FEFF");
        row("INT 4 holding -100000", TDBT_INT, 4, QVariant(-100000), "6079FEFF");
        row("INT 2 from a real", TDBT_INT, 2, QVariant(300.4), "2C01");
        row("RAW as it stands", TDBT_RAW, 8, QVariant(QByteArray::fromHex("0102030405060708")),
            "0102030405060708");
        row("RAW shorter than its size", TDBT_RAW, 8, QVariant(QByteArray::fromHex("0A0B")),
            "0A0B");
        row("INT 1 not a number", TDBT_INT, 1, QVariant(QStringLiteral("on")), "00");
        row("UINT 2 not a number", TDBT_UINT, 2, QVariant(QStringLiteral("abc")), "0000");
        row("INT of 3 bytes", TDBT_INT, 3, QVariant(5), "000000", true);
        row("UINT of 8 bytes", TDBT_UINT, 8, QVariant(5u), "0000000000000000", true);
        row("REAL", TDBT_REAL, 4, QVariant(1.5), "00000000", true);
        row("STRING", TDBT_STRING, 2, QVariant(QStringLiteral("ab")), "0000", true);
        row("BE_UINT", TDBT_BE_UINT, 2, QVariant(258u), "0000", true);
        row("type not set", TDBT_NOT_SET, 1, QVariant(1), "00", true);
    }
    void elementEncoding()
    {
        QFETCH(int, type);
        QFETCH(int, byteSize);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, expected);
        QFETCH(bool, misconfigured);

        Tag* tag = new Tag(QStringLiteral("probe"), m_tags);
        tag->setDataType(tagDataType(type));
        tag->setByteSize(quint16(byteSize));
        QVERIFY(m_tags->append(tag));

        // One element takes the value at construction, the other follows the change.
        const auto expectWarning = [&] {
            if (misconfigured)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("probe.*cannot be encoded"));
        };
        tag->setValue(QVariant(QStringLiteral("before")));
        expectWarning();
        ProcessdataElement following(this, QStringLiteral("probe"), m_tags);
        tag->setValue(value);
        expectWarning();
        ProcessdataElement taking(this, QStringLiteral("probe"), m_tags);

        QCOMPARE(following.getValue().toHex(), expected.toHex());
        QCOMPARE(taking.getValue().toHex(), expected.toHex());
        QCOMPARE(taking.getTag(), tag);
    }

    void missingTagContributesNothing()
    {
        QTest::ignoreMessage(QtWarningMsg,
                             "ProcessdataElement: no tag absent - it is left out of the "
                             "process-data frame");
        ProcessdataElement element(this, QStringLiteral("absent"), m_tags);
        QCOMPARE(element.getTag(), nullptr);
        QCOMPARE(element.getValue(), QByteArray());
    }

    void statusFrame()
    {
        ProcessData service(m_tags);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        set("ru_identity", 258u);
        set("rc_state", 3u);
        set("g_link_status", 7u);
        set("g_link_rssi", 88u);
        set("g_link_cable", 1u);
        set("ru_battery", 100u);
        set("ru_charge_state", -1);
        set("led_control_1_to_8", QByteArray::fromHex("1122334455667788"));

        service.storeAndSendProcessData();
        service.storeAndSendProcessData();
        QCOMPARE(spy.count(), 2);
        const QByteArray expected = QByteArray::fromHex("0201"
                                                        "03"
                                                        "07"
                                                        "58"
                                                        "01"
                                                        "64"
                                                        "FF"
                                                        "1122334455667788");
        QCOMPARE(spy.at(0).at(0).toByteArray().toHex(), expected.toHex());
        QCOMPARE(spy.at(1).at(0).toByteArray(), spy.at(0).at(0).toByteArray());
        QCOMPARE(spy.at(0).at(1).value<Link>(), Internal);
        QCOMPARE(spy.at(0).at(2).toUInt(), 1u);
        QCOMPARE(spy.at(0).at(3).toUInt(), 1u);

        set("ru_charge_state", 42);
        service.storeAndSendProcessData();
        QCOMPARE(spy.last().at(0).toByteArray().at(7), '\x2A');
        QCOMPARE(spy.last().at(0).toByteArray().size(), 16);
    }

    void incomingFrames()
    {
        ProcessData service(m_tags);
        QSignalSpy frames(&service, &ProcessData::newProcessData);
        QSignalSpy sent(&service, &ServiceBase::readyReadFromService);
        QByteArray frame(24, '\0');
        frame[0] = 2; // state
        frame[8] = char(0x0C); // joystick 1: -500 = 0xFE0C
        frame[9] = char(0xFE);
        frame[16] = char(0x04); // switch 3

        service.readData(frame, Internal, 1);
        QCOMPARE(frames.count(), 1);
        QCOMPARE(frames.at(0).at(0).toByteArray(), frame);
        QCOMPARE(m_tags->get("state")->getValue(), QVariant(2u));
        QCOMPARE(m_tags->get("joystick_01")->getValue(), QVariant(-500));
        QCOMPARE(m_tags->get("switch_03")->getValue(), QVariant(true));

        frame[0] = 4;
        service.readData(frame, Internal, 2);
        QCOMPARE(frames.count(), 2);
        QCOMPARE(m_tags->get("state")->getValue(), QVariant(4u));

        // An acknowledgement of one of our frames is no input.
        frame[0] = 1;
        service.readData(frame, Internal, 3);
        QCOMPARE(frames.count(), 2);
        QCOMPARE(m_tags->get("state")->getValue(), QVariant(4u));
        QCOMPARE(sent.count(), 0); // nothing answered, not even for class 2
    }
};

QTEST_GUILESS_MAIN(tst_ProcessData)
#include "tst_processdata.moc"
