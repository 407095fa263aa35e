#include "networkmanagerbus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>

#include <sys/prctl.h>

namespace {
const QString NM_SERVICE = QStringLiteral("org.freedesktop.NetworkManager");
const QString CONTROL_PATH = QStringLiteral("/org/norvik/NetworkManagerSim");
const QString CONTROL_INTERFACE = QStringLiteral("org.norvik.NetworkManagerSim");

// A child that is killed when the thread that started it ends, so a crashed test
// leaves no daemon behind.
class ChildProcess : public QProcess
{
protected:
    void setupChildProcess() override { prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

QByteArray configuration(const QString& socket)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <listen>unix:path="
        + socket.toUtf8()
        + "</listen>\n"
          "  <auth>EXTERNAL</auth>\n"
          "  <policy context=\"default\">\n"
          "    <allow user=\"*\"/>\n"
          "    <allow own=\"*\"/>\n"
          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
          "    <allow receive_sender=\"*\"/>\n"
          "  </policy>\n"
          "</busconfig>\n";
}
} // namespace

NetworkManagerBus::NetworkManagerBus(const QString& service)
    : m_service(service.isEmpty() ? QStringLiteral(NORVIK_NM_SIM_PATH) : service)
    , m_connection(QStringLiteral("norvik-nm-control-%1").arg(quintptr(this)))
{
}

NetworkManagerBus::~NetworkManagerBus()
{
    stop();
}

bool NetworkManagerBus::start(int timeoutMs)
{
    stop();
    if (!m_dir.isValid())
        return false;
    const QString socket = m_dir.filePath(QStringLiteral("bus"));
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(configuration(socket)) < 0)
        return false;
    file.close();
    QFile::remove(socket);

    QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        daemon = QStringLiteral("/usr/bin/dbus-daemon");
    m_daemon = std::make_unique<ChildProcess>();
    m_daemon->start(daemon,
                    { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                      QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1") });
    // The address is printed once the daemon listens.
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_daemon->canReadLine()) {
        if (m_daemon->state() == QProcess::NotRunning
            || !m_daemon->waitForReadyRead(int(deadline.remainingTime()))) {
            // Its complaints matter only when it did not come up.
            qWarning("dbus-daemon did not start: %s", m_daemon->readAllStandardError().constData());
            return false;
        }
    }
    // Without the daemon's guid: the daemon that comes back after a stop has another.
    m_address = QStringLiteral("unix:path=") + socket;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());

    m_nm = std::make_unique<ChildProcess>();
    m_nm->setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList command { m_service, QStringLiteral("--address"), m_address };
#ifdef NORVIK_EMULATOR
    // A cross build runs the service through the emulator.
    command = QString::fromUtf8(NORVIK_EMULATOR).split(QLatin1Char('|')) + command;
#endif
    m_nm->start(command.takeFirst(), command);
    const QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_connection);
    while (!bus.isConnected() || !bus.interface()->isServiceRegistered(NM_SERVICE).value()) {
        // Waiting for the service to start, or noticing it ended.
        if (deadline.hasExpired() || m_nm->waitForFinished(10))
            return false;
    }
    return true;
}

void NetworkManagerBus::stop()
{
    QDBusConnection::disconnectFromBus(m_connection);
    end(m_nm);
    end(m_daemon);
}

void NetworkManagerBus::end(std::unique_ptr<QProcess>& process)
{
    if (!process)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(5000);
    }
    process.reset();
}

QDBusMessage NetworkManagerBus::control(const QString& method, const QVariantList& arguments)
{
    QDBusMessage message
        = QDBusMessage::createMethodCall(NM_SERVICE, CONTROL_PATH, CONTROL_INTERFACE, method);
    message.setArguments(arguments);
    return QDBusConnection(m_connection).call(message, QDBus::Block, 5000);
}

bool NetworkManagerBus::setStrength(uchar percent)
{
    return control(QStringLiteral("SetStrength"), { QVariant::fromValue(percent) }).type()
        == QDBusMessage::ReplyMessage;
}

bool NetworkManagerBus::setWifiDevice(bool present)
{
    return control(QStringLiteral("SetWifiDevice"), { present }).type()
        == QDBusMessage::ReplyMessage;
}

bool NetworkManagerBus::setAssociated(bool associated)
{
    return control(QStringLiteral("SetAssociated"), { associated }).type()
        == QDBusMessage::ReplyMessage;
}

bool NetworkManagerBus::setWifiProfile(bool present)
{
    return control(QStringLiteral("SetWifiProfile"), { present }).type()
        == QDBusMessage::ReplyMessage;
}

bool NetworkManagerBus::hang(uint seconds)
{
    return control(QStringLiteral("Hang"), { seconds }).type() == QDBusMessage::ReplyMessage;
}

QMap<QString, QVariantMap> NetworkManagerBus::lastUpdate()
{
    const QDBusMessage reply = control(QStringLiteral("LastUpdate"));
    QMap<QString, QVariantMap> settings;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        reply.arguments().constFirst().value<QDBusArgument>() >> settings;
    return settings;
}

QStringList NetworkManagerBus::calls()
{
    const QDBusMessage reply = control(QStringLiteral("Calls"));
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        ? reply.arguments().constFirst().toStringList()
        : QStringList();
}

int NetworkManagerBus::connections()
{
    const QStringList names
        = QDBusConnection(m_connection).interface()->registeredServiceNames().value();
    return int(std::count_if(names.cbegin(), names.cend(), [](const QString& name) {
        return name.startsWith(QLatin1Char(':'));
    }));
}
