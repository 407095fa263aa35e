#include "launchersimulator.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {
// Longest first, so "appStartFailed" is not taken for "appStart".
const QStringList kCommands = {
    QStringLiteral("userLoggedInIs"), QStringLiteral("userGetCurrent"),
    QStringLiteral("appStartFailed"), QStringLiteral("appCloseAll"),
    QStringLiteral("userLogOut"),     QStringLiteral("heartbeat"),
    QStringLiteral("userLogin"),      QStringLiteral("appStart"),
    QStringLiteral("appClose"),       QStringLiteral("notify"),
};

// Length of the command word starting at pos that may begin a message, or 0.
int commandAt(const QString& text, int pos)
{
    for (const QString& word : kCommands) {
        if (!text.midRef(pos).startsWith(word))
            continue;
        const int end = pos + word.size();
        if (end == text.size() || text.at(end) == QLatin1Char(' '))
            return word.size();
    }
    return 0;
}
} // namespace

LauncherSimulator::LauncherSimulator(QObject* parent)
    : QObject(parent)
    , server(new QLocalServer(this))
    , heartbeatTimer(new QTimer(this))
{
    connect(server, &QLocalServer::newConnection, this, &LauncherSimulator::onNewConnection);
    connect(heartbeatTimer, &QTimer::timeout, this, &LauncherSimulator::sendHeartbeat);
}

LauncherSimulator::~LauncherSimulator()
{
    close();
}

bool LauncherSimulator::listen(const QString& name)
{
    QLocalServer::removeServer(name);
    return server->listen(name);
}

void LauncherSimulator::close()
{
    disconnectClients();
    server->close();
}

QString LauncherSimulator::fullServerName() const
{
    return server->fullServerName();
}

void LauncherSimulator::disconnectClients()
{
    const QList<QLocalSocket*> current = clients;
    clients.clear();
    for (QLocalSocket* socket : current) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void LauncherSimulator::setHeartbeatInterval(int ms)
{
    if (ms <= 0) {
        heartbeatTimer->stop();
        return;
    }
    heartbeatTimer->start(ms);
}

quint32 LauncherSimulator::sendHeartbeat()
{
    ++heartbeatNumber;
    sendMessage(QStringLiteral("heartbeat"), QString::number(heartbeatNumber));
    return heartbeatNumber;
}

void LauncherSimulator::send(const QByteArray& bytes)
{
    for (QLocalSocket* socket : qAsConst(clients)) {
        socket->write(bytes);
        socket->flush();
    }
}

void LauncherSimulator::sendMessage(const QString& command, const QString& data)
{
    QString text = command;
    if (!data.isEmpty())
        text += QLatin1Char(' ') + data;
    send(text.toUtf8() + '\n');
}

void LauncherSimulator::clearReceived()
{
    raw.clear();
    recorded.clear();
}

void LauncherSimulator::onNewConnection()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        clients.append(socket);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            clients.removeAll(socket);
            socket->deleteLater();
            emit clientDisconnected();
        });
        emit clientConnected();
    }
}

void LauncherSimulator::onReadyRead(QLocalSocket* socket)
{
    const QByteArray bytes = socket->readAll();
    raw += bytes;
    parseChunk(QString::fromUtf8(bytes));
}

// The client flushes every message with one write, so a read ends at a message
// boundary; several messages in one read are cut apart at their command words.
void LauncherSimulator::parseChunk(const QString& chunk)
{
    int pos = 0;
    while (pos < chunk.size() && commandAt(chunk, pos) == 0)
        ++pos;
    while (pos < chunk.size()) {
        int next = pos + commandAt(chunk, pos);
        while (next < chunk.size() && commandAt(chunk, next) == 0)
            ++next;
        const QString message = chunk.mid(pos, next - pos);
        pos = next;
        const int space = message.indexOf(QLatin1Char(' '));
        handleCommand(message.left(space < 0 ? message.size() : space),
                      space < 0 ? QString() : message.mid(space + 1));
    }
}

void LauncherSimulator::handleCommand(const QString& command, const QString& data)
{
    recorded.append({ command, data });
    emit commandReceived(command, data);
    if (command == QLatin1String("heartbeat")) {
        if (data == QString::number(heartbeatNumber)) {
            ++answered;
            emit heartbeatAnswered(heartbeatNumber);
        }
    } else if (command == QLatin1String("userLogin")) {
        user = data;
    } else if (command == QLatin1String("userLogOut")) {
        user.clear();
    } else if (command == QLatin1String("userGetCurrent")) {
        sendMessage(QStringLiteral("userLoggedInIs"), user);
    } else if (command == QLatin1String("appStart") && failAppStart) {
        sendMessage(QStringLiteral("appStartFailed"), data);
    }
}
