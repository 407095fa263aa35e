#ifndef JSONINTERFACEWEBSOCKETSERVER_H
#define JSONINTERFACEWEBSOCKETSERVER_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class NorvikLink;
class NorvikLinkJsonInterface;
class QWebSocket;
class QWebSocketServer;

// The JSON interface over plain WebSocket: any number of clients, every
// outgoing message broadcast to all of them as a text frame; text and binary
// frames from a client are handled alike (a binary one ends at its first NUL).
// It listens from construction; an empty host is the loopback address.
class JsonInterfaceWebSocketServer : public QObject
{
    Q_OBJECT

public:
    JsonInterfaceWebSocketServer(NorvikLink* link, QString host, quint16 port, int interval,
                                 QObject* parent);
    ~JsonInterfaceWebSocketServer() override;

    bool addPeriodicData(QString tagName, bool trigger);

signals:
    void closed();

public slots:
    void onNewConnection();
    void processTextMessage(QString message);
    void processBinaryMessage(QByteArray message);
    void socketDisconnected();
    void sendMsg(const QString& message);

private:
    NorvikLinkJsonInterface* m_jsonInterface = nullptr;
    QWebSocketServer* m_server = nullptr;
    QList<QWebSocket*> m_clients;
};

#endif
