#include "launchermessage.h"

#include <QtGlobal>

const QStringList LauncherMessage::validCommands = {
    QStringLiteral("heartbeat"),      QStringLiteral("appStart"),
    QStringLiteral("appStartFailed"), QStringLiteral("appClose"),
    QStringLiteral("appCloseAll"),    QStringLiteral("userLogin"),
    QStringLiteral("userLogOut"),     QStringLiteral("userGetCurrent"),
    QStringLiteral("userLoggedInIs"), QStringLiteral("notify"),
};

LauncherMessage::LauncherMessage(const QString& message, QObject* parent)
    : QObject(parent)
{
    const int length = message.size();
    int pos = 0;
    const auto skipSpace = [&] {
        while (pos < length && message.at(pos).isSpace())
            ++pos;
    };
    skipSpace();
    const int commandStart = pos;
    while (pos < length && !message.at(pos).isSpace())
        ++pos;
    command = message.mid(commandStart, pos - commandStart);
    skipSpace();
    int dataEnd = length;
    while (dataEnd > pos && message.at(dataEnd - 1).isSpace())
        --dataEnd;
    data = message.mid(pos, dataEnd - pos);
}

LauncherMessage::LauncherMessage(const QString& command, const QString& data, QObject* parent)
    : QObject(parent)
    , command(command)
    , data(data)
{
}

bool LauncherMessage::hasValidCommand() const
{
    if (command.isEmpty()) {
        qWarning("launchermessage: Command is missing!");
        return false;
    }
    if (validCommands.contains(command, Qt::CaseSensitive))
        return true;
    qWarning("launchermessage: No valid commands found!");
    return false;
}

QString LauncherMessage::getMessage() const
{
    if (data.isEmpty())
        return command;
    return command + QLatin1Char(' ') + data;
}
