#include "appdatabase.h"

#include "app.h"
#include "configfile.h"
#include "platformpaths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>

AppDatabase::AppDatabase(QObject* parent)
    : Database(parent)
{
    setDataType(APPCONFIG);
    setAllowDuplicates(true);
}

QList<QObject*> AppDatabase::toList() const
{
    QList<QObject*> list;
    const QVector<Data*> items = getAll();
    list.reserve(items.size());
    for (Data* item : items)
        list.append(item);
    return list;
}

App* AppDatabase::reuseOrCreate(QVector<App*>& previous, const QString& executable,
                                const QString& directory)
{
    for (int i = 0; i < previous.size(); ++i) {
        App* app = previous.at(i);
        if (app->getDirectory() == directory && app->getExecutableName() == executable) {
            previous.remove(i);
            return app;
        }
    }
    return new App(executable, directory, this);
}

void AppDatabase::prePopulate()
{
    // Earlier applications are detached, not deleted: see the header.
    QVector<App*> previous;
    for (Data* item : takeAll()) {
        if (auto* app = qobject_cast<App*>(item))
            previous.append(app);
    }
    emit databaseUpdated();
    thisApp = nullptr;

    const QString programDir = QDir::cleanPath(QDir(PlatformPaths::appDir()).absolutePath());
    const QString programName = QCoreApplication::applicationName();

    QDir dir(programDir);
    applicationsDirectory = dir;
    if (!dir.exists()) {
        qWarning() << "Unable to find the current application directory.";
        return;
    }
    if (!dir.cdUp() || dir.dirName() != QLatin1String("Applications")) {
        qWarning() << "No parent directory \"Applications\", assuming this is running application "
                      "on Desktop.";
        App* app = reuseOrCreate(previous, programName, programDir);
        append(app);
        thisApp = app;
        return;
    }
    applicationsDirectory = dir;

    const QFileInfoList subdirs
        = dir.entryInfoList(QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& info : subdirs) {
        const QString path = info.absoluteFilePath();
        const QString manifestPath = path + QStringLiteral("/manifest.csv");
        if (!QFileInfo(manifestPath).isFile()) {
            qWarning().noquote() << QStringLiteral("No manifest.csv found in ") + info.fileName();
            continue;
        }
        QString executable;
        QString iconPath;
        {
            const ConfigFile manifest(manifestPath);
            executable = manifest.getValue(QStringLiteral("executable"), QStringLiteral("value"));
            iconPath = path + QLatin1Char('/')
                + manifest.getValue(QStringLiteral("iconPath"), QStringLiteral("value"));
        }
        // An empty executable name would point at the directory itself.
        if (executable.isEmpty() || !QFileInfo(path + QLatin1Char('/') + executable).isFile()) {
            qWarning().noquote() << "No executable in" << path;
            continue;
        }
        if (!QFileInfo(path + QStringLiteral("/config/app.csv")).isFile()) {
            qWarning().noquote() << "No app.csv in" << path << "/config/";
            continue;
        }
        App* app = reuseOrCreate(previous, executable, path);
        app->setIconPath(iconPath);
        append(app);
        if (path == programDir)
            thisApp = app;
    }
}
