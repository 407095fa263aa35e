#ifndef NETWORKMANAGERSIM_H
#define NETWORKMANAGERSIM_H

// Stand-in for NetworkManager: the objects, methods and properties the library uses,
// served on one bus under "org.freedesktop.NetworkManager", plus a control interface
// ("org.norvik.NetworkManagerSim" at /org/norvik/NetworkManagerSim) for tests and the
// desk runner.
//
// The world it starts with: an Ethernet device "eth0" listed before the WiFi device
// "wlan0", which is associated with an access point of strength 73; two profiles,
// "Wired connection 1" and "wlan0" (network "factory", no key, IPv4 addresses given
// as aau), both active. Deactivating removes an active connection, activating a
// profile adds one with the profile's id.

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

typedef QMap<QString, QVariantMap> NmSettings;

class NetworkManagerSim : public QObject
{
    Q_OBJECT

public:
    explicit NetworkManagerSim(const QDBusConnection& bus, QObject* parent = nullptr);

    // Registers every object, then takes the service name; false when either fails.
    bool start();

    // NetworkManager's side.
    QList<QDBusObjectPath> devices() const;
    QList<QDBusObjectPath> activeConnections() const;
    QList<QDBusObjectPath> profiles() const;
    QDBusObjectPath activate(const QDBusObjectPath& profile, const QDBusObjectPath& device,
                             const QDBusObjectPath& specific);
    void deactivate(const QDBusObjectPath& active);
    QDBusObjectPath accessPoint() const;
    uchar strength() const { return m_strength; }
    NmSettings settings(const QString& profilePath) const { return m_profiles.value(profilePath); }
    void update(const QString& profilePath, const NmSettings& settings);
    QString activeId(const QString& path) const { return m_active.value(path).id; }
    QDBusObjectPath activeProfile(const QString& path) const
    {
        return QDBusObjectPath(m_active.value(path).profile);
    }
    // The active connection of a profile, "/" when it is not active.
    QDBusObjectPath activeFor(const QString& profilePath) const;

    // The control side.
    void setStrength(uchar strength) { m_strength = strength; }
    void setWifiDevice(bool present);
    void setAssociated(bool associated) { m_associated = associated; }
    void setWifiProfile(bool present);
    NmSettings lastUpdate() const { return m_lastUpdate; }
    QStringList calls() const { return m_calls; }
    void hang(uint seconds);

private:
    struct Active
    {
        QString id;
        QString profile;
        QObject* object = nullptr;
    };
    QString addActive(const QString& profilePath);

    QDBusConnection m_bus;
    uchar m_strength = 73;
    bool m_associated = true;
    bool m_wifiProfile = true;
    QObject* m_wifiDevice = nullptr;
    QMap<QString, NmSettings> m_profiles; // path -> settings
    QMap<QString, Active> m_active; // by path
    int m_activeCount = 0;
    NmSettings m_lastUpdate;
    QStringList m_calls;
};

// One adaptor per NetworkManager interface; each forwards to the simulator.
class NmManagerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(QList<QDBusObjectPath> ActiveConnections READ activeConnections)

public:
    NmManagerAdaptor(QObject* object, NetworkManagerSim* sim);
    QList<QDBusObjectPath> activeConnections() const { return sim->activeConnections(); }

public slots:
    QList<QDBusObjectPath> GetDevices() { return sim->devices(); }
    QDBusObjectPath ActivateConnection(const QDBusObjectPath& connection,
                                       const QDBusObjectPath& device,
                                       const QDBusObjectPath& specificObject)
    {
        return sim->activate(connection, device, specificObject);
    }
    void DeactivateConnection(const QDBusObjectPath& active) { sim->deactivate(active); }

private:
    NetworkManagerSim* sim;
};

class NmDeviceAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Device")
    Q_PROPERTY(QString Interface READ interfaceName)
    Q_PROPERTY(QDBusObjectPath ActiveConnection READ activeConnection)

public:
    NmDeviceAdaptor(QObject* object, NetworkManagerSim* sim, const QString& name,
                    const QString& profile);
    QString interfaceName() const { return name; }
    QDBusObjectPath activeConnection() const { return sim->activeFor(profile); }

private:
    NetworkManagerSim* sim;
    QString name;
    QString profile;
};

class NmWirelessAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Device.Wireless")
    Q_PROPERTY(QDBusObjectPath ActiveAccessPoint READ activeAccessPoint)

public:
    NmWirelessAdaptor(QObject* object, NetworkManagerSim* sim);
    QDBusObjectPath activeAccessPoint() const { return sim->accessPoint(); }

private:
    NetworkManagerSim* sim;
};

class NmAccessPointAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.AccessPoint")
    Q_PROPERTY(uchar Strength READ strength)

public:
    NmAccessPointAdaptor(QObject* object, NetworkManagerSim* sim);
    uchar strength() const { return sim->strength(); }

private:
    NetworkManagerSim* sim;
};

class NmActiveAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Connection.Active")
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QDBusObjectPath Connection READ connection)

public:
    NmActiveAdaptor(QObject* object, NetworkManagerSim* sim, const QString& path);
    QString id() const { return sim->activeId(path); }
    QDBusObjectPath connection() const { return sim->activeProfile(path); }

private:
    NetworkManagerSim* sim;
    QString path;
};

class NmSettingsAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Settings")

public:
    NmSettingsAdaptor(QObject* object, NetworkManagerSim* sim);

public slots:
    QList<QDBusObjectPath> ListConnections() { return sim->profiles(); }

private:
    NetworkManagerSim* sim;
};

class NmProfileAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Settings.Connection")

public:
    NmProfileAdaptor(QObject* object, NetworkManagerSim* sim, const QString& path);

public slots:
    QMap<QString, QVariantMap> GetSettings() { return sim->settings(path); }
    void Update(const QMap<QString, QVariantMap>& settings) { sim->update(path, settings); }

private:
    NetworkManagerSim* sim;
    QString path;
};

class NmControlAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.norvik.NetworkManagerSim")

public:
    NmControlAdaptor(QObject* object, NetworkManagerSim* sim);

public slots:
    void SetStrength(uchar strength) { sim->setStrength(strength); }
    void SetWifiDevice(bool present) { sim->setWifiDevice(present); }
    void SetAssociated(bool associated) { sim->setAssociated(associated); }
    void SetWifiProfile(bool present) { sim->setWifiProfile(present); }
    QMap<QString, QVariantMap> LastUpdate() { return sim->lastUpdate(); }
    QStringList Calls() { return sim->calls(); }
    // Stops answering anything for that long, as a hung service would.
    void Hang(uint seconds) { sim->hang(seconds); }

private:
    NetworkManagerSim* sim;
};

#endif
