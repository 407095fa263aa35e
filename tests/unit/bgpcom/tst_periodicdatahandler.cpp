#include "cranesetup.h"
#include "messagelog.h"
#include "periodicdatahandler.h"

#include <QtEndian>
#include <QtTest>

// The crane's machine tags (ECOT) span bytes 0-23 of a periodic frame; its EGOT tags overlap
// them and are not fed from these frames.
class tst_PeriodicDataHandler : public QObject
{
    Q_OBJECT

    static QByteArray craneFrame(float boomAngle, quint16 pressure, quint16 rpm, quint8 flags)
    {
        QByteArray frame(24, '\0');
        auto* p = reinterpret_cast<uchar*>(frame.data());
        qToLittleEndian(boomAngle, p);
        qToLittleEndian(pressure, p + 4);
        qToBigEndian(rpm, p + 10);
        qToLittleEndian(qint16(-12), p + 12);
        p[14] = flags;
        return frame;
    }

private slots:
    void framesReachTheMachineTags()
    {
        CraneSetup crane;
        QVERIFY(crane.setUp(QStringLiteral("127.0.0.51")));
        PeriodicDataHandler handler(nullptr, crane.tags.get());
        QSignalSpy pressureUpdates(crane.tag("hydraulic_pressure"), &Tag::valueUpdated);
        QSignalSpy boomUpdates(crane.tag("boom_angle"), &Tag::valueUpdated);
        QSignalSpy modeUpdates(crane.tag("crane_mode"), &Tag::valueUpdated);
        handler.recvPeriodicData(craneFrame(45.5f, 300, 1500, 0x81));
        QCOMPARE(crane.tag("boom_angle")->getValue().toFloat(), 45.5f);
        QCOMPARE(crane.value("hydraulic_pressure"), 300u);
        QCOMPARE(crane.value("engine_rpm"), 1500u);
        QCOMPARE(crane.tag("overload_alarm")->getValue().toBool(), true);
        // Only what changed is announced.
        handler.recvPeriodicData(craneFrame(45.5f, 310, 1500, 0x81));
        QCOMPARE(pressureUpdates.size(), 2);
        QCOMPARE(boomUpdates.size(), 1);
        QCOMPARE(modeUpdates.size(), 0);

        // A short frame updates what fits and warns once.
        crane.tag("oil_temperature")->setValue(QVariant(55));
        MessageLog log;
        const QByteArray frame = craneFrame(10.0f, 310, 900, 0x02).left(12);
        handler.recvPeriodicData(frame);
        handler.recvPeriodicData(frame);
        QCOMPARE(crane.value("engine_rpm"), 900u);
        QCOMPARE(crane.tag("oil_temperature")->getValue().toInt(), 55); // beyond the frame
        QCOMPARE(log.messages(),
                 QStringList(
                     "Not recieveing all periodic data that are specified, got 12 of 14 ... ECOT"));

        // Tags the database disposes of are not written, before or after it says so.
        crane.tags->clear();
        handler.recvPeriodicData(craneFrame(1.0f, 320, 1500, 0x81));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        handler.recvPeriodicData(craneFrame(2.0f, 330, 1500, 0x81));
        QCOMPARE(pressureUpdates.size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_PeriodicDataHandler)
#include "tst_periodicdatahandler.moc"
