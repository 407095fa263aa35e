// The link's timing against the base-unit simulator on loopback:
//  1. heartbeat interval of a connected, idle remote, measured where the base unit receives it;
//  2. time from the base unit going silent to the remote's next connection attempt.
#include "baseunitsimulator.h"
#include "checksum.h"
#include "client.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

void waitFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

void printStats(const char* what, QVector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto pick = [&](double q) { return ms.at(qMin(ms.size() - 1, int(q * ms.size()))); };
    std::printf("%s: n=%d min=%.2f ms median=%.2f ms p99=%.2f ms max=%.2f ms\n", what,
                int(ms.size()), ms.first(), pick(0.5), pick(0.99), ms.last());
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("BENCH_VERBOSE"))
        qSetMessagePattern(QStringLiteral("%{if-critical}%{message}%{endif}")); // only failures

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Loopback address of the simulator."),
                                     QStringLiteral("addr"), QStringLiteral("127.0.0.41"));
    const QCommandLineOption seconds(QStringLiteral("heartbeat-seconds"),
                                     QStringLiteral("How long to record heartbeats."),
                                     QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption trials(QStringLiteral("trials"),
                                    QStringLiteral("Silence-to-reconnect trials."),
                                    QStringLiteral("n"), QStringLiteral("20"));
    parser.addOptions({ address, seconds, trials });
    parser.process(app);
    const QHostAddress addr(parser.value(address));
    if (!addr.isLoopback()) {
        std::fprintf(stderr, "only loopback addresses are allowed\n");
        return 2;
    }

    BaseUnitSimulator sim;
    sim.setBaseId(0x42);
    sim.setChecksum(QByteArray(16, '\x01'));
    sim.setHeartbeatInterval(250);
    sim.setPeriodicInterval(0);
    if (!sim.listen(addr, 1147))
        return 1;
    RUzad::Client client(0x42, 0x1234, sim.checksum());
    int initialized = 0;
    QObject::connect(&client, &RUzad::Client::initialized, [&] { ++initialized; });
    client.connect(addr, 1147);
    if (!waitUntil([&] { return initialized == 1; }, 10000)) {
        std::fprintf(stderr, "no handshake\n");
        return 1;
    }

    // 1. Heartbeats while idle.
    const int duration = parser.value(seconds).toInt();
    std::printf("recording heartbeats for %d s...\n", duration);
    std::fflush(stdout);
    waitFor(300);
    sim.clearReceived();
    waitFor(duration * 1000);
    const auto beats = sim.received(BaseUnitSimulator::HEARTBEAT);
    QVector<double> gaps;
    for (int i = 1; i < beats.size(); ++i)
        gaps << (beats.at(i).receivedNs - beats.at(i - 1).receivedNs) / 1e6;
    if (gaps.isEmpty()) {
        std::fprintf(stderr, "no heartbeats\n");
        return 1;
    }
    printStats("heartbeat interval at the base unit", gaps);
    const int late = int(std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 250; }));
    std::printf("  intervals above 250 ms: %d of %d\n", late, int(gaps.size()));
    std::fflush(stdout);

    // 2. Silence to the next connection attempt.
    QVector<double> delays;
    for (int t = 0; t < parser.value(trials).toInt(); ++t) {
        const int count = sim.connectionCount();
        const int before = initialized;
        waitFor(500);
        const qint64 silentAt = sim.elapsedNs();
        sim.setSilent(true);
        // Talks again once the remote gave up, so that its next attempt gets an answer.
        if (!waitUntil([&] { return !sim.hasClient(); }, 10000)) {
            std::fprintf(stderr, "no timeout\n");
            return 1;
        }
        sim.setSilent(false);
        if (!waitUntil([&] { return sim.connectionCount() > count; }, 10000)) {
            std::fprintf(stderr, "no reconnect\n");
            return 1;
        }
        delays << (sim.connectionTimesNs().last() - silentAt) / 1e6;
        if (!waitUntil([&] { return initialized > before; }, 10000)) {
            std::fprintf(stderr, "no handshake after reconnect\n");
            return 1;
        }
    }
    if (!delays.isEmpty())
        printStats("silence to next connection attempt", delays);
    client.disconnect();
    return 0;
}
