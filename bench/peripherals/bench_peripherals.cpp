// The peripherals on their stand-ins:
//   i2c    request -> readyReadFromI2C on the caller's thread, through the simulated
//          bus and the bus worker thread (--requests reads of the gauge)
//   idle   CPU of this process while the remote idles with every peripheral polling
//          (battery 2.5 s, light sensor 200 ms, touch state 1 s, WiFi 1 s, IP 1 s) for
//          --seconds; the in-process stand-ins are counted too, so this is an upper bound
// Run it in a private network namespace: unshare --net (with lo up).
#include "i2chandler.h"
#include "norvik_link.h"
#include "remoteworld.h"
#include "standins.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QLoggingCategory>

#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace remoteworld;

namespace {
double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "requests", "I2C reads to time.", "n", "2000" });
    parser.addOption({ "seconds", "Idle time to measure.", "n", "20" });
    parser.process(app);
    QLoggingCategory::setFilterRules("*.info=false\n*.warning=false");

    StandIns world;
    if (!world.isValid()) {
        std::fprintf(stderr, "the stand-ins cannot start (is 127.0.0.1:1147 taken?)\n");
        return 1;
    }

    {
        i2cHandler bus(nullptr, QStringLiteral("/dev/i2c-2"));
        QElapsedTimer clock;
        qint64 answeredAt = 0;
        QObject::connect(&bus, &i2cHandler::readyReadFromI2C, &app,
                         [&](quint8, quint8, QByteArray) { answeredAt = clock.nsecsElapsed(); });
        clock.start();
        std::vector<double> latency;
        int lost = 0;
        const int requests = qMax(1, parser.value("requests").toInt());
        for (int i = 0; i < requests; ++i) {
            answeredAt = 0;
            const qint64 askedAt = clock.nsecsElapsed();
            bus.i2cRead(SimulatedI2cBus::GAUGE, 0x0D, 2);
            if (!waitFor([&] { return answeredAt != 0; }, 1000))
                ++lost;
            else
                latency.push_back((answeredAt - askedAt) / 1e3);
        }
        std::printf("I2C read through the simulated bus, %d requests, %d lost\n", requests, lost);
        report("  i2cRead -> readyReadFromI2C on the caller", latency, "us");
    }

    NorvikLink link;
    world.events.sendEvent(SystemEventService::RESET);
    waitFor([&] { return world.baseUnit.isInitialized(); }, 10000);
    // A real event loop: idle means asleep until the next timer.
    const auto idle = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    idle(2000); // start-up settles
    const int seconds = qMax(1, parser.value("seconds").toInt());
    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    idle(seconds * 1000);
    const double used = cpuSeconds() - before;
    std::printf("idle remote, all peripherals polling, %.1f s: CPU %.2f %% of one core "
                "(target under 1 %%)\n",
                wall.elapsed() / 1000.0, 100.0 * used / (wall.elapsed() / 1000.0));
    std::fflush(stdout);
    std::_Exit(0);
}
