#include "app.h"

#include "appconfig.h"
#include "configfile.h"
#include "database.h"

#include <QDebug>
#include <QFile>

App::App(const QString& executableName, const QString& directory, QObject* parent)
    : Data(executableName, parent)
    , directory(directory)
    , executableName(executableName)
{
    initiate();
}

void App::initiate()
{
    configs = new Database(this);
    configs->setDataType(Database::APPCONFIG);
    configFile = loadConfigFromFile(directory + QStringLiteral("/config/app.csv"));
    keyFile = loadConfigFromFile(directory + QStringLiteral("/config/keys.csv"));
}

ConfigFile* App::loadConfigFromFile(const QString& path)
{
    if (!QFile::exists(path)) {
        qWarning().noquote() << "App: could not load config file:" << path;
        return nullptr;
    }
    ConfigFile* file = new ConfigFile(path, this);
    const QVector<QString> columnKeys = file->getAllColumnKeys();
    const QVector<QString> rows = file->getAllTags();
    for (const QString& key : rows) {
        const QString value = file->getValue(key, QStringLiteral("value"));
        auto* entry
            = new AppConfig(key, file->getValue(key, QStringLiteral("label")), value, configs);
        for (const QString& column : columnKeys)
            entry->insertField(column, file->getValue(key, column));
        if (key == QLatin1String("name"))
            name = value;
        else if (key == QLatin1String("type"))
            type = value;
        else if (key == QLatin1String("APSR"))
            version = value;
        // The configuration table's entry wins over a key-table entry of the same key.
        if (!configs->append(entry))
            delete entry;
    }
    return file;
}

AppConfig* App::getConfig(const QString& key) const
{
    auto* entry = qobject_cast<AppConfig*>(configs->get(key));
    if (!entry)
        qWarning().noquote() << "App error - no config for:" << key;
    return entry;
}
