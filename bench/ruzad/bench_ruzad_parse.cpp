// Parser throughput of RUzad::Connection over a mixed stream as the base unit sends it:
// periodic data frames of 64 bytes, heartbeats and 16-byte commands.
#include "baseunitsimulator.h"
#include "connection.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {
struct Stream
{
    QByteArray bytes;
    int messages = 0;
};

const Stream& recordedStream()
{
    static const Stream stream = [] {
        Stream s;
        quint32 ts = 1000;
        const QByteArray periodic(64, '\x5a');
        const QByteArray cmd(16, '\x21');
        while (s.bytes.size() < 4 * 1024 * 1024) {
            s.bytes += BaseUnitSimulator::encode(BaseUnitSimulator::PERIODIC_DATA, periodic, ts++);
            s.bytes += BaseUnitSimulator::encode(BaseUnitSimulator::HEARTBEAT, {}, ts++);
            s.bytes += BaseUnitSimulator::encode(BaseUnitSimulator::PERIODIC_DATA, periodic, ts++);
            s.bytes += BaseUnitSimulator::encode(BaseUnitSimulator::CMD, cmd, ts++);
            s.bytes += BaseUnitSimulator::encode(BaseUnitSimulator::PERIODIC_DATA, periodic, ts++);
            s.bytes += BaseUnitSimulator::encode(BaseUnitSimulator::HEARTBEAT, {}, ts++);
            s.messages += 6;
        }
        return s;
    }();
    return stream;
}

const QByteArray kChecksum(16, '\0');

// Runs feed over the whole stream with a fresh connection per iteration, and checks that
// every periodic frame and command was handed on.
template<typename Feed> void measure(benchmark::State& state, Feed feed)
{
    const Stream& stream = recordedStream();
    const int expected = stream.messages / 6 * 4;
    for (auto _ : state) {
        state.PauseTiming();
        RUzad::Connection conn(0x42, 0x1234, kChecksum);
        int delivered = 0;
        const auto count = [&delivered](const QByteArray&) { ++delivered; };
        QObject::connect(&conn, &RUzad::Connection::readyReadPeriodicData, count);
        QObject::connect(&conn, &RUzad::Connection::readyReadCmd, count);
        state.ResumeTiming();
        feed(conn);
        state.PauseTiming();
        if (delivered != expected)
            state.SkipWithError("messages lost");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * stream.bytes.size());
    state.SetItemsProcessed(state.iterations() * stream.messages);
}

// The socket path: reads of chunkSize bytes appended to the TCP buffer and parsed.
void BM_ParseTcp(benchmark::State& state)
{
    const QByteArray& bytes = recordedStream().bytes;
    const int chunk = int(state.range(0));
    measure(state, [&](RUzad::Connection& conn) {
        QByteArray buffer;
        for (int pos = 0; pos < bytes.size(); pos += chunk) {
            buffer.append(bytes.constData() + pos, qMin(chunk, bytes.size() - pos));
            QMetaObject::invokeMethod(&conn, "parse", Qt::DirectConnection,
                                      Q_ARG(QByteArray&, buffer),
                                      Q_ARG(RUzad::MessageOrigin, RUzad::ORIGIN_TCP));
        }
    });
}
BENCHMARK(BM_ParseTcp)->Arg(1460)->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond);

// The tunnel path: blocks of at most 252 bytes as the internal link carries them.
void BM_ParseFallback(benchmark::State& state)
{
    const QByteArray& bytes = recordedStream().bytes;
    std::vector<QByteArray> blocks;
    for (int pos = 0; pos < bytes.size(); pos += int(state.range(0)))
        blocks.push_back(bytes.mid(pos, int(state.range(0))));
    measure(state, [&](RUzad::Connection& conn) {
        for (const QByteArray& block : blocks)
            conn.handleFallback(block);
    });
}
BENCHMARK(BM_ParseFallback)->Arg(252)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv); // the connection's timers need an event dispatcher
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
