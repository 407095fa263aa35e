// Process-data decoding, tag lookup by name and table loading.
#include "configfile.h"
#include "tagdatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

const char* const kHeader
    = "norvik_link_tag;label;startByte;byteSize;startBit;bitSize;dataType;minValue;maxValue;"
      "minWarningValue;maxWarningValue;minAlarmValue;maxAlarmValue;unitLabel;groups;direction\n"
      "Tag;Label;Start Byte;Byte Size;Start Bit;Bit Size;Data Type;Min;Max;Min Warning;"
      "Max Warning;Min Alarm;Max Alarm;Unit;Groups;Direction\n";

// 256 RIIT tags of mixed types over a 128-byte frame: 64 bytes of 16-bit and
// 32-bit integers and reals, 64 bytes read bit by bit as booleans and bit fields.
QByteArray inputTable()
{
    QByteArray t(kHeader);
    int n = 0;
    auto row = [&](int start, int size, int bit, int bits, const char* type) {
        t += "tag_" + QByteArray::number(n++) + ";Tag;" + QByteArray::number(start) + ';'
            + QByteArray::number(size) + ';' + QByteArray::number(bit) + ';'
            + QByteArray::number(bits) + ';' + type
            + ";-1000;1000;-700;700;-900;900;;group;toRGP\n";
    };
    const char* wordTypes[] = { "INT", "BE_UINT", "UINT", "BE_INT" };
    for (int i = 0; i < 16; ++i)
        row(2 * i, 2, 0, 0, wordTypes[i % 4]);
    const char* longTypes[] = { "REAL", "UINT", "BE_REAL", "INT" };
    for (int i = 0; i < 8; ++i)
        row(32 + 4 * i, 4, 0, 0, longTypes[i % 4]);
    while (n < 256) {
        const int k = n - 24;
        const int byte = 64 + k / 4;
        if (k % 4 == 3)
            row(byte, 1, 4, 4, "INT");
        else
            row(byte, 1, k % 4, 0, k % 2 ? "BE_BOOLEAN" : "BOOLEAN");
    }
    return t;
}

struct Installation
{
    QTemporaryDir dir;
    Installation()
    {
        QDir(dir.path()).mkpath("Applications/.config");
        QDir(dir.path()).mkpath("Applications/bench/config");
        write("Applications/.config/remoteInternalInputTags.csv", inputTable());
        for (const char* name : { "remoteInternalOutputTags", "baseToRemoteStatusTags",
                                  "remoteInternalTags", "remoteInternalConfigTags" })
            write(QStringLiteral("Applications/.config/%1.csv").arg(name), kHeader);
        QByteArray machine(kHeader);
        for (int i = 0; i < 744; ++i)
            machine += "machine_" + QByteArray::number(i) + ";Machine;"
                + QByteArray::number(i % 128) + ";1;0;0;UINT;0;255;;;;;;machine;fromBU\n";
        write("Applications/bench/config/ECOutputTags.csv", machine);
        write("Applications/bench/config/EGOutputTags.csv", kHeader);
        qputenv("NORVIK_APP_DIR", QFile::encodeName(dir.path() + "/Applications/bench"));
    }
    void write(const QString& rel, const QByteArray& content)
    {
        QFile f(dir.filePath(rel));
        f.open(QIODevice::WriteOnly);
        f.write(content);
    }
};

Installation& installation()
{
    static Installation inst;
    return inst;
}

void connectReceivers(TagDatabase& db, int* counter)
{
    for (int i = 0; i < db.size(); ++i)
        QObject::connect(db.at(i), &Tag::valueUpdated, [counter](const QVariant&) { ++*counter; });
}

QByteArray frame(unsigned char fill)
{
    return QByteArray(128, static_cast<char>(fill));
}

void BM_ProcessDataUnchanged(benchmark::State& state)
{
    installation();
    TagDatabase db;
    db.prePopulate();
    int updates = 0;
    connectReceivers(db, &updates);
    const QByteArray data = frame(0x55);
    db.processProsessData(data);
    updates = 0;
    for (auto _ : state)
        db.processProsessData(data);
    state.counters["updates_per_frame"] = double(updates) / state.iterations();
}

void BM_ProcessDataAllChanged(benchmark::State& state)
{
    installation();
    TagDatabase db;
    db.prePopulate();
    int updates = 0;
    connectReceivers(db, &updates);
    // Alternating frames in which every byte, and so every tag's value, differs.
    const QByteArray frames[] = { frame(0x55), frame(0xAA) };
    db.processProsessData(frames[0]);
    updates = 0;
    int k = 0;
    for (auto _ : state)
        db.processProsessData(frames[k ^= 1]);
    state.counters["updates_per_frame"] = double(updates) / state.iterations();
}

void BM_GetByName(benchmark::State& state)
{
    installation();
    TagDatabase db;
    db.prePopulate();
    // 256 input tags and 744 machine tags: 1000 names; look up the last one.
    const QString name = QStringLiteral("machine_743");
    state.counters["tags"] = db.size();
    for (auto _ : state)
        benchmark::DoNotOptimize(db.get(name));
}

void BM_LoadTable1000Rows(benchmark::State& state)
{
    installation();
    QTemporaryDir dir;
    const QString path = dir.filePath("table.csv");
    QByteArray t(kHeader);
    for (int i = 0; i < 1000; ++i)
        t += "tag_" + QByteArray::number(i) + ";Label " + QByteArray::number(i) + ';'
            + QByteArray::number(i % 128)
            + ";2;0;0;INT;-1000;1000;-700;700;-850;850;bar;group;toRGP\n";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(t);
    f.close();
    for (auto _ : state) {
        ConfigFile table(path);
        benchmark::DoNotOptimize(table.getAllTags().size());
    }
}

void BM_PrePopulate1000Tags(benchmark::State& state)
{
    installation();
    for (auto _ : state) {
        TagDatabase db;
        db.prePopulate();
        benchmark::DoNotOptimize(db.size());
    }
}

} // namespace

BENCHMARK(BM_ProcessDataUnchanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessDataAllChanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GetByName)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadTable1000Rows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrePopulate1000Tags)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
