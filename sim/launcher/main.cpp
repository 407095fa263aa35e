// norvik-launcher-sim [name] [heartbeat-ms]: a launcher stand-in for the desk
// runner; prints every command it receives.

#include "launchersimulator.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString name = args.value(1, QStringLiteral("NKLauncher"));
    const int heartbeatMs = args.value(2, QStringLiteral("1000")).toInt();

    LauncherSimulator launcher;
    if (!launcher.listen(name)) {
        QTextStream(stderr) << "cannot listen on " << name << '\n';
        return 1;
    }
    QTextStream out(stdout);
    out << "launcher listening on " << launcher.fullServerName() << Qt::endl;
    QObject::connect(&launcher, &LauncherSimulator::commandReceived,
                     [&out](const QString& command, const QString& data) {
                         out << command << (data.isEmpty() ? "" : " ") << data << Qt::endl;
                     });
    launcher.setHeartbeatInterval(heartbeatMs);
    return app.exec();
}
