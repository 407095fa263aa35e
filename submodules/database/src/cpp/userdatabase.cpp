#include "userdatabase.h"

#include "app.h"
#include "appdatabase.h"
#include "configfile.h"
#include "user.h"

#include <QDebug>
#include <QFile>

UserDatabase::UserDatabase(AppDatabase* apps, QObject* parent)
    : Database(parent)
{
    setDataType(USER);
    initiate(apps);
}

void UserDatabase::initiate(AppDatabase* apps)
{
    if (!apps)
        return;
    const QVector<Data*> items = apps->getAll();
    for (Data* item : items) {
        auto* app = qobject_cast<App*>(item);
        if (!app)
            continue;
        const QString path = app->getDirectory() + QStringLiteral("/config/users.csv");
        if (!QFile::exists(path)) {
            qWarning().noquote() << "UserDatabase initiate: couldn't find the file" << path;
            continue;
        }
        const ConfigFile* file = new ConfigFile(path, this);
        const QVector<QString> rows = file->getAllTags();
        for (const QString& key : rows) {
            const QString firstName = file->getValue(key, QStringLiteral("firstName"));
            const QString lastName = file->getValue(key, QStringLiteral("lastName"));
            const QString password = file->getValue(key, QStringLiteral("password"));
            const QString color = file->getValue(key, QStringLiteral("color"));
            User* user = getUser(key);
            const bool created = !user;
            if (created)
                user = new User(key, firstName, lastName, color, this);
            user->appendApplication(app, password);
            if (created && !append(user))
                delete user;
        }
    }
}

User* UserDatabase::getUser(const QString& key) const
{
    return qobject_cast<User*>(get(key));
}

QVector<User*> UserDatabase::getUserByName(const QString& firstName, const QString& lastName) const
{
    QVector<User*> found;
    const QVector<Data*> items = getAll();
    for (Data* item : items) {
        auto* user = qobject_cast<User*>(item);
        if (user && user->getFirstName() == firstName && user->getLastName() == lastName)
            found.append(user);
    }
    return found;
}
