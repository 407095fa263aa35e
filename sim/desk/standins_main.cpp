// The remote's surroundings for an interface that runs in a process of its own
// (the sample screen, or an interface project on a desk): the stand-ins of the
// desk runner without a NorvikLink of their own. The environment the interface
// needs (sysroot, application folder, launcher folder, system bus) is written to
// a file for a shell to source. The internal processor starts the reset handshake
// when the remote first speaks (and again when a restarted interface speaks after
// a silence), then streams process data; the WiFi signal changes, and a
// notification arrives now and then for the operator to acknowledge. What reaches
// the stand-ins is printed.
#include "standins.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaEnum>
#include <QTextStream>
#include <QTimer>

#include <cmath>
#include <csignal>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("The remote's stand-ins for an interface process");
    parser.addHelpOption();
    parser.addOption({ "env", "File to write the interface's environment to (sh).", "file" });
    parser.addOption({ "http-port", "Port of the interface's REST API on 127.0.0.1 (default 8080).",
                       "port", "8080" });
    parser.addOption({ "notify-every", "Seconds between notifications (default 30).", "s", "30" });
    parser.process(app);
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    QTextStream out(stdout);
    QElapsedTimer clock;
    clock.start();
    const auto say = [&](const QString& text) {
        out << QString::asprintf("%7.3fs  ", clock.elapsed() / 1000.0) << text << Qt::endl;
    };

    StandIns world;
    if (!world.isValid() || !parser.isSet("env")) {
        out << (parser.isSet("env") ? "the stand-ins cannot start (is 127.0.0.1:1147 taken?)"
                                    : "--env is required")
            << Qt::endl;
        return 1;
    }
    world.baseUnit.setStatusOnInit(39, 1);
    world.setWebServices({ { "restapi/enabled", true },
                           { "restapi/host", "127.0.0.1" },
                           { "restapi/port", parser.value("http-port").toInt() } });
    QString env;
    for (const char* name :
         { "NORVIK_SYSROOT", "NORVIK_APP_DIR", "TMPDIR", "DBUS_SYSTEM_BUS_ADDRESS" })
        env += QStringLiteral("export %1='%2'\n").arg(name, QString::fromLocal8Bit(qgetenv(name)));
    if (!remoteworld::writeFile(parser.value("env"), env.toLocal8Bit())) {
        out << "cannot write " << parser.value("env") << Qt::endl;
        return 1;
    }
    say("stand-ins ready; the interface's environment is in " + parser.value("env"));

    // Not heard from the remote yet, or not for 5 s (an interface that was restarted).
    QElapsedTimer lastHeard;
    const auto remoteQuiet
        = [&lastHeard] { return !lastHeard.isValid() || lastHeard.elapsed() > 5000; };
    QObject::connect(&world.ip, &InternalProcessorSim::packetReceived, [&] {
        if (remoteQuiet()) {
            say("the remote speaks; the internal processor starts the handshake");
            QTimer::singleShot(300, [&] { world.events.sendEvent(SystemEventService::RESET); });
        }
        lastHeard.restart();
    });
    QObject::connect(&world.events, &SystemEventPeer::requestReceived, [&](quint8 event) {
        say(QStringLiteral("request from the remote: %1")
                .arg(QString::fromLatin1(
                    QMetaEnum::fromType<SystemEventService::Events>().valueToKey(event))));
    });
    QObject::connect(&world.notifications, &NotificationPeer::acknowledged, [&](quint16 reference) {
        say(QStringLiteral("notification %1 acknowledged").arg(reference));
    });
    QObject::connect(&world.baseUnit, &BaseUnitSimulator::clientConnected,
                     [&] { say("base unit: the remote connected"); });
    QObject::connect(&world.baseUnit, &BaseUnitSimulator::messageReceived,
                     [&](quint8 id, const QByteArray& payload) {
                         if (id == BaseUnitSimulator::E_STOP)
                             say("base unit: machine stop received");
                         else if (id == BaseUnitSimulator::CMD)
                             say("base unit: command " + payload.toHex(' '));
                     });

    // Process data every 100 ms once the remote is there, the WiFi signal every 2 s,
    // a notification now and then.
    int tick = 0;
    quint16 reference = 100;
    const int notifyTicks = qMax(1, parser.value("notify-every").toInt()) * 10;
    QTimer stream;
    QObject::connect(&stream, &QTimer::timeout, [&] {
        ++tick;
        if (tick % 20 == 0)
            world.networkManager.setStrength(uchar(55 + 30 * std::cos(tick / 90.0)));
        if (remoteQuiet())
            return;
        world.process.setJoystick(1, qint16(800 * std::sin(tick / 7.0)));
        world.process.setField(QStringLiteral("state"), world.events.rcState());
        world.process.sendFrame();
        if (tick % notifyTicks == notifyTicks / 2) {
            say(QStringLiteral("notification %1 raised").arg(reference));
            world.notifications.raise(reference++, 7, 1, QStringLiteral("Hydraulic oil warm"));
        }
        if (tick % 600 == 0)
            world.forgetRecords();
    });
    stream.start(100);
    return app.exec();
}
