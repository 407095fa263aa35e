// Feeds arbitrary bytes to the table reader as a file, then looks up, rewrites
// and clears it.
#include "configfile.h"
#include "quietlog.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>

namespace {

QTemporaryDir& workDir()
{
    static QTemporaryDir dir;
    return dir;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    silenceQtLog();

    const QString path = workDir().filePath(QStringLiteral("table.csv"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    ConfigFile table(path);
    const QVector<QString> columns = table.getAllColumnKeys();
    const QVector<QString> rows = table.getAllTags();
    for (const QString& row : rows) {
        (void)table.keyExists(row);
        for (const QString& column : columns)
            (void)table.getValue(row, column);
    }
    (void)table.getAllColumns();
    if (columns.size() > 1 && columns.at(1) != QLatin1String("fuzz")) {
        table.addChangeTag(QStringLiteral("fuzz"), columns.at(1), QStringLiteral("v"));
        if (!rows.isEmpty() && rows.first() != columns.at(1))
            table.addChangeTag(rows.first(), columns.at(1), QStringLiteral("w"));
        ConfigFile reread(path);
        (void)reread.getAllTags();
    }
    table.removeAllData();
    return 0;
}
