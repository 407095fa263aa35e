#ifndef WIFISETUPANDSTATUS_H
#define WIFISETUPANDSTATUS_H

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QTimer;
class Tag;
class TagDatabase;

// Settings of a NetworkManager connection profile: setting name -> key -> value
// (D-Bus a{sa{sv}}).
typedef QMap<QString, QVariantMap> Connection;
Q_DECLARE_METATYPE(Connection)

// The remote's WiFi link through NetworkManager on the system bus.
//
// Once run() is called, a 1000 ms timer (owned by this object, which stops it
// when destroyed) reads the strength of the access point the "wlan0" device is
// associated with into the tag "g_link_rssi": no device, no association or any
// D-Bus failure shows as 0. connectToWifi() writes a network name and WPA key
// into the existing profile "wlan0" and re-activates it; profiles are never
// created here.
//
// Every call blocks the owning thread, but for at most CALL_TIMEOUT_MS each, so a
// hung NetworkManager costs the interface a second per poll, not the 25 s QtDBus
// waits by default. The bus connection is private to this object and is opened
// anew whenever it is found closed: a restarted bus daemon is picked up on the
// next call, which a cached QDBusConnection::systemBus() would never do. Opening
// it is bounded by libdbus alone: a daemon that accepts but never answers still
// holds the thread for libdbus's 25 s.
class WifiSetupAndStatus : public QObject
{
    Q_OBJECT

public:
    static constexpr int CALL_TIMEOUT_MS = 1000;
    static constexpr int CHECK_INTERVAL_MS = 1000;

    WifiSetupAndStatus(TagDatabase* tagDatabase, QObject* parent);
    ~WifiSetupAndStatus() override;

    // Object path of the settings profile whose connection id is `id` (empty when
    // there is none), with its settings in `settings`.
    const QString getConnection(QString id, Connection* settings);
    // Deactivates every active connection whose id is `id`.
    void deactivateConnection(QString id);
    // Activates the profile `id`; NetworkManager picks the device and access point.
    void activateConnection(QString id);

public slots:
    void run();
    void checkSignalStrength();
    void connectToWifi(QString SSID, QString password);

private:
    QTimer* checkInterval = nullptr;
    TagDatabase* tagDatabase;
    Tag* rssiTag = nullptr;
    const QString busName;
    // Whether the last poll reached NetworkManager; a change is logged once.
    bool networkManagerReached = true;
};

#endif
