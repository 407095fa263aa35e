#include "baseunitsimulator.h"
#include "bgpcom.h"
#include "cranesetup.h"

#include <QtTest>

using namespace RUzad;

namespace {
// Nothing listens here: the client keeps retrying while the tunnel policy is exercised.
const QString kNoBaseUnit = QStringLiteral("127.0.0.41");

QByteArray heartbeat()
{
    return BaseUnitSimulator::encode(ID_HEARTBEAT, QByteArray(), BaseUnitSimulator::wallClock());
}
} // namespace

class tst_BGPCom : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<NorvikLinkDefines::NotificationSeverity>(); }

    void fallbackPolicy_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<uint>("rcState");
        QTest::addColumn<uint>("cable");
        QTest::addColumn<bool>("tunnelled");
        QTest::addColumn<bool>("misconfigured");
        QTest::newRow("disabled, enabled") << "0" << 3u << 0u << false << false;
        QTest::newRow("always, selected") << "1" << 1u << 0u << true << false;
        QTest::newRow("when armed, selected") << "2" << 1u << 0u << false << false;
        QTest::newRow("when armed, armed") << "2" << 2u << 0u << true << false;
        QTest::newRow("when armed, enabled") << "2" << 3u << 0u << true << false;
        QTest::newRow("when armed, stop") << "2" << 4u << 0u << false << false;
        QTest::newRow("always, cable plugged") << "1" << 3u << 1u << false << false;
        QTest::newRow("out of range") << "3" << 3u << 0u << false << true;
        QTest::newRow("not a number") << "x" << 3u << 0u << false << true;
        QTest::newRow("not configured") << QString() << 3u << 0u << false << false;
    }
    void fallbackPolicy()
    {
        QFETCH(QString, mode);
        QFETCH(uint, rcState);
        QFETCH(uint, cable);
        QFETCH(bool, tunnelled);
        QFETCH(bool, misconfigured);
        CraneSetup crane;
        QVERIFY(crane.setUp(kNoBaseUnit, { { QStringLiteral("GFBM"), mode } }));
        if (mode.isNull()) {
            QTest::ignoreMessage(QtWarningMsg,
                                 "G-Fallback mode (GFBM) is not configured. Fallback disabled.");
        }
        BGPCom bgp(crane.tags.get(), crane.app.get());
        QSignalSpy tunnel(&bgp, &BGPCom::sendFallback);
        // The manager follows the tags after its construction.
        crane.tag("state")->setValue(QVariant(rcState));
        crane.tag("g_link_cable")->setValue(QVariant(cable));
        bgp.run();
        QCOMPARE(crane.value("g_link_status"), uint(STATE_NO_LINK));

        if (misconfigured)
            QTest::ignoreMessage(QtCriticalMsg,
                                 "G-Fallback mode (GFBM) is misconfigured. Discarding...");
        bgp.sendCmd("\x01\x02\x03");
        QCOMPARE(tunnel.size(), tunnelled ? 1 : 0);
        if (tunnelled) {
            const QByteArray sent = tunnel.at(0).at(0).toByteArray();
            QCOMPARE(sent.size(), 15);
            QCOMPARE(sent.left(8), QByteArray("LrdA\x03\x00\x03\x00", 8));
            QCOMPARE(sent.mid(12), QByteArray("\x01\x02\x03"));
        }

        // Tunnelled bytes are taken under the same policy and answered with a heartbeat.
        if (misconfigured)
            QTest::ignoreMessage(QtCriticalMsg,
                                 "G-Fallback mode (GFBM) is misconfigured. Discarding...");
        bgp.receiveFallback(heartbeat());
        QCOMPARE(tunnel.size(), tunnelled ? 2 : 0);
        if (tunnelled)
            QCOMPARE(tunnel.at(1).at(0).toByteArray().mid(4, 4), QByteArray(4, '\0'));
    }

    void machineStopAndServiceForwardGoOverTcpOnly()
    {
        CraneSetup crane;
        QVERIFY(crane.setUp(kNoBaseUnit, { { QStringLiteral("GFBM"), QStringLiteral("1") } }));
        BGPCom bgp(crane.tags.get(), crane.app.get());
        QSignalSpy tunnel(&bgp, &BGPCom::sendFallback);
        // Before run() there is no link: everything is dropped.
        bgp.sendMachineStop();
        bgp.sendCmd("x");
        QCOMPARE(tunnel.size(), 0);

        bgp.run();
        bgp.sendMachineStop();
        QCOMPARE(tunnel.size(), 1);
        QCOMPARE(tunnel.at(0).at(0).toByteArray().left(8), QByteArray("LrdA\x07\x00\x01\x00", 8));
        QCOMPARE(tunnel.at(0).at(0).toByteArray().mid(12), QByteArray(1, '\0'));
        bgp.receiveServiceForward("\x05\x06");
        QCOMPARE(tunnel.size(), 1);
    }

    void incompleteConfiguration_data()
    {
        QTest::addColumn<QString>("baseId");
        QTest::newRow("no BUID") << QString();
        QTest::newRow("BUID not a number") << QStringLiteral("thirty-nine");
        QTest::newRow("BUID negative") << QStringLiteral("-1");
    }
    void incompleteConfiguration()
    {
        QFETCH(QString, baseId);
        CraneSetup crane;
        QVERIFY(crane.setUp(kNoBaseUnit,
                            { { QStringLiteral("BUID"), baseId },
                              { QStringLiteral("GFBM"), QStringLiteral("1") } }));
        BGPCom bgp(crane.tags.get(), crane.app.get());
        QSignalSpy popups(&bgp, &BGPCom::configErrorNotification);
        QSignalSpy tunnel(&bgp, &BGPCom::sendFallback);
        QTest::ignoreMessage(QtCriticalMsg,
                             "No valid base unit id (BUID) configured. The base-unit link is not "
                             "started.");
        bgp.run();
        QCOMPARE(crane.value("g_link_status"), uint(STATE_LINK_ERROR));
        QCOMPARE(popups.size(), 1);
        QCOMPARE(popups.at(0).at(0).toString(),
                 QStringLiteral("No base unit configured (BUID). Pairing required."));
        QCOMPARE(popups.at(0).at(1).toBool(), true);
        QCOMPARE(popups.at(0).at(2).value<NorvikLinkDefines::NotificationSeverity>(),
                 NorvikLinkDefines::WARNING);
        bgp.sendCmd("x");
        bgp.sendMachineStop();
        bgp.receiveFallback(heartbeat());
        QCOMPARE(tunnel.size(), 0);
    }

    void baseUnitAddress_data()
    {
        QTest::addColumn<QString>("gsip");
        QTest::addColumn<QString>("expected");
        QTest::newRow("configured") << "127.0.0.42"
                                    << "127.0.0.42";
        QTest::newRow("not configured") << QString() << "192.168.32.1";
        QTest::newRow("invalid") << "base-unit"
                                 << "192.168.32.1";
    }
    void baseUnitAddress()
    {
        // Only the choice of address is checked; nothing is connected here.
        QFETCH(QString, gsip);
        QFETCH(QString, expected);
        CraneSetup crane;
        QVERIFY(crane.setUp(gsip));
        if (!gsip.isNull() && gsip != expected) {
            QTest::ignoreMessage(
                QtWarningMsg,
                "Invalid base unit IP address (GSIP): base-unit - using 192.168.32.1");
        }
        BGPCom bgp(crane.tags.get(), crane.app.get());
        QCOMPARE(bgp.baseUnitAddress(), QHostAddress(expected));
    }
};

QTEST_GUILESS_MAIN(tst_BGPCom)
#include "tst_bgpcom.moc"
