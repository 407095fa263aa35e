#ifndef LAUNCHERCLIENT_H
#define LAUNCHERCLIENT_H

#include <QLocalSocket>
#include <QObject>
#include <QString>

// The library's end of the launcher's local socket: sends commands, answers
// the launcher's heartbeats and passes every other message on as a signal.
// It connects once; reconnecting is up to the caller (connectToServer).
class LauncherClient : public QObject
{
    Q_OBJECT

public:
    LauncherClient(const QString& serverId, QObject* parent = nullptr);

    Q_INVOKABLE void connectToServer(const QString& serverId);
    Q_INVOKABLE void close();
    QLocalSocket::LocalSocketState state() const { return localSocket->state(); }
    // Writes the text as UTF-8, without terminator; nothing while unconnected.
    Q_INVOKABLE void sendMessage(const QString& message);

    // Incoming lines longer than this are dropped, and unread messages beyond
    // the backlog limit are discarded, so a misbehaving peer cannot make the
    // read buffer grow without bound.
    static constexpr qint64 maxLineLength = 4096;
    static constexpr qint64 maxBacklog = 64 * 1024;

signals:
    void messageReceived(QString command, QString data);

public slots:
    void read();
    void printError(QLocalSocket::LocalSocketError error);

private:
    bool skipOverlongLine();

    QLocalSocket* localSocket = nullptr;
    QString serverId;
    bool discardingLine = false; // inside a line that is being dropped
};

#endif
