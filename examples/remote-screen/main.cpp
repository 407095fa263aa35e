// A sample screen for the remote: the remote-control state, the links, a few live
// tags, the notification history with acknowledgement, battery and WiFi, and the
// operator's arm and disarm. The interface creates one NorvikLink before it loads
// its QML: the facade registers NorvikRemote.Defines and NorvikRemote.Services and
// brings the library up.
#include "deskstopline.h"

#include <norvik_link.h>
#include <norviklink_version.h>

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    NorvikLink link;
    DeskStopLine deskStop;

    // The engine goes before the facade: the screen's bindings refer to its objects.
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral(NORVIK_QML_IMPORT_PATH));
    engine.rootContext()->setContextProperty(QStringLiteral("norvikLink"), &link);
    engine.rootContext()->setContextProperty(QStringLiteral("deskStopLine"), &deskStop);
    engine.rootContext()->setContextProperty(QStringLiteral("libraryVersion"),
                                             QString::fromLatin1(norviklink_version()));
    engine.load(QUrl(QStringLiteral("qrc:/Main.qml")));
    if (engine.rootObjects().isEmpty())
        return 1;
    return app.exec();
}
