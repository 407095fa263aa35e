// The facade as the interface creates it, on the sample installation:
//   startup   time of the NorvikLink constructor (median of --constructions)
//   stop      machine-stop latency, GPIO value "0" written -> ID_E_STOP bytes at
//             the base-unit stand-in and -> stateChanged(STOP) on the main thread
// Run it in a private network namespace: unshare --net (with lo up).
#include "baseunitsimulator.h"
#include "configurationpeer.h"
#include "internalprocessorsim.h"
#include "networkmanagerbus.h"
#include "norvik_link.h"
#include "remoteworld.h"
#include "sampleinstall.h"
#include "simulatedi2cbus.h"
#include "systemeventpeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace remoteworld;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "constructions", "NorvikLink constructions to time.", "n", "20" });
    parser.addOption({ "presses", "Machine-stop presses.", "n", "200" });
    parser.process(app);
    QLoggingCategory::setFilterRules("*.info=false\n*.warning=false");

    SampleInstall sample;
    sample.useApp("crane");
    QTemporaryDir sysroot;
    qputenv("NORVIK_SYSROOT", sysroot.path().toLocal8Bit());
    prepareSysroot(sysroot.path());

    // The WiFi handler and the I2C bus on their stand-ins, never the machine's own.
    NetworkManagerBus networkManager;
    SimulatedI2cBus i2c;
    i2c.install();
    if (!networkManager.start()) {
        std::fprintf(stderr, "cannot start the private bus with the NetworkManager stand-in\n");
        return 1;
    }

    InternalProcessorSim ip;
    SystemEventPeer events(&ip);
    ConfigurationPeer parameters(&ip);
    parameters.setValue("RUID", 4660);
    BaseUnitSimulator baseUnit;
    baseUnit.setBaseId(39);
    baseUnit.setAppDir(sample.appDir("crane"));
    if (!baseUnit.listen(QHostAddress::LocalHost, 1147)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:1147\n");
        return 1;
    }

    // Start-up. The facades are kept, as their threads live until exit; all
    // but the last are built before the serial device exists, so that only
    // the last one owns the line and the base-unit link.
    std::vector<double> startup;
    const int constructions = qMax(1, parser.value("constructions").toInt());
    NorvikLink* link = nullptr;
    for (int i = 0; i < constructions; ++i) {
        if (i == constructions - 1)
            ip.open(sysroot.path());
        QElapsedTimer t;
        t.start();
        link = new NorvikLink;
        startup.push_back(t.nsecsElapsed() / 1e6);
    }
    report("NorvikLink constructor", startup, "ms");

    events.sendEvent(SystemEventService::RESET);
    waitFor([&] { return baseUnit.isInitialized(); }, 10000);
    waitFor([&] { return link->systemEventService()->state() == SystemEventService::SELECTED; },
            5000);
    if (!baseUnit.isInitialized()) {
        std::fprintf(stderr, "base-unit link did not come up\n");
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    qint64 pressedAt = 0, wireAt = 0, stateAt = 0;
    QObject::connect(&baseUnit, &BaseUnitSimulator::messageReceived, [&](quint8 id, QByteArray) {
        if (id == BaseUnitSimulator::E_STOP && pressedAt && !wireAt)
            wireAt = clock.nsecsElapsed();
    });
    QObject::connect(link->systemEventService(), &SystemEventService::stateChanged, &app,
                     [&](SystemEventService::States s) {
                         if (s == SystemEventService::STOP && pressedAt && !stateAt)
                             stateAt = clock.nsecsElapsed();
                     });
    std::vector<double> toWire, toState;
    int lost = 0;
    const int presses = parser.value("presses").toInt();
    for (int i = 0; i < presses; ++i) {
        link->arm();
        waitFor(
            [&] {
                return link->systemEventService()->state() == SystemEventService::ARMED_ENABLED;
            },
            3000);
        pressedAt = wireAt = stateAt = 0;
        pressedAt = clock.nsecsElapsed();
        writeFile(stopButton(sysroot.path()), "0");
        if (!waitFor([&] { return wireAt && stateAt; }, 3000))
            ++lost;
        if (wireAt)
            toWire.push_back((wireAt - pressedAt) / 1e6);
        if (stateAt)
            toState.push_back((stateAt - pressedAt) / 1e6);
        writeFile(stopButton(sysroot.path()), "1");
        waitFor([&] { return link->systemEventService()->state() == SystemEventService::SELECTED; },
                3000);
    }
    std::printf("machine stop, %d presses, %d lost\n", presses, lost);
    report("  GPIO \"0\" -> ID_E_STOP at the base unit", toWire, "ms");
    report("  GPIO \"0\" -> stateChanged(STOP) on main", toState, "ms");
    std::fflush(stdout);
    std::_Exit(0);
}
