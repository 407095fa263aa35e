// The interface process from start to a normal exit. The facade is a child of
// the application object, as under a QML engine, so it is destroyed by
// QCoreApplication's destructor after exec() returns, while the base-unit
// link is up and the internal processor is still sending. The process must
// end with status 0 and without a sanitizer report.
#include "norvik_link.h"
#include "standins.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules("default.info=false");
    StandIns world(QStringLiteral("127.0.0.62"));
    if (!world.isValid())
        return 2;
    BaseUnitSimulator& bu = world.baseUnit;
    ProcessDataPeer& process = world.process;
    SystemEventPeer& events = world.events;

    new NorvikLink(&app);
    events.sendEvent(SystemEventService::RESET);

    int status = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!bu.isInitialized())
            return;
        poll.stop();
        process.startSending(5);
        bu.setPeriodicInterval(10);
        QTimer::singleShot(200, [&] {
            status = 0;
            app.quit();
        });
    });
    poll.start(20);
    QTimer::singleShot(20000, [&] {
        std::fprintf(stderr, "the base-unit link did not come up\n");
        app.exit(1);
    });
    const int rc = app.exec();
    std::printf("exit path: %s\n", rc == 0 && status == 0 ? "normal" : "failed");
    return rc == 0 ? status : rc;
}
