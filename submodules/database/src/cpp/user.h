#ifndef NORVIK_USER_H
#define NORVIK_USER_H

#include "app.h"
#include "appdatabase.h"
#include "data.h"

#include <QVector>

// A user with access to some applications and one password per application.
class User : public Data
{
    Q_OBJECT

public:
    User(const QString& key, const QString& firstName, const QString& lastName,
         const QString& color, QObject* parent = nullptr);

    Q_INVOKABLE QString getFirstName() const { return firstName; }
    Q_INVOKABLE QString getLastName() const { return lastName; }
    Q_INVOKABLE QString getColor() const { return color; }
    Q_INVOKABLE void setColor(const QString& value) { color = value; }

    Q_INVOKABLE bool hasAccessToApplication(App* application) const;
    Q_INVOKABLE bool hasPassword(App* application) const;
    Q_INVOKABLE bool isPasswordCorrect(App* application, const QString& password) const;
    Q_INVOKABLE bool hasAnyPassword() const;
    // Grants access with that password; a second grant for the same application is refused.
    void appendApplication(App* application, const QString& password);

    Q_INVOKABLE AppDatabase* getApps() const { return applications; }
    Q_INVOKABLE QVector<QString> getPasswords() const { return passwords; }
    void setPasswords(const QVector<QString>& value) { passwords = value; }

private:
    int indexOfApplication(App* application) const;

    QString firstName;
    QString lastName;
    QString color;
    AppDatabase* applications;
    QVector<QString> passwords;
};

#endif
