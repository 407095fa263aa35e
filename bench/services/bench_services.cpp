// The internal link stack as the remote runs it (service layer on its own
// thread, tags on the main thread, the internal processor stand-in on a
// pseudo-terminal), measured three ways:
//   latency   process-data frame written by the stand-in -> valueUpdated of its tag
//   failure   first transmission of an unanswered packet -> stateChanged(NO_RI_Link)
//   cpu       CPU time of the service thread at 200 frames/s in and 2 frames/s out
#include "internalprocessorsim.h"
#include "processdatapeer.h"
#include "remoteworld.h"
#include "sampleinstall.h"
#include "service_layer.h"
#include "systemeventpeer.h"
#include "systemeventservice.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {
using namespace remoteworld;

struct Stack
{
    QTemporaryDir sysroot;
    InternalProcessorSim sim;
    SystemEventPeer* events = nullptr;
    TagDatabase tags;
    ServiceLayer* layer = nullptr;
    QThread thread;
    SystemEventService* state = nullptr;

    bool start()
    {
        qputenv("NORVIK_SYSROOT", sysroot.path().toLocal8Bit());
        if (!sim.open(sysroot.path()))
            return false;
        events = new SystemEventPeer(&sim, &sim);
        tags.prePopulate();
        layer = new ServiceLayer(&tags);
        layer->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(layer, "run", Qt::BlockingQueuedConnection);
        state = qobject_cast<SystemEventService*>(layer->getServices().value(0));
        return state;
    }
    ~Stack()
    {
        QMetaObject::invokeMethod(
            layer, [this] { delete layer; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    double serviceThreadCpuMs()
    {
        double ms = 0;
        QMetaObject::invokeMethod(
            layer,
            [&ms] {
                timespec ts;
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
                ms = ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
            },
            Qt::BlockingQueuedConnection);
        return ms;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "frames", "Process-data frames for the latency run.", "n", "10000" });
    parser.addOption({ "rate", "Process-data frames per second.", "n", "200" });
    parser.addOption({ "trials", "Link-failure trials.", "n", "50" });
    parser.addOption({ "cpu-seconds", "Length of the CPU-time run.", "s", "10" });
    parser.process(app);
    QLoggingCategory::setFilterRules("default.info=false");

    SampleInstall sample;
    sample.useApp("crane");
    Stack stack;
    if (!sample.isValid() || !stack.start()) {
        std::fprintf(stderr, "cannot bring the stack up\n");
        return 1;
    }
    ProcessDataPeer peer(&stack.sim);
    peer.loadLayout(sample.sharedConfigDir() + "/remoteInternalInputTags.csv");
    Tag* joystick = stack.tags.get("joystick_01");
    const int rate = qMax(1, parser.value("rate").toInt());

    // Latency: every frame carries a new joystick value.
    const int frames = parser.value("frames").toInt();
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> sentAt(2001, 0);
    std::vector<double> latency;
    QObject::connect(joystick, &Tag::valueUpdated, [&](const QVariant& v) {
        const int index = v.toInt() + 1000;
        if (index >= 0 && index <= 2000 && sentAt[index])
            latency.push_back((clock.nsecsElapsed() - sentAt[index]) / 1e6);
    });
    int sent = 0;
    QTimer sender;
    sender.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sender, &QTimer::timeout, [&] {
        const int value = sent % 2000 - 1000;
        peer.setJoystick(1, qint16(value));
        sentAt[value + 1000] = clock.nsecsElapsed();
        peer.sendFrame();
        if (++sent == frames)
            sender.stop();
    });
    sender.start(1000 / rate);
    waitFor([&] { return sent == frames; }, frames * 1000 / rate * 2 + 5000);
    waitFor([&] { return int(latency.size()) >= frames; }, 2000);
    std::printf("process data at %d frames/s, %d sent, %zu arrived\n", rate, sent, latency.size());
    report("  frame on the line -> valueUpdated on main", latency, "ms");

    // Link failure: the stand-in stops acknowledging, a request is forwarded.
    const int trials = parser.value("trials").toInt();
    std::vector<double> failure;
    qint64 firstTry = 0;
    bool failed = false;
    QObject::connect(&stack.sim, &InternalProcessorSim::packetReceived,
                     [&](const InternalProcessorSim::Packet& p) {
                         if (p.serviceId == 0 && p.messageClass == 1 && !firstTry)
                             firstTry = clock.nsecsElapsed();
                     });
    QObject::connect(stack.state, &SystemEventService::stateChanged, &app,
                     [&](SystemEventService::States s) {
                         if (s == SystemEventService::NO_RI_Link && firstTry && !failed) {
                             failure.push_back((clock.nsecsElapsed() - firstTry) / 1e6);
                             failed = true;
                         }
                     });
    stack.events->setAutoReply(false);
    for (int i = 0; i < trials; ++i) {
        stack.sim.setWithholdAcks(false);
        QMetaObject::invokeMethod(stack.state, "reset", Qt::QueuedConnection);
        waitFor([&] { return stack.state->state() == SystemEventService::WAITING; }, 3000);
        firstTry = 0;
        failed = false;
        stack.sim.setWithholdAcks(true);
        QMetaObject::invokeMethod(stack.state, "select", Qt::QueuedConnection);
        waitFor([&] { return failed; }, 3000);
    }
    stack.sim.setWithholdAcks(false);
    std::printf("link failure, %d trials\n", trials);
    report("  first transmission -> stateChanged(NO_RI_Link)", failure, "ms");

    // CPU time of the service thread under the nominal load.
    const int seconds = parser.value("cpu-seconds").toInt();
    const double cpuBefore = stack.serviceThreadCpuMs();
    QElapsedTimer wall;
    wall.start();
    peer.startSending(1000 / rate);
    waitFor([&] { return wall.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    peer.stopSending();
    const double cpuMs = stack.serviceThreadCpuMs() - cpuBefore;
    std::printf("service thread at %d frames/s in, 2 frames/s out: %.1f ms CPU in %.1f s = %.2f %% "
                "of one core\n",
                rate, cpuMs, wall.elapsed() / 1000.0, cpuMs / wall.elapsed() * 100.0);
    return 0;
}
