// Arbitrary bytes as one incoming message of the JSON interface, taken as
// UTF-8 text, on a real facade that runs on the stand-ins: arming, settags
// for the touch mode, backlight and LEDs, acknowledgements and closing the
// application reach the real components. Trigger tags make each change send
// a process-data message, so the outgoing side is serialised as well.
#include "norvik_link.h"
#include "norviklinkjsoninterface.h"
#include "standins.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdint>
#include <cstdlib>

namespace {
// Rejected messages log on nearly every run; printing them would only slow the fuzzer.
void quiet(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        abort();
}

struct Remote
{
    StandIns world { QStringLiteral("127.0.0.66") };
    NorvikLink* link = nullptr;
    NorvikLinkJsonInterface* json = nullptr;
};

Remote* remote = nullptr;

Remote* setUp()
{
    static int argc = 1;
    static char name[] = "fuzz_jsoninterface";
    static char* argv[] = { name, nullptr };
    new QCoreApplication(argc, argv);
    qInstallMessageHandler(quiet);
    remote = new Remote;
    if (!remote->world.isValid())
        abort();
    remote->link = new NorvikLink;
    // The periodic timer never fires within a run; only the triggers send.
    remote->json = new NorvikLinkJsonInterface(remote->link, 3600 * 1000, nullptr);
    // The facade ends its threads at exit, so what they hold is not taken for a leak.
    std::atexit([] {
        delete remote->json;
        delete remote->link;
    });
    for (const char* tag : { "led_control_1_to_8", "touch_mode", "backlightIntensity", "state" })
        remote->json->addPeriodicData(QString::fromLatin1(tag), true);
    return remote;
}

// The stand-ins record every packet, command and bus transfer they see, for tests
// that look at them afterwards. Nothing here does, and millions of runs would
// pile them up, so they are dropped every few thousand runs.
void forgetRecords(StandIns& world)
{
    world.ip.clearReceived();
    world.process.clearStatusFrames();
    world.notifications.clearReceived();
    world.parameters.clearRequests();
    world.baseUnit.clearReceived();
    world.launcher.clearReceived();
    world.i2c.clearTrace();
}

// Requests for the internal processor queue up behind the one packet the link
// carries at a time, and the fuzzer sends them far faster than the link's round
// trips go. Every few thousand runs the queue is let drain: the event loop runs
// until the line has been quiet for twice the 50 ms retransmission interval, so
// nothing is left queued (or the link was declared failed and dropped the queue).
void drainLink(StandIns& world)
{
    QElapsedTimer sinceStart;
    QElapsedTimer quiet;
    sinceStart.start();
    quiet.start();
    int frames = world.ip.framesIn();
    while (quiet.elapsed() < 100 && sinceStart.elapsed() < 10000) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
        if (world.ip.framesIn() != frames) {
            frames = world.ip.framesIn();
            quiet.restart();
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Remote* const running = setUp();
    static unsigned runs = 0;
    running->json->processMessage(
        QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)));
    // The stand-ins and the facade answer on this thread's event loop.
    QCoreApplication::processEvents();
    if (++runs % 8192 == 0) {
        drainLink(running->world);
        forgetRecords(running->world);
    }
    return 0;
}
