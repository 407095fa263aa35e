// The WiFi component's reading of NetworkManager's replies: on a bus daemon of
// the harness's own, a NetworkManager made of fuzz bytes answers every call the
// component makes, on any object path, with replies of arbitrary D-Bus types:
// bytes, integers, strings, object paths, lists of paths, variants, a{sv} and
// settings maps (a{sa{sv}}) with the names NetworkManager uses, or an error.
//
// Input: one byte that picks the operation (poll the signal strength, look up the
// profile "wlan0", deactivate it, or configure a network), then the reply script
// the fake service reads its answers from, call after call; once it runs out,
// every further call gets an error.
//
// Checked: the strength written to "g_link_rssi" is a whole number from 0 to
// 255; a profile that is found carries the id asked for; a profile updated by
// connectToWifi is still that profile and carries the network name as Latin-1
// bytes, the key and "wpa-psk".
#include "tag.h"
#include "tagdatabase.h"
#include "wifiSetupAndStatus.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
void quiet(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        std::abort();
}

const QString kSsid = QStringLiteral("Kran-\u00e4");
const QString kKey = QStringLiteral("geheim");

// Bytes of the reply script, read front to back; zero once they run out.
class Script
{
public:
    void reset(const QByteArray& bytes)
    {
        m_bytes = bytes;
        m_at = 0;
    }
    bool atEnd() const { return m_at >= m_bytes.size(); }
    quint8 byte() { return atEnd() ? 0 : quint8(m_bytes.at(m_at++)); }
    QByteArray take(int n)
    {
        const QByteArray part = m_bytes.mid(m_at, n);
        m_at += part.size();
        return part;
    }

private:
    QByteArray m_bytes;
    int m_at = 0;
};

// Names the component looks for, so that replies meet its expectations often.
const char* const kWords[] = {
    "wlan0",
    "eth0",
    "connection",
    "id",
    "uuid",
    "802-11-wireless",
    "802-11-wireless-security",
    "ssid",
    "psk",
    "key-mgmt",
    "ipv4",
    "addresses",
    "/",
};

QString text(Script& s)
{
    const quint8 head = s.byte();
    if (head & 0x80)
        return QString::fromLatin1(kWords[head % (sizeof kWords / sizeof *kWords)]);
    QString value = QString::fromUtf8(s.take(head % 12));
    // A D-Bus string holds no NUL.
    value.remove(QChar(0));
    return value;
}

QDBusObjectPath path(Script& s)
{
    static const char alphabet[]
        = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
    QString p;
    const int segments = s.byte() % 4;
    for (int i = 0; i < segments; ++i) {
        p += QLatin1Char('/');
        const int length = 1 + s.byte() % 4;
        for (int k = 0; k < length; ++k)
            p += QLatin1Char(alphabet[s.byte() % (sizeof alphabet - 1)]);
    }
    return QDBusObjectPath(p.isEmpty() ? QStringLiteral("/") : p);
}

QVariant value(Script& s, int depth);

QVariantMap map(Script& s, int depth)
{
    QVariantMap m;
    const int n = s.byte() % 4;
    for (int i = 0; i < n; ++i)
        m.insert(text(s), value(s, depth + 1));
    return m;
}

QVariant value(Script& s, int depth)
{
    const int kinds = depth < 3 ? 13 : 10;
    switch (s.byte() % kinds) {
    case 0:
        return QVariant::fromValue(uchar(s.byte()));
    case 1: {
        quint32 v = 0;
        for (int k = 0; k < 4; ++k)
            v |= quint32(s.byte()) << (8 * k);
        return QVariant::fromValue(v);
    }
    case 2:
        return QVariant::fromValue(qint32(qint8(s.byte())));
    case 3:
        return QVariant::fromValue(bool(s.byte() & 1));
    case 4:
        return QVariant::fromValue(double(qint8(s.byte())) * 1.5);
    case 5:
        return QVariant::fromValue(text(s));
    case 6:
        return QVariant::fromValue(path(s));
    case 7:
        return QVariant::fromValue(s.take(s.byte() % 16));
    case 8: {
        QList<QDBusObjectPath> paths;
        const int n = s.byte() % 5;
        for (int i = 0; i < n; ++i)
            paths.append(path(s));
        return QVariant::fromValue(paths);
    }
    case 9: {
        QStringList list;
        const int n = s.byte() % 4;
        for (int i = 0; i < n; ++i)
            list.append(text(s));
        return QVariant::fromValue(list);
    }
    case 10:
        return QVariant::fromValue(QDBusVariant(value(s, depth + 1)));
    case 11:
        return QVariant::fromValue(map(s, depth));
    default: {
        Connection settings;
        const int n = s.byte() % 4;
        for (int i = 0; i < n; ++i)
            settings.insert(text(s), map(s, depth));
        return QVariant::fromValue(settings);
    }
    }
}

// NetworkManager as the script has it: every call on every path of the service
// gets the next reply of the script.
class ScriptedNetworkManager : public QDBusVirtualObject
{
public:
    void start(const QByteArray& bytes)
    {
        QMutexLocker lock(&m_lock);
        m_script.reset(bytes);
        m_updates = 0;
    }
    int updates()
    {
        QMutexLocker lock(&m_lock);
        return m_updates;
    }
    std::atomic<bool> broken { false };

    QString introspect(const QString&) const override { return QString(); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        QMutexLocker lock(&m_lock);
        if (message.member() == QLatin1String("Update"))
            checkUpdate(message);
        const quint8 head = m_script.byte();
        if (m_script.atEnd() || head % 16 == 0) {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.Failed"), QStringLiteral("scripted")));
            return true;
        }
        QVariantList arguments;
        const int count = head % 8 == 1 ? 0 : (head % 8 == 2 ? 2 : 1);
        for (int i = 0; i < count; ++i) {
            QVariant v = value(m_script, 0);
            // Property reads are answered with a variant, as NetworkManager does, mostly.
            if (message.member() == QLatin1String("Get") && (head & 0x10))
                v = QVariant::fromValue(QDBusVariant(v));
            arguments.append(v);
        }
        connection.send(message.createReply(arguments));
        return true;
    }

private:
    void checkUpdate(const QDBusMessage& message)
    {
        ++m_updates;
        if (message.arguments().size() != 1) {
            broken = true;
            return;
        }
        const Connection settings = qdbus_cast<Connection>(message.arguments().constFirst());
        const QVariantMap wireless = settings.value(QStringLiteral("802-11-wireless"));
        const QVariantMap security = settings.value(QStringLiteral("802-11-wireless-security"));
        if (wireless.value(QStringLiteral("ssid")).toByteArray() != kSsid.toLatin1()
            || security.value(QStringLiteral("psk")).toString() != kKey
            || security.value(QStringLiteral("key-mgmt")).toString() != QLatin1String("wpa-psk")
            || settings.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString()
                != QLatin1String("wlan0"))
            broken = true;
    }

    QMutex m_lock;
    Script m_script;
    int m_updates = 0;
};

struct Harness
{
    TagDatabase tags;
    Tag* rssi = nullptr;
    WifiSetupAndStatus* wifi = nullptr;
    ScriptedNetworkManager* nm = nullptr;
    QThread* nmThread = nullptr;
};

// A bus daemon that dies with this process (and only then, so the bus
// connections stay up until Qt closes them), listening in a private folder.
QString startDaemon()
{
    static QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("bus"));
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    file.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><listen>unix:path="
        + socket.toUtf8()
        + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
          "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
          "<allow receive_sender=\"*\"/></policy>"
          "<limit name=\"max_replies_per_connection\">100000</limit></busconfig>\n");
    file.close();
    int ready[2];
    if (pipe(ready) != 0)
        std::abort();
    const QByteArray configArgument = "--config-file=" + config.toLocal8Bit();
    const QByteArray printArgument = "--print-address=" + QByteArray::number(ready[1]);
    const pid_t daemonPid = fork();
    if (daemonPid < 0)
        std::abort();
    if (daemonPid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        close(ready[0]);
        execlp("dbus-daemon", "dbus-daemon", configArgument.constData(), "--nofork", "--nopidfile",
               printArgument.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    // The address is printed once the daemon listens.
    char buffer[512];
    if (read(ready[0], buffer, sizeof buffer) <= 0)
        std::abort();
    close(ready[0]);
    return QStringLiteral("unix:path=") + socket;
}

Harness* setUp()
{
    static int argc = 1;
    static char name[] = "fuzz_wifi";
    static char* argv[] = { name, nullptr };
    qInstallMessageHandler(quiet);
    new QCoreApplication(argc, argv);
    const QString address = startDaemon();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

    auto* h = new Harness;
    h->rssi = new Tag(QStringLiteral("g_link_rssi"), &h->tags);
    h->tags.append(h->rssi);
    h->wifi = new WifiSetupAndStatus(&h->tags, nullptr);

    // The fake service answers on a thread of its own: the component blocks
    // this one on every call.
    h->nmThread = new QThread;
    h->nmThread->start();
    h->nm = new ScriptedNetworkManager;
    h->nm->moveToThread(h->nmThread);
    QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("fuzz-nm"));
    const QString root(QLatin1Char('/'));
    const QString serviceName(QLatin1String("org.freedesktop.NetworkManager"));
    if (!service.isConnected()
        || !service.registerVirtualObject(root, h->nm, QDBusConnection::SubPath)
        || !service.registerService(serviceName))
        std::abort();
    return h;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Harness* const h = setUp();
    if (size == 0)
        return 0;
    h->nm->start(QByteArray(reinterpret_cast<const char*>(data) + 1, int(size) - 1));

    switch (data[0] % 4) {
    case 0: {
        h->rssi->setValue(QVariant(-1));
        h->wifi->checkSignalStrength();
        bool ok = false;
        const int strength = h->rssi->getValue().toInt(&ok);
        if (!ok || strength < 0 || strength > 255)
            std::abort();
        break;
    }
    case 1: {
        Connection settings;
        const QString profile = h->wifi->getConnection(QStringLiteral("wlan0"), &settings);
        if (!profile.isEmpty()
            && settings.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString()
                != QLatin1String("wlan0"))
            std::abort();
        break;
    }
    case 2:
        h->wifi->deactivateConnection(QStringLiteral("wlan0"));
        break;
    default:
        h->wifi->connectToWifi(kSsid, kKey);
        break;
    }
    if (h->nm->broken)
        std::abort();
    return 0;
}
