#ifndef LAUNCHERSIMULATOR_H
#define LAUNCHERSIMULATOR_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;
class QTimer;

// Stand-in for the application launcher: a local socket server ("NKLauncher"
// by default) that sends heartbeats, checks that they come back, records the
// commands it is sent and plays a minimal launcher (current user, app start).
//
// The library writes its messages without a terminator; each read is cut into
// messages where a known command word starts that is followed by a space or
// ends the read. Data that itself holds such a word would be cut there too,
// so the raw bytes are kept as well.
class LauncherSimulator : public QObject
{
    Q_OBJECT

public:
    explicit LauncherSimulator(QObject* parent = nullptr);
    ~LauncherSimulator() override;

    // Listens on the name (placed in the temporary directory unless absolute);
    // a stale socket file of the same name is removed first.
    bool listen(const QString& name = QStringLiteral("NKLauncher"));
    void close();
    QString fullServerName() const;
    int clientCount() const { return clients.size(); }
    void disconnectClients();

    // Heartbeats "heartbeat <n>\n" to every client; 0 ms stops them.
    void setHeartbeatInterval(int ms);
    quint32 sendHeartbeat();
    quint32 heartbeatsAnswered() const { return answered; }

    // Raw bytes to every client; sendMessage adds the line feed.
    void send(const QByteArray& bytes);
    void sendMessage(const QString& command, const QString& data = QString());

    // The answer to "appStart": nothing (default) or "appStartFailed <path>".
    void setFailAppStart(bool fail) { failAppStart = fail; }
    QString currentUser() const { return user; }

    QByteArray received() const { return raw; }
    QList<QPair<QString, QString>> commands() const { return recorded; }
    void clearReceived();

signals:
    void clientConnected();
    void clientDisconnected();
    void commandReceived(QString command, QString data);
    void heartbeatAnswered(quint32 number);

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);
    void parseChunk(const QString& chunk);
    void handleCommand(const QString& command, const QString& data);

    QLocalServer* server = nullptr;
    QTimer* heartbeatTimer = nullptr;
    QList<QLocalSocket*> clients;
    QByteArray raw;
    QList<QPair<QString, QString>> recorded;
    quint32 heartbeatNumber = 0;
    quint32 answered = 0;
    bool failAppStart = false;
    QString user;
};

#endif
