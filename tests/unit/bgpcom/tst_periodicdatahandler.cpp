#include "cranesetup.h"
#include "periodicdatahandler.h"
#include "warninglog.h"

#include <QtEndian>
#include <QtTest>

// The crane's machine tags (ECOutputTags.csv) span bytes 0-23 of a periodic frame.
class tst_PeriodicDataHandler : public QObject
{
    Q_OBJECT

    static QByteArray craneFrame(float boomAngle, quint16 pressure, quint16 rpm, quint8 flags)
    {
        QByteArray frame(24, '\0');
        auto* p = reinterpret_cast<uchar*>(frame.data());
        qToLittleEndian(boomAngle, p);
        qToLittleEndian(pressure, p + 4);
        qToLittleEndian(quint32(12500), p + 6);
        qToBigEndian(rpm, p + 10);
        qToLittleEndian(qint16(-12), p + 12);
        p[14] = flags;
        qToLittleEndian(1234.5, p + 16);
        return frame;
    }

private slots:
    void framesReachTheMachineTags()
    {
        CraneSetup crane;
        QVERIFY(crane.setUp(QStringLiteral("127.0.0.51")));
        PeriodicDataHandler handler(nullptr, crane.tags.get());
        crane.tag("state")->setValue(QVariant(1u));
        QSignalSpy pressureUpdates(crane.tag("hydraulic_pressure"), &Tag::valueUpdated);
        QSignalSpy boomUpdates(crane.tag("boom_angle"), &Tag::valueUpdated);

        handler.recvPeriodicData(craneFrame(45.5f, 300, 1500, 0x81));
        QCOMPARE(crane.tag("boom_angle")->getValue().toFloat(), 45.5f);
        QCOMPARE(crane.value("hydraulic_pressure"), 300u);
        QCOMPARE(crane.value("load_weight"), 12500u);
        QCOMPARE(crane.value("engine_rpm"), 1500u);
        QCOMPARE(crane.tag("oil_temperature")->getValue().toInt(), -12);
        QCOMPARE(crane.tag("outrigger_left_down")->getValue().toBool(), true);
        QCOMPARE(crane.tag("outrigger_right_down")->getValue().toBool(), false);
        QCOMPARE(crane.tag("overload_alarm")->getValue().toBool(), true);
        QCOMPARE(crane.tag("machine_hours")->getValue().toDouble(), 1234.5);

        // Only what changed is announced.
        handler.recvPeriodicData(craneFrame(45.5f, 310, 1500, 0x81));
        QCOMPARE(pressureUpdates.size(), 2);
        QCOMPARE(boomUpdates.size(), 1);
        // Tags of other links are left alone although the frame covers their bytes.
        QCOMPARE(crane.value("state"), 1u);
    }

    void shortFrameUpdatesWhatFitsAndWarnsOnce()
    {
        CraneSetup crane;
        QVERIFY(crane.setUp(QStringLiteral("127.0.0.51")));
        PeriodicDataHandler handler(nullptr, crane.tags.get());
        crane.tag("oil_temperature")->setValue(QVariant(55));
        WarningLog log;
        const QByteArray frame = craneFrame(10.0f, 200, 900, 0x02).left(12);
        handler.recvPeriodicData(frame);
        handler.recvPeriodicData(frame);
        QCOMPARE(crane.value("hydraulic_pressure"), 200u);
        QCOMPARE(crane.value("engine_rpm"), 900u);
        QCOMPARE(crane.tag("oil_temperature")->getValue().toInt(), 55); // beyond the frame
        QCOMPARE(log.messages(),
                 QStringList() << "Not recieveing all periodic data that are specified, got 12 "
                                  "of 14 ... ECOT");
    }

    void freshness()
    {
        CraneSetup crane;
        QVERIFY(crane.setUp(QStringLiteral("127.0.0.51")));
        PeriodicDataHandler handler(nullptr, crane.tags.get());
        QSignalSpy fresh(&handler, &PeriodicDataHandler::dataFresh);

        // Frames every 100 ms: one announcement for the whole stream.
        QTimer period;
        int sent = 0;
        connect(&period, &QTimer::timeout, &handler, [&]() {
            handler.recvPeriodicData(craneFrame(float(sent), quint16(sent), 0, 0));
            ++sent;
        });
        period.start(100);
        QTRY_COMPARE_WITH_TIMEOUT(sent, 25, 10000);
        period.stop();
        QCOMPARE(fresh.size(), 1);
        QCOMPARE(fresh.at(0).at(0).toBool(), true);

        // Silence: stale once, and fresh again with the next frame.
        QTRY_COMPARE_WITH_TIMEOUT(fresh.size(), 2, 6000);
        QCOMPARE(fresh.at(1).at(0).toBool(), false);
        handler.recvPeriodicData(QByteArray(24, '\0'));
        QCOMPARE(fresh.size(), 3);
        QCOMPARE(fresh.at(2).at(0).toBool(), true);
    }

    void tableWithoutMachineTags()
    {
        CraneSetup crane;
        QVERIFY(crane.setUp(QStringLiteral("127.0.0.51")));
        QVERIFY(
            crane.install.writeFile(QStringLiteral("Applications/crane/config/ECOutputTags.csv"),
                                    "norvik_link_tag;label;startByte;byteSize\n"
                                    "Norvik Remote Tag;GUI Label;Start Byte;Byte Size\n"));
        TagDatabase tags;
        tags.prePopulate();
        QVERIFY(!tags.get(QStringLiteral("boom_angle")));
        PeriodicDataHandler handler(nullptr, &tags);
        QSignalSpy fresh(&handler, &PeriodicDataHandler::dataFresh);
        handler.recvPeriodicData(QByteArray(64, '\x11'));
        QCOMPARE(fresh.size(), 1);

        // A tag appended later is bound from the next frame on.
        auto* late = new Tag(QStringLiteral("late_value"), &tags);
        late->setHostLink(Tag::ECOT);
        late->setDataType(TDBT_UINT);
        late->setStartByte(2);
        late->setByteSize(2);
        QVERIFY(tags.append(late));
        handler.recvPeriodicData(QByteArray::fromHex("0000341200"));
        QCOMPARE(late->getValue().toUInt(), 0x1234u);
    }
};

QTEST_GUILESS_MAIN(tst_PeriodicDataHandler)
#include "tst_periodicdatahandler.moc"
