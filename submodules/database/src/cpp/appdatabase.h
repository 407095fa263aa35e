#ifndef NORVIK_APPDATABASE_H
#define NORVIK_APPDATABASE_H

#include "app.h"
#include "database.h"

#include <QDir>
#include <QList>

// The installed applications, found in the "Applications" directory that
// holds the running application's directory, and which of them is running.
// Two directories naming the same executable both appear.
class AppDatabase : public Database
{
    Q_OBJECT

public:
    explicit AppDatabase(QObject* parent = nullptr);

    // Scans the "Applications" directory (or, without one, takes the running
    // program alone). A later call rescans: an application still installed in
    // the same directory under the same executable keeps its App object, so
    // pointers held elsewhere (users, getThisApp() callers, QML) stay valid;
    // an App that is no longer found leaves the list but is not deleted before
    // this database is, for the same reason. A kept App keeps the tables it
    // loaded first.
    Q_INVOKABLE void prePopulate();

    Q_INVOKABLE App* getThisApp() const { return thisApp; }
    Q_INVOKABLE QList<QObject*> toList() const;
    QDir getApplicationsDirectory() const { return applicationsDirectory; }

private:
    // An application of an earlier scan with that directory and executable, or a new one.
    App* reuseOrCreate(QVector<App*>& previous, const QString& executable,
                       const QString& directory);

    QDir applicationsDirectory;
    App* thisApp = nullptr;
};

#endif
