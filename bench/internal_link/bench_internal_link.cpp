// CRC-32/MPEG-2 throughput and the cost of one internal-link frame in each
// direction. Run: build/bench/internal_link/bench_internal_link
#include "crcstd32.h"
#include "frame_layer.h"
#include "message_layer.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <array>

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return out;
}

quint32 crcBitwise(const char* data, qsizetype length)
{
    quint32 crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < length; ++i) {
        crc ^= quint32(quint8(data[i])) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

const std::array<quint32, 256>& msbTable()
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t {};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

quint32 crcOneTable(const char* data, qsizetype length)
{
    const auto& t = msbTable();
    quint32 crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < length; ++i)
        crc = (crc << 8) ^ t[(crc >> 24) ^ quint8(data[i])];
    return crc;
}

template<quint32 (*Crc)(const char*, qsizetype)> void crcBench(benchmark::State& state)
{
    const QByteArray data = randomBytes(int(state.range(0)), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc(data.constData(), data.size()));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

quint32 crcSliced(const char* data, qsizetype length)
{
    return CrcStd32::calculate(data, length);
}

// Header, CRC and stuffing, as the transport layer builds a frame to send.
void sendPath(benchmark::State& state)
{
    const QByteArray payload = randomBytes(int(state.range(0)), 2);
    FrameLayer frames;
    MessageLayer crc;
    for (auto _ : state) {
        QByteArray packet;
        packet.reserve(payload.size() + 6);
        packet.append(char(0x45));
        packet.append(char(0x03));
        packet.append(payload);
        crc.add(packet);
        benchmark::DoNotOptimize(frames.add(packet));
    }
    state.SetItemsProcessed(state.iterations());
}

// Unstuffing, CRC check and header, as a received frame is taken apart.
void receivePath(benchmark::State& state)
{
    FrameLayer frames;
    MessageLayer crc;
    QByteArray packet = QByteArray::fromHex("4503") + randomBytes(int(state.range(0)), 3);
    crc.add(packet);
    const QByteArray wire = frames.add(packet);
    for (auto _ : state) {
        QByteArray message = frames.remove(wire);
        if (!crc.check(message))
            state.SkipWithError("bad crc");
        crc.remove(message);
        const quint8 cls = quint8(message.at(0)) >> 6;
        const quint8 number = quint8(message.at(0)) & 0x3F;
        const quint8 service = quint8(message.at(1));
        benchmark::DoNotOptimize(cls + number + service);
        benchmark::DoNotOptimize(message.mid(2));
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK_TEMPLATE(crcBench, crcSliced)->Name("crc/sliced")->Arg(64)->Arg(1024)->Arg(65536);
BENCHMARK_TEMPLATE(crcBench, crcOneTable)->Name("crc/one_table")->Arg(64)->Arg(1024)->Arg(65536);
BENCHMARK_TEMPLATE(crcBench, crcBitwise)->Name("crc/bitwise")->Arg(64)->Arg(1024)->Arg(65536);
BENCHMARK(sendPath)->Name("frame/send")->Arg(16)->Arg(64)->Arg(252);
BENCHMARK(receivePath)->Name("frame/receive")->Arg(16)->Arg(64)->Arg(252);

BENCHMARK_MAIN();
