#include "httpglobal.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace tessiro {

QString resolveSettingsPath(const QSettings* settings, const QString& path)
{
    if (path.startsWith(QLatin1String(":/")) || path.startsWith(QLatin1String("qrc://"))
        || QDir::isAbsolutePath(path))
        return path;
    const QString base = QFileInfo(settings->fileName()).absolutePath();
    return QDir::cleanPath(QDir(base).filePath(path));
}

} // namespace tessiro
