#include "user.h"

#include "app.h"
#include "appdatabase.h"

#include <QDebug>

User::User(const QString& key, const QString& firstName, const QString& lastName,
           const QString& color, QObject* parent)
    : Data(key, parent)
    , firstName(firstName)
    , lastName(lastName)
    , color(color)
    , applications(new AppDatabase(this))
{
}

int User::indexOfApplication(App* application) const
{
    if (!application)
        return -1;
    return applications->getAll().indexOf(application);
}

bool User::hasAccessToApplication(App* application) const
{
    return indexOfApplication(application) >= 0;
}

bool User::hasPassword(App* application) const
{
    const int i = indexOfApplication(application);
    return i >= 0 && !passwords.value(i).isEmpty();
}

bool User::isPasswordCorrect(App* application, const QString& password) const
{
    const int i = indexOfApplication(application);
    return i >= 0 && i < passwords.size() && passwords.at(i) == password;
}

bool User::hasAnyPassword() const
{
    for (const QString& password : passwords) {
        if (!password.isEmpty())
            return true;
    }
    return false;
}

void User::appendApplication(App* application, const QString& password)
{
    if (hasAccessToApplication(application)) {
        qWarning() << "User already has access to this application.";
        return;
    }
    // The list only refers to the application; its owner stays the application database.
    if (applications->append(application))
        passwords.append(password);
}
