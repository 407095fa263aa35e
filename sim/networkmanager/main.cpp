// norvik-nm-sim [--address ADDRESS]: the NetworkManager stand-in on the bus at ADDRESS,
// or on the one DBUS_SYSTEM_BUS_ADDRESS names. Ends when that bus goes away.

#include "networkmanagersim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusError>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>

int main(int argc, char** argv)
{
    // Never outlive the test or desk runner that started us.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("D-Bus address of the bus to serve on."),
                                     QStringLiteral("address"));
    parser.addOption(address);
    parser.addHelpOption();
    parser.process(app);

    const QString name = QStringLiteral("networkmanager");
    const QDBusConnection bus = parser.isSet(address)
        ? QDBusConnection::connectToBus(parser.value(address), name)
        : QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
    if (!bus.isConnected()) {
        std::fprintf(stderr, "norvik-nm-sim: no bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    NetworkManagerSim sim(bus);
    if (!sim.start()) {
        std::fprintf(stderr, "norvik-nm-sim: cannot serve: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    // A service whose daemon is gone serves nobody.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&bus] {
        if (!bus.isConnected())
            QCoreApplication::quit();
    });
    watch.start(200);
    return app.exec();
}
