#ifndef NORVIK_APP_H
#define NORVIK_APP_H

#include "appconfig.h"
#include "data.h"
#include "database.h"

class ConfigFile;

// An installed application: its directory, executable and the entries of its
// configuration table "/config/app.csv" and key table "/config/keys.csv".
class App : public Data
{
    Q_OBJECT

public:
    App(const QString& executableName, const QString& directory, QObject* parent = nullptr);

    // Creates the entry list and loads both tables.
    void initiate();
    // Loads one table into the entry list; null when the file does not exist.
    ConfigFile* loadConfigFromFile(const QString& path);

    // The entry of that key, null (with a warning) when neither table has it.
    Q_INVOKABLE AppConfig* getConfig(const QString& key) const;

    Q_INVOKABLE QString getExecutableName() const { return executableName; }
    Q_INVOKABLE QString getDirectory() const { return directory; }
    Q_INVOKABLE QString getName() const { return name; }
    Q_INVOKABLE QString getType() const { return type; }
    Q_INVOKABLE QString getVersion() const { return version; }
    Q_INVOKABLE bool hasPassword() const { return !password.isEmpty(); }
    Q_INVOKABLE QString getIconPath() const { return iconPath; }

    ConfigFile* getConfigFile() const { return configFile; }
    ConfigFile* getKeyFile() const { return keyFile; }
    QString getPassword() const { return password; }
    void setPassword(const QString& value) { password = value; }
    void setIconPath(const QString& value) { iconPath = value; }
    Database* getConfigs() const { return configs; }

private:
    QString name;
    QString type;
    QString version;
    QString directory;
    QString password;
    QString executableName;
    QString iconPath;
    Database* configs = nullptr;
    ConfigFile* configFile = nullptr;
    ConfigFile* keyFile = nullptr;
};

#endif
