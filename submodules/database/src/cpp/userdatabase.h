#ifndef NORVIK_USERDATABASE_H
#define NORVIK_USERDATABASE_H

#include "database.h"
#include "user.h"

#include <QVector>

// The users of all installed applications, read from each application's
// "/config/users.csv", and the user who is logged in. A user listed by
// several applications is one user with one password per application.
class UserDatabase : public Database
{
    Q_OBJECT

public:
    explicit UserDatabase(AppDatabase* apps, QObject* parent = nullptr);

    void initiate(AppDatabase* apps);

    Q_INVOKABLE User* getUser(const QString& key) const;
    Q_INVOKABLE QVector<User*> getUserByName(const QString& firstName,
                                             const QString& lastName) const;
    Q_INVOKABLE User* getCurrentUser() const { return currentUser; }
    Q_INVOKABLE void setCurrentUser(User* value) { currentUser = value; }

private:
    User* currentUser = nullptr;
};

#endif
