// Runs the internal processor stand-in on its own: creates the
// pseudo-terminal, links it as <sysroot>/dev/ttymxc0, acknowledges and
// answers what the library sends and prints every packet.
#include "internalprocessorsim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Internal processor stand-in on a pseudo-terminal");
    parser.addHelpOption();
    parser.addOption({ "sysroot", "Folder that gets dev/ttymxc0.", "dir" });
    parser.process(app);
    if (!parser.isSet("sysroot")) {
        parser.showHelp(1);
    }

    InternalProcessorSim sim;
    if (!sim.open(parser.value("sysroot")))
        return 1;
    QTextStream out(stdout);
    out << "internal processor on " << sim.slaveName() << Qt::endl;
    QObject::connect(
        &sim, &InternalProcessorSim::packetReceived, [&out](const InternalProcessorSim::Packet& p) {
            out << "rx class " << p.messageClass << " number " << p.packetNumber << " service "
                << p.serviceId << " payload " << p.payload.toHex(' ') << Qt::endl;
        });
    return app.exec();
}
