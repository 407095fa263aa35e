#include "platformpaths.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString stripTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}
} // namespace

QString PlatformPaths::sysroot()
{
    const QString root = qEnvironmentVariable("NORVIK_SYSROOT");
    return root.isEmpty() ? QString() : stripTrailingSlash(root);
}

QString PlatformPaths::systemPath(const QString& absolutePath)
{
    const QString root = sysroot();
    if (root.isEmpty() || root == QLatin1String("/"))
        return absolutePath;
    if (absolutePath.startsWith(QLatin1Char('/')))
        return root + absolutePath;
    return root + QLatin1Char('/') + absolutePath;
}

QString PlatformPaths::appDir()
{
    const QString dir = qEnvironmentVariable("NORVIK_APP_DIR");
    if (!dir.isEmpty())
        return stripTrailingSlash(dir);
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

QString PlatformPaths::appPath(const QString& relativePath)
{
    QString rel = relativePath;
    while (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    return appDir() + QLatin1Char('/') + rel;
}
