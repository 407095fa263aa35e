#include "launcherclient.h"

#include "launchermessage.h"

#include <QDebug>

LauncherClient::LauncherClient(const QString& serverId, QObject* parent)
    : QObject(parent)
    , localSocket(new QLocalSocket(this))
    , serverId(serverId)
{
    // Connected before the first attempt, which may fail synchronously and
    // should be logged like any later failure.
    connect(localSocket, &QLocalSocket::readyRead, this, &LauncherClient::read);
    connect(localSocket, &QLocalSocket::errorOccurred, this, &LauncherClient::printError);
    connectToServer(serverId);
}

void LauncherClient::connectToServer(const QString& serverId)
{
    localSocket->abort();
    discardingLine = false;
    this->serverId = serverId;
    localSocket->connectToServer(serverId, QIODevice::ReadWrite);
}

void LauncherClient::close()
{
    localSocket->close();
}

void LauncherClient::sendMessage(const QString& message)
{
    if (localSocket->state() != QLocalSocket::ConnectedState) {
        qWarning().noquote() << "launcherclient: Not connected to" << serverId
                             << "- message not sent:" << message;
        return;
    }
    localSocket->write(message.toUtf8());
    localSocket->flush();
}

// Consumes the rest of a line that is being dropped. True when the line has
// ended and normal reading may go on.
bool LauncherClient::skipOverlongLine()
{
    const QByteArray pending = localSocket->peek(localSocket->bytesAvailable());
    const int end = pending.indexOf('\n');
    if (end < 0) {
        localSocket->skip(pending.size());
        return false;
    }
    localSocket->skip(end + 1);
    discardingLine = false;
    return true;
}

void LauncherClient::read()
{
    if (discardingLine && !skipOverlongLine())
        return;

    if (!localSocket->canReadLine()) {
        // Part of a line: wait for the rest unless it is already too long.
        if (localSocket->bytesAvailable() > maxLineLength) {
            qWarning("launcherclient: Message longer than %lld bytes dropped", maxLineLength);
            discardingLine = true;
            skipOverlongLine();
        }
        return;
    }

    // One line per arrival of data; a further buffered line waits for the next.
    QByteArray line = localSocket->readLine();
    if (line.size() > maxLineLength) {
        qWarning("launcherclient: Message longer than %lld bytes dropped", maxLineLength);
    } else {
        const int nul = line.indexOf('\0');
        if (nul >= 0)
            line.truncate(nul);
        LauncherMessage message(QString::fromUtf8(line));
        if (message.getCommand() == QLatin1String("heartbeat")) {
            LauncherMessage answer(QStringLiteral("heartbeat"), message.getData());
            if (answer.hasValidCommand())
                sendMessage(answer.getMessage());
            else
                qWarning("launcherclient: Couldn't send the heartbeat messages. Invalid message.");
        } else if (message.hasValidCommand()) {
            emit messageReceived(message.getCommand(), message.getData());
        } else {
            qWarning() << "launcherclient: Message dropped:" << line.left(80);
        }
    }

    if (localSocket->bytesAvailable() > maxBacklog) {
        qWarning("launcherclient: More than %lld bytes of unread messages, dropped", maxBacklog);
        const QByteArray backlog = localSocket->read(localSocket->bytesAvailable());
        // A line cut at the end of the backlog is dropped with it.
        discardingLine = !backlog.endsWith('\n');
    }
}

void LauncherClient::printError(QLocalSocket::LocalSocketError error)
{
    switch (error) {
    case QLocalSocket::ConnectionRefusedError:
        qWarning() << "The connection to the server" << serverId << "was refused.";
        break;
    case QLocalSocket::PeerClosedError:
        break;
    case QLocalSocket::ServerNotFoundError:
        qWarning() << "The server" << serverId << "was not found.";
        break;
    default:
        qWarning() << "An error occurred:" << localSocket->errorString();
        break;
    }
}
