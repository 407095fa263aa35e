#include "sampleinstall.h"
#include "tagdatabase.h"
#include "warninglog.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
const char* const kHeader = "norvik_link_tag;label;startByte;byteSize;startBit;bitSize;dataType\n"
                            "Tag;Label;Start Byte;Byte Size;Start Bit;Bit Size;Data Type\n";

} // namespace

class tst_TagDatabase : public QObject
{
    Q_OBJECT

private slots:
    void sampleLoadsCleanly()
    {
        SampleInstall sample;
        QVERIFY(sample.isValid());
        sample.useApp(QStringLiteral("crane"));
        TagDatabase db;
        {
            WarningLog log;
            db.prePopulate();
            QVERIFY2(WarningLog::messages().isEmpty(),
                     qPrintable(WarningLog::messages().join('\n')));
        }
        const QVector<QPair<const char*, Tag::HostLinkType>> relied {
            { "state", Tag::RIIT },
            { "ru_identity", Tag::RIOT },
            { "rc_state", Tag::RIOT },
            { "g_link_status", Tag::RIOT },
            { "g_link_rssi", Tag::RIOT },
            { "g_link_cable", Tag::RIOT },
            { "bu_identity", Tag::BTRS },
            { "bu_state", Tag::BTRS },
            { "ru_battery", Tag::RIOT },
            { "ru_charge_state", Tag::RIOT },
            { "led_control_1_to_8", Tag::RIOT },
            { "wlan0ip", Tag::NOLK },
            { "eth0ip", Tag::NOLK },
            { "touch_mode", Tag::NOLK },
            { "touch_state", Tag::NOLK },
            { "light_sensor_value", Tag::NOLK },
            { "ru_id", Tag::RICT },
            { "encoder_id", Tag::RICT },
            { "boom_angle", Tag::ECOT },
            { "crane_mode", Tag::EGOT },
        };
        for (const auto& [name, link] : relied) {
            Tag* tag = db.get(QLatin1String(name));
            QVERIFY2(tag, name);
            QCOMPARE(tag->getHostLink(), link);
            QCOMPARE(tag->parent(), &db);
        }
        // The outgoing status frame is 16 bytes: 2 + 6 * 1 + 8.
        int outgoing = 0;
        for (const char* name :
             { "ru_identity", "rc_state", "g_link_status", "g_link_rssi", "g_link_cable",
               "ru_battery", "ru_charge_state", "led_control_1_to_8" })
            outgoing += db.get(QLatin1String(name))->getByteSize();
        QCOMPARE(outgoing, 16);

        Tag* joystick = db.get(QStringLiteral("joystick_01"));
        QCOMPARE(joystick->getLabel(), QStringLiteral("Joystick 1"));
        QCOMPARE(joystick->getStartByte(), quint16(8));
        QCOMPARE(joystick->getByteSize(), quint16(2));
        QCOMPARE(joystick->getDataType(), TDBT_INT);
        QCOMPARE(joystick->getMinimumValue(), -1000.0f);
        QCOMPARE(joystick->getMaximumWarningValue(), 700.0f);
        QCOMPARE(joystick->getMinimumAlarmValue(), -850.0f);
        QCOMPARE(db.get(QStringLiteral("rc_temperature"))->getUnitLabel(),
                 QStringLiteral("degree"));
        // Initial values by type; a RAW tag starts with zero bytes.
        QCOMPARE(db.get(QStringLiteral("led_control_1_to_8"))->getRawData(), QByteArray(8, '\0'));
        QCOMPARE(db.get(QStringLiteral("wlan0ip"))->getValue().userType(), int(QMetaType::QString));
        QCOMPARE(db.get(QStringLiteral("stop_button"))->getValue().toBool(), false);
    }

    void onlyOneTable()
    {
        SampleInstall sample;
        QVERIFY(QDir(sample.sharedConfigDir()).removeRecursively());
        QVERIFY(QFile::remove(sample.appDir("crane") + "/config/EGOutputTags.csv"));
        sample.useApp(QStringLiteral("crane"));
        const QString dir = sample.appDir("crane");
        for (const char* path :
             { "/../.config/remoteInternalInputTags.csv",
               "/../.config/remoteInternalOutputTags.csv", "/../.config/baseToRemoteStatusTags.csv",
               "/../.config/remoteInternalTags.csv", "/../.config/remoteInternalConfigTags.csv",
               "/config/EGOutputTags.csv" })
            QTest::ignoreMessage(
                QtWarningMsg, qPrintable("Could not find the configuration file: " + dir + path));
        TagDatabase db;
        db.prePopulate();
        QCOMPARE(db.size(), 9);
        for (int i = 0; i < db.size(); ++i)
            QCOMPARE(db.at(i)->getHostLink(), Tag::ECOT);
        QCOMPARE(db.get(QStringLiteral("state")), nullptr);
    }

    void firstDefinitionWins()
    {
        SampleInstall sample;
        QVERIFY(sample.writeFile("Applications/crane/config/ECOutputTags.csv",
                                 QByteArray(kHeader)
                                     + "boom_angle;Boom;0;4;0;0;REAL\n"
                                       "joystick_01;Dup;0;1;0;0;UINT\n"
                                       "boom_angle;Again;4;4;0;0;REAL\n"));
        sample.useApp(QStringLiteral("crane"));
        QTest::ignoreMessage(QtWarningMsg, "Database tag joystick_01 exists, not appended");
        QTest::ignoreMessage(QtWarningMsg, "Database tag boom_angle exists, not appended");
        TagDatabase db;
        db.prePopulate();
        Tag* joystick = db.get(QStringLiteral("joystick_01"));
        QCOMPARE(joystick->getHostLink(), Tag::RIIT);
        QCOMPARE(joystick->getLabel(), QStringLiteral("Joystick 1"));
        // Within one table the later row's values replace the earlier ones.
        QCOMPARE(db.get(QStringLiteral("boom_angle"))->getLabel(), QStringLiteral("Again"));
        int count = 0;
        for (int i = 0; i < db.size(); ++i)
            count += db.at(i)->getTag() == QLatin1String("joystick_01");
        QCOMPARE(count, 1);
    }

    void columnConversions()
    {
        SampleInstall sample;
        QVERIFY(sample.writeFile("Applications/.config/remoteInternalInputTags.csv",
                                 "norvik_link_tag;startByte;byteSize;minValue;dataType;extra\n"
                                 "T;S;B;M;D;E\n"
                                 "wide;70000;x;-1.5e2;UINT;ignored\n"
                                 "neg;-1;;abc;uint\n"
                                 "bare\n"));
        sample.useApp(QStringLiteral("crane"));
        TagDatabase db;
        db.prePopulate();
        Tag* wide = db.get(QStringLiteral("wide"));
        QCOMPARE(wide->getStartByte(), quint16(70000 & 0xffff));
        QCOMPARE(wide->getByteSize(), quint16(0));
        QCOMPARE(wide->getMinimumValue(), -150.0f);
        QCOMPARE(wide->getDataType(), TDBT_UINT);
        Tag* neg = db.get(QStringLiteral("neg"));
        QCOMPARE(neg->getStartByte(), quint16(0));
        QCOMPARE(neg->getMinimumValue(), 0.0f);
        QCOMPARE(neg->getDataType(), TDBT_NOT_SET);
        QCOMPARE(neg->getLabel(), QString());
        // A one-field row keeps its line feed in the key, as the table reader takes it.
        QVERIFY(db.get(QStringLiteral("bare\n")));
    }

    void processData()
    {
        SampleInstall sample;
        sample.useApp(QStringLiteral("crane"));
        TagDatabase db;
        db.prePopulate();

        QSignalSpy joystick(db.get("joystick_02"), &Tag::valueUpdated);
        QSignalSpy sw3(db.get("switch_03"), &Tag::valueUpdated);
        QSignalSpy steps(db.get("encoder_01_steps"), &Tag::valueUpdated);
        QSignalSpy rcState(db.get("rc_state"), &Tag::valueUpdated);
        QByteArray frame(24, '\0');
        frame[0] = 2; // armed
        frame[1] = 0x21; // stop button, power mode 2
        frame[2] = 0x01; // frame counter 0x0102, big-endian
        frame[3] = 0x02;
        frame[10] = static_cast<char>(0x18); // joystick 2: -1000
        frame[11] = static_cast<char>(0xfc);
        frame[16] = 0x04; // switch 3
        frame[20] = static_cast<char>(0x8e); // steps -2, encoder button
        frame[22] = static_cast<char>(0xd0); // 2000 mV
        frame[23] = 0x07;
        db.processProsessData(frame);

        QCOMPARE(db.get("state")->getValue(), QVariant(2u));
        QCOMPARE(db.get("stop_button")->getValue(), QVariant(true));
        QCOMPARE(db.get("horn_button")->getValue(), QVariant(false));
        QCOMPARE(db.get("rc_power_mode")->getValue(), QVariant(2u));
        QCOMPARE(db.get("pd_frame_counter")->getValue(), QVariant(0x0102u));
        QCOMPARE(db.get("joystick_02")->getValue(), QVariant(-1000));
        QCOMPARE(db.get("switches_raw")->getValue(), QVariant(4u));
        QCOMPARE(db.get("switch_03")->getValue(), QVariant(true));
        QCOMPARE(db.get("switch_04")->getValue(), QVariant(false));
        QCOMPARE(db.get("encoder_01_steps")->getValue(), QVariant(-2));
        QCOMPARE(db.get("encoder_01_button")->getValue(), QVariant(true));
        QCOMPARE(db.get("rc_supply_voltage")->getValue(), QVariant(2000u));
        QCOMPARE(joystick.count(), 1);
        QCOMPARE(sw3.count(), 1);
        QCOMPARE(steps.count(), 1);

        // Another link's tags are not fed, even where the frame covers their bytes.
        QCOMPARE(rcState.count(), 0);
        QCOMPARE(db.get("rc_state")->getRawData(), QByteArray());

        // The same frame again: no signal anywhere.
        QVector<QSignalSpy*> spies;
        for (int i = 0; i < db.size(); ++i)
            spies.append(new QSignalSpy(db.at(i), &Tag::valueUpdated));
        db.processProsessData(frame);
        for (QSignalSpy* spy : spies)
            QCOMPARE(spy->count(), 0);

        // One bit flips: exactly the tags that read it signal.
        frame[16] = 0x0c;
        db.processProsessData(frame);
        QStringList changed;
        for (int i = 0; i < db.size(); ++i)
            if (spies.at(i)->count())
                changed.append(db.at(i)->getTag());
        QCOMPARE(changed, (QStringList { "switches_raw", "switch_04" }));
        qDeleteAll(spies);
    }

    void shortFrame()
    {
        SampleInstall sample;
        QVERIFY(sample.writeFile("Applications/.config/remoteInternalInputTags.csv",
                                 QByteArray(kHeader)
                                     + "tail;Tail;9;2;0;0;RAW\n"
                                       "beyond;Beyond;30;2;0;0;BE_UINT\n"
                                       "lower;Lower;0;1;0;0;uint\n"));
        sample.useApp(QStringLiteral("crane"));
        TagDatabase db;
        db.prePopulate();
        QByteArray frame = QByteArray::fromHex("00010203040506070809");
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^setTagValue - type error for lower "));
        db.processProsessData(frame);
        QCOMPARE(db.get("tail")->getRawData(), QByteArray::fromHex("0900"));
        QCOMPARE(db.get("beyond")->getValue(), QVariant(0u));
        // The unknown type is reported on each change of its slice only.
        db.processProsessData(frame);
        frame[0] = 1;
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^setTagValue - type error for lower "));
        db.processProsessData(frame);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^setTagValue - type error for lower "));
        db.processProsessData(QByteArray());
        QCOMPARE(db.get("tail")->getRawData(), QByteArray(2, '\0'));
    }

    void slotsAndLookups()
    {
        SampleInstall sample;
        sample.useApp(QStringLiteral("crane"));
        TagDatabase db;
        db.prePopulate();
        QSignalSpy spy(db.get("g_link_status"), &Tag::valueUpdated);
        db.setValueSlot(QStringLiteral("g_link_status"), 3);
        QCOMPARE(db.get("g_link_status")->getValue(), QVariant(3));
        QCOMPARE(spy.count(), 1);
        const int size = db.size();
        db.setValueSlot(QStringLiteral("no_such_tag"), 3);
        QCOMPARE(db.size(), size);

        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(QStringLiteral("TagDatabase: index is out of range, index = %1 size = %1")
                           .arg(size)));
        QCOMPARE(db.at(size), nullptr);
        QCOMPARE(db.get(QStringLiteral("STATE")), nullptr);

        // Tags appended later are found and, with the RIIT link, fed too.
        auto* extra = new Tag(QStringLiteral("late"), &db);
        extra->setDataType(TDBT_UINT);
        extra->setByteSize(1);
        extra->setStartByte(5);
        extra->setHostLink(Tag::RIIT);
        QVERIFY(db.append(extra));
        QCOMPARE(db.get("late"), extra);
        db.processProsessData(QByteArray::fromHex("000000000009"));
        QCOMPARE(extra->getValue(), QVariant(9u));
    }
};

QTEST_GUILESS_MAIN(tst_TagDatabase)
#include "tst_tagdatabase.moc"
