// WiFi status and set-up against the NetworkManager stand-in, a process of its own
// on a bus daemon of its own (restarted for every test). Its world: "eth0" listed
// before "wlan0", an access point at 73 %, the profiles "Wired connection 1" and
// "wlan0", both active.

#include "networkmanagerbus.h"
#include "tag.h"
#include "tagdatabase.h"
#include "wifiSetupAndStatus.h"

#include <QDBusArgument>
#include <QElapsedTimer>
#include <QtTest>

#include <memory>

namespace {
const QString ACTIVE_WIFI = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/2");
const QString WIFI_PROFILE = QStringLiteral("/org/freedesktop/NetworkManager/Settings/2");
} // namespace

class tst_WifiSetupAndStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { tags.append(new Tag(QStringLiteral("g_link_rssi"), &tags)); }
    void init()
    {
        QVERIFY(nm.start());
        wifi = std::make_unique<WifiSetupAndStatus>(&tags, nullptr);
        markRssi();
    }
    void cleanup() { wifi.reset(); }

    void signalStrength()
    {
        // The poll that run() starts follows the access point on its own.
        wifi->run();
        QVERIFY(nm.setStrength(42));
        // Associated or not, with or without a WiFi device: the strength or 0.
        for (const auto& [associated, device, strength] :
             { std::tuple(false, true, 0), { true, true, 42 }, { true, false, 0 } }) {
            QVERIFY(nm.setAssociated(associated) && nm.setWifiDevice(device));
            wifi->checkSignalStrength();
            QCOMPARE(rssi(), strength);
        }

        // Ended while polling: its bus connection closes with it.
        const int connections = nm.connections();
        wifi.reset();
        QTRY_COMPARE(nm.connections(), connections - 1);
    }

    void connectToWifi()
    {
        // U+00E9 is one byte in Latin-1 (E9), two in UTF-8 (C3 A9).
        wifi->connectToWifi(QStringLiteral("Caf\u00e9 net"), QStringLiteral("s3cret pass"));
        auto update = nm.lastUpdate();
        QCOMPARE(update["802-11-wireless"]["ssid"].toByteArray(), QByteArray("Caf\xe9 net"));
        QCOMPARE(update["802-11-wireless-security"]["psk"].toString(), "s3cret pass");
        QCOMPARE(update["802-11-wireless-security"]["key-mgmt"].toString(), "wpa-psk");
        // The rest of the profile goes back as it came, nested D-Bus types included.
        QCOMPARE(update["802-11-wireless"]["mode"].toString(), "infrastructure");
        QCOMPARE(update["connection"]["uuid"].toString(), "0b7e0d6e-6a3c-4f4c-9a63-5c2d4b1e7f10");
        QCOMPARE(qdbus_cast<QList<QList<uint>>>(update["ipv4"]["addresses"]),
                 (QList<QList<uint>> { { 16777343u, 8u, 0u } }));
        QCOMPARE(update.size(), 4);

        // Only the WiFi connection goes down; the profile comes up on any device.
        QCOMPARE(nm.calls(),
                 QStringList({ "DeactivateConnection " + ACTIVE_WIFI,
                               "ActivateConnection " + WIFI_PROFILE + " / /" }));
    }

    void missingProfile()
    {
        QVERIFY(nm.setWifiProfile(false));
        QTest::ignoreMessage(QtWarningMsg, "Could not find wlan0 connection");
        wifi->connectToWifi(QStringLiteral("net"), QStringLiteral("key"));
        QVERIFY(nm.lastUpdate().isEmpty());
        QCOMPARE(nm.calls(), QStringList());
    }

    void busGone()
    {
        // The daemon is gone: 0 and no set-up, quickly.
        nm.stop();
        QElapsedTimer elapsed;
        elapsed.start();
        wifi->checkSignalStrength();
        QCOMPARE(rssi(), 0);
        QTest::ignoreMessage(QtWarningMsg, "Could not find wlan0 connection");
        wifi->connectToWifi(QStringLiteral("net"), QStringLiteral("key"));
        QVERIFY2(elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
    }

private:
    // A value no poll writes, so that every 0 seen afterwards was written.
    void markRssi() { tags.get(QStringLiteral("g_link_rssi"))->setValue(QVariant(-1)); }
    int rssi() const { return tags.get(QStringLiteral("g_link_rssi"))->getValue().toInt(); }

    NetworkManagerBus nm;
    TagDatabase tags;
    std::unique_ptr<WifiSetupAndStatus> wifi;
};

QTEST_GUILESS_MAIN(tst_WifiSetupAndStatus)
#include "tst_wifisetupandstatus.moc"
