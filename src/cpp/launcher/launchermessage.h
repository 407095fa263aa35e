#ifndef LAUNCHERMESSAGE_H
#define LAUNCHERMESSAGE_H

#include <QObject>
#include <QString>
#include <QStringList>

// One text message of the launcher socket: a command word, optionally
// followed by one space and data.
class LauncherMessage : public QObject
{
    Q_OBJECT

public:
    // Parses a received text: the first word is the command, the rest (from
    // the second word on, inner whitespace kept) the data.
    explicit LauncherMessage(const QString& message, QObject* parent = nullptr);
    LauncherMessage(const QString& command, const QString& data, QObject* parent = nullptr);

    bool hasValidCommand() const;
    QString getCommand() const { return command; }
    QString getData() const { return data; }
    QString getMessage() const;

    static const QStringList validCommands;

private:
    QString command;
    QString data;
};

#endif
