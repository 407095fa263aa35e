// The interface process from start to a normal exit. The facade is a child of
// the application object, as under a QML engine, so it is destroyed by
// QCoreApplication's destructor after exec() returns, while the base-unit
// link is up and the internal processor is still sending. The process must
// end with status 0 and without a sanitizer report.
#include "baseunitsimulator.h"
#include "configurationpeer.h"
#include "internalprocessorsim.h"
#include "launchersimulator.h"
#include "norvik_link.h"
#include "processdatapeer.h"
#include "remoteworld.h"
#include "sampleinstall.h"
#include "systemeventpeer.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace remoteworld;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules("default.info=false");
    SampleInstall sample;
    QTemporaryDir sysroot;
    QTemporaryDir tmp;
    const QString appCsv = sample.appDir("crane") + "/config/app.csv";
    QByteArray config = readFile(appCsv);
    config.replace("GSIP;127.0.0.1;", "GSIP;127.0.0.62;");
    if (!sample.isValid() || !sysroot.isValid() || !writeFile(appCsv, config)
        || !prepareSysroot(sysroot.path()))
        return 2;
    sample.useApp("crane");
    qputenv("NORVIK_SYSROOT", sysroot.path().toLocal8Bit());
    qputenv("TMPDIR", tmp.path().toLocal8Bit());

    InternalProcessorSim ip;
    if (!ip.open(sysroot.path()))
        return 2;
    SystemEventPeer events(&ip);
    ConfigurationPeer parameters(&ip);
    parameters.setValue("RUID", 4660);
    ProcessDataPeer process(&ip);
    process.loadLayout(sample.sharedConfigDir() + "/remoteInternalInputTags.csv");
    BaseUnitSimulator bu;
    bu.setBaseId(39);
    bu.setAppDir(sample.appDir("crane"));
    LauncherSimulator launcher;
    if (!bu.listen(QHostAddress(QStringLiteral("127.0.0.62")), 1147) || !launcher.listen())
        return 2;

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
