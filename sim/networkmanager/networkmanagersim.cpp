#include "networkmanagersim.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QThread>
#include <QTimer>

namespace {
const QString ROOT = QStringLiteral("/org/freedesktop/NetworkManager");
const QString ETH_DEVICE = ROOT + QStringLiteral("/Devices/1");
const QString WIFI_DEVICE = ROOT + QStringLiteral("/Devices/2");
const QString ACCESS_POINT = ROOT + QStringLiteral("/AccessPoint/1");
const QString SETTINGS = ROOT + QStringLiteral("/Settings");
const QString WIRED_PROFILE = SETTINGS + QStringLiteral("/1");
const QString WIFI_PROFILE = SETTINGS + QStringLiteral("/2");
const QString CONTROL = QStringLiteral("/org/norvik/NetworkManagerSim");

NmSettings wiredProfile()
{
    return { { QStringLiteral("connection"),
               { { QStringLiteral("id"), QStringLiteral("Wired connection 1") },
                 { QStringLiteral("uuid"), QStringLiteral("5f0b8a52-1c1e-4f6e-8f43-2b8c1f0d9a11") },
                 { QStringLiteral("type"), QStringLiteral("802-3-ethernet") } } } };
}

NmSettings wifiProfile()
{
    const QList<QList<uint>> addresses { { 16777343u, 8u, 0u } };
    return { { QStringLiteral("connection"),
               { { QStringLiteral("id"), QStringLiteral("wlan0") },
                 { QStringLiteral("uuid"), QStringLiteral("0b7e0d6e-6a3c-4f4c-9a63-5c2d4b1e7f10") },
                 { QStringLiteral("type"), QStringLiteral("802-11-wireless") } } },
             { QStringLiteral("802-11-wireless"),
               { { QStringLiteral("ssid"), QByteArray("factory") },
                 { QStringLiteral("mode"), QStringLiteral("infrastructure") } } },
             { QStringLiteral("802-11-wireless-security"),
               { { QStringLiteral("key-mgmt"), QStringLiteral("none") } } },
             { QStringLiteral("ipv4"),
               { { QStringLiteral("method"), QStringLiteral("manual") },
                 { QStringLiteral("addresses"), QVariant::fromValue(addresses) } } } };
}
} // namespace

NetworkManagerSim::NetworkManagerSim(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<NmSettings>();
    qDBusRegisterMetaType<QList<uint>>();
    qDBusRegisterMetaType<QList<QList<uint>>>();
}

bool NetworkManagerSim::start()
{
    // Each path is a plain object carrying the adaptors of its interfaces.
    auto object = [this](const QString& path, auto addAdaptors) {
        auto* o = new QObject(this);
        addAdaptors(o);
        return m_bus.registerObject(path, o) ? o : nullptr;
    };
    bool ok = object(ROOT, [this](QObject* o) { new NmManagerAdaptor(o, this); })
        && object(ETH_DEVICE,
                  [this](QObject* o) {
                      new NmDeviceAdaptor(o, this, QStringLiteral("eth0"), WIRED_PROFILE);
                  })
        && object(ACCESS_POINT, [this](QObject* o) { new NmAccessPointAdaptor(o, this); })
        && object(SETTINGS, [this](QObject* o) { new NmSettingsAdaptor(o, this); })
        && object(WIRED_PROFILE,
                  [this](QObject* o) { new NmProfileAdaptor(o, this, WIRED_PROFILE); })
        && object(CONTROL, [this](QObject* o) { new NmControlAdaptor(o, this); });
    m_profiles.insert(WIRED_PROFILE, wiredProfile());
    addActive(WIRED_PROFILE);
    setWifiDevice(true);
    setWifiProfile(true);
    addActive(WIFI_PROFILE);
    return ok && m_wifiDevice && m_wifiProfile
        && m_bus.registerService(QStringLiteral("org.freedesktop.NetworkManager"));
}

QList<QDBusObjectPath> NetworkManagerSim::devices() const
{
    QList<QDBusObjectPath> list { QDBusObjectPath(ETH_DEVICE) };
    if (m_wifiDevice)
        list << QDBusObjectPath(WIFI_DEVICE);
    return list;
}

QList<QDBusObjectPath> NetworkManagerSim::activeConnections() const
{
    QList<QDBusObjectPath> list;
    for (const QString& path : m_active.keys())
        list << QDBusObjectPath(path);
    return list;
}

QList<QDBusObjectPath> NetworkManagerSim::profiles() const
{
    QList<QDBusObjectPath> list;
    for (const QString& path : m_profiles.keys())
        list << QDBusObjectPath(path);
    return list;
}

QDBusObjectPath NetworkManagerSim::activate(const QDBusObjectPath& profile,
                                            const QDBusObjectPath& device,
                                            const QDBusObjectPath& specific)
{
    m_calls << QStringLiteral("ActivateConnection %1 %2 %3")
                   .arg(profile.path(), device.path(), specific.path());
    if (!m_profiles.contains(profile.path()))
        return QDBusObjectPath(QStringLiteral("/"));
    return QDBusObjectPath(addActive(profile.path()));
}

void NetworkManagerSim::deactivate(const QDBusObjectPath& active)
{
    m_calls << QStringLiteral("DeactivateConnection %1").arg(active.path());
    if (!m_active.contains(active.path()))
        return;
    m_bus.unregisterObject(active.path());
    delete m_active.take(active.path()).object;
}

QDBusObjectPath NetworkManagerSim::activeFor(const QString& profilePath) const
{
    for (auto it = m_active.cbegin(); it != m_active.cend(); ++it)
        if (it->profile == profilePath)
            return QDBusObjectPath(it.key());
    return QDBusObjectPath(QStringLiteral("/"));
}

QDBusObjectPath NetworkManagerSim::accessPoint() const
{
    return QDBusObjectPath(m_associated ? ACCESS_POINT : QStringLiteral("/"));
}

void NetworkManagerSim::update(const QString& profilePath, const NmSettings& settings)
{
    m_lastUpdate = settings;
    m_profiles.insert(profilePath, settings);
}

void NetworkManagerSim::setWifiDevice(bool present)
{
    if (present && !m_wifiDevice) {
        m_wifiDevice = new QObject(this);
        new NmDeviceAdaptor(m_wifiDevice, this, QStringLiteral("wlan0"), WIFI_PROFILE);
        new NmWirelessAdaptor(m_wifiDevice, this);
        if (!m_bus.registerObject(WIFI_DEVICE, m_wifiDevice)) {
            delete m_wifiDevice;
            m_wifiDevice = nullptr;
        }
    } else if (!present && m_wifiDevice) {
        m_bus.unregisterObject(WIFI_DEVICE);
        delete m_wifiDevice;
        m_wifiDevice = nullptr;
    }
}

void NetworkManagerSim::setWifiProfile(bool present)
{
    if (present && !m_profiles.contains(WIFI_PROFILE)) {
        auto* o = new QObject(this);
        new NmProfileAdaptor(o, this, WIFI_PROFILE);
        m_wifiProfile = m_bus.registerObject(WIFI_PROFILE, o);
        m_profiles.insert(WIFI_PROFILE, wifiProfile());
    } else if (!present && m_profiles.remove(WIFI_PROFILE)) {
        m_bus.unregisterObject(WIFI_PROFILE);
        // A profile that goes away takes its active connection with it.
        const QDBusObjectPath active = activeFor(WIFI_PROFILE);
        if (m_active.contains(active.path())) {
            m_bus.unregisterObject(active.path());
            delete m_active.take(active.path()).object;
        }
    }
}

void NetworkManagerSim::hang(uint seconds)
{
    // After this call's reply has gone out.
    QTimer::singleShot(0, this, [seconds] { QThread::sleep(seconds); });
}

QString NetworkManagerSim::addActive(const QString& profilePath)
{
    const QString path = ROOT + QStringLiteral("/ActiveConnection/%1").arg(++m_activeCount);
    const QString id = m_profiles.value(profilePath)
                           .value(QStringLiteral("connection"))
                           .value(QStringLiteral("id"))
                           .toString();
    auto* o = new QObject(this);
    new NmActiveAdaptor(o, this, path);
    m_bus.registerObject(path, o);
    m_active.insert(path, { id, profilePath, o });
    return path;
}

NmManagerAdaptor::NmManagerAdaptor(QObject* object, NetworkManagerSim* sim)
    : QDBusAbstractAdaptor(object)
    , sim(sim)
{
}

NmDeviceAdaptor::NmDeviceAdaptor(QObject* object, NetworkManagerSim* sim, const QString& name,
                                 const QString& profile)
    : QDBusAbstractAdaptor(object)
    , sim(sim)
    , name(name)
    , profile(profile)
{
}

NmWirelessAdaptor::NmWirelessAdaptor(QObject* object, NetworkManagerSim* sim)
    : QDBusAbstractAdaptor(object)
    , sim(sim)
{
}

NmAccessPointAdaptor::NmAccessPointAdaptor(QObject* object, NetworkManagerSim* sim)
    : QDBusAbstractAdaptor(object)
    , sim(sim)
{
}

NmActiveAdaptor::NmActiveAdaptor(QObject* object, NetworkManagerSim* sim, const QString& path)
    : QDBusAbstractAdaptor(object)
    , sim(sim)
    , path(path)
{
}

NmSettingsAdaptor::NmSettingsAdaptor(QObject* object, NetworkManagerSim* sim)
    : QDBusAbstractAdaptor(object)
    , sim(sim)
{
}

NmProfileAdaptor::NmProfileAdaptor(QObject* object, NetworkManagerSim* sim, const QString& path)
    : QDBusAbstractAdaptor(object)
    , sim(sim)
    , path(path)
{
}

NmControlAdaptor::NmControlAdaptor(QObject* object, NetworkManagerSim* sim)
    : QDBusAbstractAdaptor(object)
    , sim(sim)
{
}
