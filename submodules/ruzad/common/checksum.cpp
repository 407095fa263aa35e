#include "checksum.h"

#include <QDirIterator>
#include <QFile>
#include <QStringList>

#include <algorithm>

namespace RUzad {

namespace {
// Compiled QML caches, the per-site keys, desktop clutter and hidden entries differ between
// installations of the same application, so they take no part in the comparison.
bool isSkipped(const QString& fileName, const QString& fullPath)
{
    return fileName.isEmpty() || fileName == QLatin1String(".") || fileName == QLatin1String("..")
        || fileName.endsWith(QLatin1String("qmlc")) || fileName.startsWith(QLatin1Char('.'))
        || fileName == QLatin1String("keys.csv") || fileName.toLower() == QLatin1String("thumbs.db")
        || fullPath.contains(QLatin1String("/."));
}
} // namespace

void addToHash(const QFileInfo& dir, QCryptographicHash& hash)
{
    QStringList paths;
    QDirIterator it(dir.absoluteFilePath(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!isSkipped(it.fileName(), path))
            paths.append(path);
    }
    std::sort(paths.begin(), paths.end()); // plain, case-sensitive

    for (const QString& path : qAsConst(paths)) {
        // Regular files only (a link to one counts): opening a FIFO or a device could block
        // for ever, and neither is part of an application.
        if (!QFileInfo(path).isFile())
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        hash.addData(&file);
        file.close();
    }
}

QByteArray calculateChecksum(const QString& path)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    addToHash(QFileInfo(path), hash);
    return hash.result();
}

} // namespace RUzad
