// The base-unit manager: its fallback policy, refused handshakes, link status over both
// paths and a TCP link; and the handler of the base unit's periodic data.
#include "baseunitsimulator.h"
#include "bgpcom.h"
#include "checksum.h"
#include "cranesetup.h"
#include "messagelog.h"
#include "periodicdatahandler.h"

#include <QtEndian>
#include <QtTest>

using namespace RUzad;

namespace {
// Each base unit of this test has a loopback address of its own (the port is fixed).
const QString kNoBaseUnit = QStringLiteral("127.0.0.45"); // nothing listens
const QString kStuck = QStringLiteral("127.0.0.46"); // attempts stay "connecting"
const QString kBaseUnit = QStringLiteral("127.0.0.47");

QByteArray message(quint8 id, const QByteArray& payload = QByteArray())
{
    return BaseUnitSimulator::encode(id, payload, BaseUnitSimulator::wallClock());
}
QByteArray initAck(quint16 code = 0, const QByteArray& text = QByteArray())
{
    return message(ID_INITACK, (QByteArray(1, char(code)) + '\0' + text).leftJustified(42, '\0'));
}
QByteArrayList ids(const QSignalSpy& tunnel)
{
    QByteArrayList out;
    for (const QList<QVariant>& sent : tunnel)
        out << QByteArray::number(sent.at(0).toByteArray().at(4));
    return out;
}
} // namespace

class tst_BGPCom : public QObject
{
    Q_OBJECT

    // The crane's machine tags (ECOT) span bytes 0-23 of a periodic frame; its EGOT tags
    // overlap them and are not fed from these frames.
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
    void initTestCase() { qRegisterMetaType<NorvikLinkDefines::NotificationSeverity>(); }

    // Outgoing messages take the tunnel by "GFBM", the remote's state and the cable; tunnelled
    // bytes are taken by "GFBM" and the state and answered with a heartbeat.
    void fallbackPolicy_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<uint>("rcState");
        QTest::addColumn<uint>("cable");
        QTest::addColumn<bool>("out");
        QTest::addColumn<bool>("in");
        QTest::newRow("disabled, enabled") << "0" << 3u << 0u << false << false;
        QTest::newRow("always, selected") << "1" << 1u << 0u << true << true;
        QTest::newRow("when armed, selected") << "2" << 1u << 0u << false << false;
        QTest::newRow("when armed, armed") << "2" << 2u << 0u << true << true;
        QTest::newRow("always, cable plugged") << "1" << 3u << 1u << false << true;
        QTest::newRow("out of range") << "3" << 3u << 0u << false << true;
        QTest::newRow("not configured") << QString() << 3u << 0u << false << false;
    }
    void fallbackPolicy()
    {
        QFETCH(QString, mode);
        QFETCH(uint, rcState);
        QFETCH(uint, cable);
        QFETCH(bool, out);
        QFETCH(bool, in);
        CraneSetup crane;
        QVERIFY(crane.setUp(kNoBaseUnit, mode));
        if (mode.isNull())
            QTest::ignoreMessage(QtWarningMsg,
                                 "G-Fallback mode (GFBM) is not configured. Fallback disabled.");
        BGPCom bgp(crane.tags.get(), crane.app.get());
        QSignalSpy tunnel(&bgp, &BGPCom::sendFallback);
        QSignalSpy cmds(&bgp, &BGPCom::readyReadCmd);
        crane.tag("state")->setValue(QVariant(rcState)); // followed after construction
        crane.tag("g_link_cable")->setValue(QVariant(cable));
        bgp.run();
        QCOMPARE(crane.value("g_link_status"), uint(STATE_NO_LINK));
        for (int i = 0; mode == "3" && i < 2; ++i)
            QTest::ignoreMessage(QtCriticalMsg,
                                 "G-Fallback mode (GFBM) is misconfigured. Discarding...");
        bgp.sendCmd("\x01\x02\x03");
        QCOMPARE(tunnel.size(), int(out));
        if (out) {
            QCOMPARE(tunnel.at(0).at(0).toByteArray().left(8), QByteArray("LrdA\3\0\3\0", 8));
            QCOMPARE(tunnel.at(0).at(0).toByteArray().mid(12), QByteArray("\x01\x02\x03"));
        }
        bgp.receiveFallback(message(ID_CMD, "in"));
        QCOMPARE(cmds.size(), int(in));
        QCOMPARE(ids(tunnel), out ? QByteArrayList({ "3", "0" }) : QByteArrayList());
        bgp.receiveServiceForward("\x05"); // TCP only
        QCOMPARE(tunnel.size(), out ? 2 : 0);
    }

    // A refused handshake (here answered through the tunnel) ends the link with a popup.
    void refusedHandshake_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("checksum") << 4 << QByteArray("x")
                                  << "Application checksum mismatch. Upgrade and pair required.";
        QTest::newRow("generic") << 5 << QByteArray("Boom locked") << "Boom locked";
        QTest::newRow("unknown code")
            << 77 << QByteArray("?")
            << "Unrecognized configuration error! R-Uzad may be out of sync...";
    }
    void refusedHandshake()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, text);
        CraneSetup crane;
        QVERIFY(crane.setUp(kNoBaseUnit, QStringLiteral("1")));
        BGPCom bgp(crane.tags.get(), crane.app.get());
        QSignalSpy popups(&bgp, &BGPCom::configErrorNotification);
        QSignalSpy tunnel(&bgp, &BGPCom::sendFallback);
        bgp.run();
        const QByteArray name = enumName(ErrorCode(code));
        QTest::ignoreMessage(
            QtCriticalMsg, "R-Uzad initialization failed: " + name + " | Origin: ORIGIN_FALLBACK");
        QTest::ignoreMessage(QtWarningMsg, "R-Uzad configuration error: " + name);
        bgp.receiveFallback(initAck(quint16(code), text));
        QCOMPARE(popups.size(), 1);
        QTEST(popups.at(0).at(0).toString(), "shown");
        QCOMPARE(popups.at(0).at(1).toBool(), true);
        QCOMPARE(popups.at(0).at(2).value<NorvikLinkDefines::NotificationSeverity>(),
                 NorvikLinkDefines::WARNING);
        // Nothing revives it: no tunnel traffic, no reconnect, no later handshake.
        bgp.sendCmd("x");
        bgp.receiveFallback(initAck());
        QCOMPARE(crane.value("g_link_status"), uint(STATE_LINK_ERROR));
        QCOMPARE(tunnel.size(), 0);
        QVERIFY(!bgp.findChild<QTimer*>("reconnect")->isActive());
    }

    // "g_link_status" when both paths are involved.
    void linkStatus()
    {
        StuckBaseUnit stuck;
        QVERIFY(stuck.listen(kStuck));
        CraneSetup crane;
        QVERIFY(crane.setUp(kStuck, QStringLiteral("1")));
        BGPCom bgp(crane.tags.get(), crane.app.get());
        QSignalSpy tunnel(&bgp, &BGPCom::sendFallback);
        bgp.run();
        // TCP gets nowhere: the handshake of this application is offered through the tunnel.
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel.isEmpty(), 5000);
        QCOMPARE(tunnel.at(0).at(0).toByteArray().mid(4, 1), QByteArray(1, char(ID_INIT)));
        QCOMPARE(tunnel.at(0).at(0).toByteArray().mid(12),
                 QByteArray::fromHex("020134122700") + calculateChecksum(crane.appDir()));
        // TCP still trying: a tunnelled handshake is fallback operation, and losing the tunnel
        // leaves no link.
        bgp.receiveFallback(initAck());
        QCOMPARE(crane.value("g_link_status"), uint(STATE_FALLBACK));
        bgp.resetFallback();
        QCOMPARE(crane.value("g_link_status"), uint(STATE_NO_LINK));

        BaseUnitSimulator sim;
        sim.setBaseId(39);
        QVERIFY(sim.listen(QHostAddress(kBaseUnit), 1147));
        CraneSetup other;
        QVERIFY(other.setUp(kBaseUnit, QStringLiteral("1")));
        sim.setAppDir(other.appDir());
        BGPCom linked(other.tags.get(), other.app.get());
        linked.run();
        QTRY_COMPARE(other.value("g_link_status"), uint(STATE_OPERATIONAL));
        // TCP up: the tunnel coming and going changes nothing...
        linked.receiveFallback(initAck());
        linked.resetFallback();
        linked.receiveFallback(initAck());
        QCOMPARE(other.value("g_link_status"), uint(STATE_OPERATIONAL));
        // ...and TCP lost with the tunnel up is fallback operation.
        sim.dropConnection();
        QTRY_COMPARE(other.value("g_link_status"), uint(STATE_FALLBACK));
    }

    // The handshake, service forwards both ways, and status; a tag database
    // cleared meanwhile gets no writes into tags that are gone or that replace them.
    void tcpLink()
    {
        BaseUnitSimulator sim;
        sim.setBaseId(39);
        QVERIFY(sim.listen(QHostAddress(kBaseUnit), 1147));
        CraneSetup crane;
        QVERIFY(crane.setUp(kBaseUnit));
        sim.setAppDir(crane.appDir());
        BGPCom bgp(crane.tags.get(), crane.app.get());
        bgp.run();
        QTRY_VERIFY(sim.isInitialized());
        QCOMPARE(sim.received(BaseUnitSimulator::INIT).at(0).payload,
                 QByteArray::fromHex("020134122700") + calculateChecksum(crane.appDir()));
        // Service forwards pass both ways unchanged.
        QSignalSpy cmds(&bgp, &BGPCom::readyReadCmd);
        QSignalSpy forwards(&bgp, &BGPCom::sendServiceForward);
        sim.sendServiceForward("\x04\x01");
        QTRY_COMPARE(forwards.value(0).value(0).toByteArray(), QByteArray("\x04\x01"));
        bgp.receiveServiceForward("\x04\x09");
        QTRY_COMPARE(sim.received(BaseUnitSimulator::SERVICE_FORWARD).value(0).payload, "\x04\x09");

        sim.sendBuStatus(7, 3);
        QTRY_COMPARE(crane.value("bu_state"), 3u);
        crane.tags->clear();
        sim.sendBuStatus(7, 4);
        QTest::qWait(50); // the tags are deleted while status arrives
        crane.tags->prePopulate();
        sim.sendBuStatus(7, 5);
        sim.sendCommand("sync");
        QTRY_COMPARE(cmds.size(), 1); // everything before it was handled
        QCOMPARE(crane.value("bu_state"), 0u);
    }

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

QTEST_GUILESS_MAIN(tst_BGPCom)
#include "tst_bgpcom.moc"
