#ifndef NETWORKMANAGERBUS_H
#define NETWORKMANAGERBUS_H

// A bus daemon of its own with the NetworkManager stand-in (norvik-nm-sim) on it, for
// tests and the desk runner, so that nothing reaches the machine's system bus.
//
// start() writes the daemon's configuration (one bus, a unix socket in a private
// folder, everything allowed), starts the daemon, points DBUS_SYSTEM_BUS_ADDRESS at it,
// starts the service and returns once the service owns its name. stop() ends both;
// start() again brings them back on the same address, as a restarted system bus
// would. The address stays the same on purpose: libdbus reads DBUS_SYSTEM_BUS_ADDRESS
// once per process, so start() must come before the library's first bus use.
//
// The control calls drive the service: they return false (or nothing) when it does
// not answer within five seconds.

#include <QDBusMessage>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>

class QProcess;

class NetworkManagerBus
{
public:
    // The service executable; empty for the one built with this tree.
    explicit NetworkManagerBus(const QString& service = QString());
    ~NetworkManagerBus();
    NetworkManagerBus(const NetworkManagerBus&) = delete;
    NetworkManagerBus& operator=(const NetworkManagerBus&) = delete;

    bool start(int timeoutMs = 10000);
    void stop();
    QString address() const { return m_address; }

    // Strength of the access point (percent).
    bool setStrength(uchar percent);
    // Adds or removes the device "wlan0".
    bool setWifiDevice(bool present);
    // Associates "wlan0" with the access point, or leaves it ("/").
    bool setAssociated(bool associated);
    // Adds (with its original settings) or removes the profile "wlan0".
    bool setWifiProfile(bool present);
    // The service answers nothing for that long, as a hung NetworkManager.
    bool hang(uint seconds);
    // The settings of the last Update call, empty when none came.
    QMap<QString, QVariantMap> lastUpdate();
    // "ActivateConnection <profile> <device> <specific object>" and
    // "DeactivateConnection <active connection>", in the order they came.
    QStringList calls();
    // Connections to the bus, this helper's own and the service's included.
    int connections();

private:
    QDBusMessage control(const QString& method, const QVariantList& arguments = {});
    static void end(std::unique_ptr<QProcess>& process);

    QString m_service;
    QTemporaryDir m_dir;
    QString m_address;
    QString m_connection;
    std::unique_ptr<QProcess> m_daemon;
    std::unique_ptr<QProcess> m_nm;
};

#endif
