// norvik-baseunit-sim: the base unit's R-Uzad side on a TCP port, for the desk runner.
#include "baseunitsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("norvik-baseunit-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the base unit's side of R-Uzad for one remote at a time."));
    parser.addHelpOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address to listen on."), QStringLiteral("addr"),
                                    QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port."),
                                  QStringLiteral("port"), QStringLiteral("1147"));
    const QCommandLineOption appDir(QStringLiteral("app-dir"),
                                    QStringLiteral("Application the base unit is paired with."),
                                    QStringLiteral("dir"));
    const QCommandLineOption baseId(QStringLiteral("base-id"),
                                    QStringLiteral("This base unit's id (BUID)."),
                                    QStringLiteral("id"), QStringLiteral("0"));
    const QCommandLineOption heartbeat(QStringLiteral("heartbeat-ms"),
                                       QStringLiteral("Heartbeat interval, 0 for none."),
                                       QStringLiteral("ms"), QStringLiteral("250"));
    const QCommandLineOption periodic(QStringLiteral("periodic-ms"),
                                      QStringLiteral("Periodic data interval, 0 for none."),
                                      QStringLiteral("ms"), QStringLiteral("100"));
    const QCommandLineOption periodicSize(QStringLiteral("periodic-size"),
                                          QStringLiteral("Periodic data frame length."),
                                          QStringLiteral("bytes"), QStringLiteral("64"));
    const QCommandLineOption status(QStringLiteral("status"),
                                    QStringLiteral("Send ID_BU_STATUS after the handshake."),
                                    QStringLiteral("identity:state"));
    const QCommandLineOption notReady(QStringLiteral("not-ready"),
                                      QStringLiteral("Answer handshakes with E_BU_NOT_READY."));
    parser.addOptions(
        { listen, port, appDir, baseId, heartbeat, periodic, periodicSize, status, notReady });
    parser.process(app);

    BaseUnitSimulator sim;
    sim.setBaseId(static_cast<quint16>(parser.value(baseId).toUInt()));
    if (parser.isSet(appDir))
        sim.setAppDir(parser.value(appDir));
    sim.setReady(!parser.isSet(notReady));
    sim.setHeartbeatInterval(parser.value(heartbeat).toInt());
    sim.setPeriodicInterval(parser.value(periodic).toInt());
    sim.setPeriodicSize(parser.value(periodicSize).toInt());
    if (parser.isSet(status)) {
        const QStringList parts = parser.value(status).split(QLatin1Char(':'));
        sim.setStatusOnInit(static_cast<quint16>(parts.value(0).toUInt()),
                            static_cast<quint8>(parts.value(1).toUInt()));
    }

    QObject::connect(&sim, &BaseUnitSimulator::clientConnected,
                     [] { qInfo() << "Remote connected"; });
    QObject::connect(&sim, &BaseUnitSimulator::clientDisconnected,
                     [] { qInfo() << "Remote disconnected"; });
    QObject::connect(&sim, &BaseUnitSimulator::handshakeAnswered,
                     [](quint16 code) { qInfo() << "Handshake answered with code" << code; });
    QObject::connect(&sim, &BaseUnitSimulator::messageReceived,
                     [](quint8 id, const QByteArray& payload) {
                         if (id != BaseUnitSimulator::HEARTBEAT)
                             qInfo() << "Received id" << id << payload.toHex(' ');
                     });

    if (!sim.listen(QHostAddress(parser.value(listen)),
                    static_cast<quint16>(parser.value(port).toUInt())))
        return 1;
    qInfo() << "Base unit simulator listening on" << sim.serverAddress().toString()
            << sim.serverPort();
    return app.exec();
}
