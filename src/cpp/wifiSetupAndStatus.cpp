#include "wifiSetupAndStatus.h"

#include "tag.h"
#include "tagdatabase.h"

#include <QAtomicInt>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTimer>

namespace {
const QString NM_SERVICE = QStringLiteral("org.freedesktop.NetworkManager");
const QString NM_PATH = QStringLiteral("/org/freedesktop/NetworkManager");
const QString NM_INTERFACE = QStringLiteral("org.freedesktop.NetworkManager");
const QString NM_DEVICE = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString NM_WIRELESS = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");
const QString NM_ACCESS_POINT = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");
const QString NM_ACTIVE = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString NM_SETTINGS_PATH = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString NM_SETTINGS = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString NM_SETTINGS_CONNECTION
    = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");

const QString SETTING_CONNECTION = QStringLiteral("connection");
const QString KEY_ID = QStringLiteral("id");
const QString WIFI_DEVICE = QStringLiteral("wlan0");
const QString WIFI_PROFILE = QStringLiteral("wlan0");
const QString RSSI_TAG = QStringLiteral("g_link_rssi");

QAtomicInt busCount;

// The private system-bus connection of one object, connected again when the bus
// daemon went away. A named connection that lost its daemon stays closed for good,
// so it is dropped before the next attempt.
QDBusConnection systemBus(const QString& name)
{
    QDBusConnection bus(name);
    if (bus.isConnected())
        return bus;
    QDBusConnection::disconnectFromBus(name);
    return QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
}

// One blocking method call on NetworkManager; false on any error or timeout.
bool call(const QString& busName, const QString& path, const QString& interface,
          const QString& method, const QVariantList& arguments, QDBusMessage* reply = nullptr)
{
    // No path (no device found): QtDBus would refuse the message with a warning.
    if (path.isEmpty())
        return false;
    const QDBusConnection bus = systemBus(busName);
    if (!bus.isConnected())
        return false;
    QDBusMessage message = QDBusMessage::createMethodCall(NM_SERVICE, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage answer
        = bus.call(message, QDBus::Block, WifiSetupAndStatus::CALL_TIMEOUT_MS);
    if (answer.type() != QDBusMessage::ReplyMessage)
        return false;
    if (reply)
        *reply = answer;
    return true;
}

// A property read through org.freedesktop.DBus.Properties; invalid on failure.
QVariant readProperty(const QString& busName, const QString& path, const QString& interface,
                      const QString& name)
{
    QDBusMessage reply;
    if (!call(busName, path, PROPERTIES, QStringLiteral("Get"), { interface, name }, &reply)
        || reply.arguments().isEmpty())
        return QVariant();
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// A reply value as T when it has T's D-Bus signature, else a default T. Values
// of compound types arrive undecoded, and QDBusArgument decodes them blindly:
// a list read from a map never reaches its end and grows until memory runs
// out, so the signature is checked first.
template<typename T> T decoded(const QVariant& value, const char* signature)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return value.canConvert<T>() ? value.value<T>() : T();
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String(signature))
        return T();
    return qdbus_cast<T>(argument);
}

QString objectPath(const QVariant& value)
{
    return decoded<QDBusObjectPath>(value, "o").path();
}

// A list of object paths from a method reply or a property.
QList<QDBusObjectPath> objectPaths(const QVariant& value)
{
    return decoded<QList<QDBusObjectPath>>(value, "ao");
}
} // namespace

WifiSetupAndStatus::WifiSetupAndStatus(TagDatabase* tagDatabase, QObject* parent)
    : QObject(parent)
    , tagDatabase(tagDatabase)
    , busName(QStringLiteral("norvik-wifi-%1").arg(busCount.fetchAndAddRelaxed(1)))
{
    qRegisterMetaType<Connection>("Connection");
    qDBusRegisterMetaType<Connection>();
    qRegisterMetaType<QList<uint>>("QList<uint>");
    qDBusRegisterMetaType<QList<uint>>();
    qRegisterMetaType<QList<QList<uint>>>("QList<QList<uint> >");
    qDBusRegisterMetaType<QList<QList<uint>>>();
}

WifiSetupAndStatus::~WifiSetupAndStatus()
{
    delete checkInterval;
    QDBusConnection::disconnectFromBus(busName);
}

void WifiSetupAndStatus::run()
{
    if (!checkInterval) {
        checkInterval = new QTimer();
        checkInterval->setObjectName(QStringLiteral("checkInterval"));
        connect(checkInterval, &QTimer::timeout, this, &WifiSetupAndStatus::checkSignalStrength);
    }
    checkInterval->start(CHECK_INTERVAL_MS);
    rssiTag = tagDatabase ? tagDatabase->get(RSSI_TAG) : nullptr;
    if (!rssiTag)
        qWarning("No tag %s: the WiFi signal strength is not shown", qPrintable(RSSI_TAG));
}

void WifiSetupAndStatus::checkSignalStrength()
{
    QString wifiDevice;
    QDBusMessage reply;
    if (call(busName, NM_PATH, NM_INTERFACE, QStringLiteral("GetDevices"), {}, &reply)
        && !reply.arguments().isEmpty()) {
        const QList<QDBusObjectPath> devices = objectPaths(reply.arguments().constFirst());
        for (const QDBusObjectPath& device : devices) {
            if (readProperty(busName, device.path(), NM_DEVICE, QStringLiteral("Interface"))
                    .toString()
                == WIFI_DEVICE) {
                wifiDevice = device.path();
                break;
            }
        }
    }

    uint strength = 0;
    if (!wifiDevice.isEmpty()) {
        // "/" when not associated: reading a property there fails and counts as 0.
        const QString accessPoint = objectPath(
            readProperty(busName, wifiDevice, NM_WIRELESS, QStringLiteral("ActiveAccessPoint")));
        const QVariant value
            = readProperty(busName, accessPoint, NM_ACCESS_POINT, QStringLiteral("Strength"));
        bool ok = false;
        const uint percent = value.toUInt(&ok);
        if (ok) // an invalid value does not convert
            strength = percent & 0xFF;
    }

    // Looked up for every write: the tag set may be rebuilt while this runs.
    Tag* tag = tagDatabase ? tagDatabase->get(RSSI_TAG) : nullptr;
    if (tag)
        tag->setValue(QVariant(int(strength)));
}

const QString WifiSetupAndStatus::getConnection(QString id, Connection* settings)
{
    QDBusMessage reply;
    if (!call(busName, NM_SETTINGS_PATH, NM_SETTINGS, QStringLiteral("ListConnections"), {}, &reply)
        || reply.arguments().isEmpty())
        return QString();
    const QList<QDBusObjectPath> profiles = objectPaths(reply.arguments().constFirst());
    for (const QDBusObjectPath& profile : profiles) {
        QDBusMessage answer;
        if (!call(busName, profile.path(), NM_SETTINGS_CONNECTION, QStringLiteral("GetSettings"),
                  {}, &answer)
            || answer.arguments().isEmpty())
            continue;
        const Connection found = decoded<Connection>(answer.arguments().constFirst(), "a{sa{sv}}");
        const QVariant foundId = found.value(SETTING_CONNECTION).value(KEY_ID);
        if (foundId.isValid() && foundId.toString() == id) {
            if (settings)
                *settings = found;
            return profile.path();
        }
    }
    return QString();
}

void WifiSetupAndStatus::deactivateConnection(QString id)
{
    const QVariant active
        = readProperty(busName, NM_PATH, NM_INTERFACE, QStringLiteral("ActiveConnections"));
    if (!active.isValid())
        return;
    const QList<QDBusObjectPath> connections = objectPaths(active);
    for (const QDBusObjectPath& connection : connections) {
        if (readProperty(busName, connection.path(), NM_ACTIVE, QStringLiteral("Id")).toString()
            == id)
            call(busName, NM_PATH, NM_INTERFACE, QStringLiteral("DeactivateConnection"),
                 { QVariant::fromValue(connection) });
    }
}

void WifiSetupAndStatus::activateConnection(QString id)
{
    const QString profile = getConnection(id, nullptr);
    if (profile.isEmpty())
        return;
    // "/" for device and access point: NetworkManager picks both.
    const QDBusObjectPath any(QStringLiteral("/"));
    call(busName, NM_PATH, NM_INTERFACE, QStringLiteral("ActivateConnection"),
         { QVariant::fromValue(QDBusObjectPath(profile)), QVariant::fromValue(any),
           QVariant::fromValue(any) });
}

void WifiSetupAndStatus::connectToWifi(QString SSID, QString password)
{
    deactivateConnection(WIFI_PROFILE);

    Connection settings;
    const QString profile = getConnection(WIFI_PROFILE, &settings);
    if (profile.isEmpty()) {
        qWarning("Could not find wlan0 connection");
    } else {
        // Only these three keys change; everything else goes back as it came.
        settings[QStringLiteral("802-11-wireless")][QStringLiteral("ssid")] = SSID.toLatin1();
        QVariantMap& security = settings[QStringLiteral("802-11-wireless-security")];
        security[QStringLiteral("psk")] = password;
        security[QStringLiteral("key-mgmt")] = QStringLiteral("wpa-psk");
        // An error reply leaves the profile as it was; activation goes ahead anyway.
        call(busName, profile, NM_SETTINGS_CONNECTION, QStringLiteral("Update"),
             { QVariant::fromValue(settings) });
    }

    activateConnection(WIFI_PROFILE);
}
