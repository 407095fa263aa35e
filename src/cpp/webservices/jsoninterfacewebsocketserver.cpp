#include "jsoninterfacewebsocketserver.h"

#include "norviklinkjsoninterface.h"

#include <QHostAddress>
#include <QWebSocket>
#include <QWebSocketServer>

JsonInterfaceWebSocketServer::JsonInterfaceWebSocketServer(NorvikLink* link, QString host,
                                                           quint16 port, int interval,
                                                           QObject* parent)
    : QObject(parent)
{
    m_jsonInterface = new NorvikLinkJsonInterface(link, unsigned(qMax(interval, 0)), this);
    connect(m_jsonInterface, &NorvikLinkJsonInterface::sendMessage, this,
            &JsonInterfaceWebSocketServer::sendMsg);

    m_server = new QWebSocketServer(QStringLiteral("NorvikLinkWebSocketServer"),
                                    QWebSocketServer::NonSecureMode, this);
    const QHostAddress address
        = host.isEmpty() ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
    // A host that is no address listens nowhere, rather than on every interface.
    if (!address.isNull() && m_server->listen(address, port)) {
        qInfo().noquote() << "JsonInterfaceWebSocketServer listening on" << address.toString()
                          << "port" << port;
        connect(m_server, &QWebSocketServer::newConnection, this,
                &JsonInterfaceWebSocketServer::onNewConnection);
        connect(m_server, &QWebSocketServer::closed, this, &JsonInterfaceWebSocketServer::closed);
    } else {
        qCritical().noquote() << "JsonInterfaceWebSocketServer failed listening on"
                              << (host.isEmpty() ? address.toString() : host) << "port" << port;
    }
}

JsonInterfaceWebSocketServer::~JsonInterfaceWebSocketServer()
{
    m_server->close();
    // A client going away now must not reach socketDisconnected() any more.
    const QList<QWebSocket*> clients = m_clients;
    m_clients.clear();
    for (QWebSocket* client : clients) {
        disconnect(client, nullptr, this, nullptr);
        delete client;
    }
    m_server->deleteLater();
    m_jsonInterface->deleteLater();
}

bool JsonInterfaceWebSocketServer::addPeriodicData(QString tagName, bool trigger)
{
    return m_jsonInterface->addPeriodicData(tagName, trigger);
}

void JsonInterfaceWebSocketServer::onNewConnection()
{
    while (QWebSocket* client = m_server->nextPendingConnection()) {
        connect(client, &QWebSocket::textMessageReceived, this,
                &JsonInterfaceWebSocketServer::processTextMessage);
        connect(client, &QWebSocket::binaryMessageReceived, this,
                &JsonInterfaceWebSocketServer::processBinaryMessage);
        connect(client, &QWebSocket::disconnected, this,
                &JsonInterfaceWebSocketServer::socketDisconnected);
        m_clients.append(client);
    }
}

void JsonInterfaceWebSocketServer::processTextMessage(QString message)
{
    m_jsonInterface->processMessage(message);
}

void JsonInterfaceWebSocketServer::processBinaryMessage(QByteArray message)
{
    const int nul = message.indexOf('\0');
    m_jsonInterface->processMessage(QString::fromUtf8(nul < 0 ? message : message.left(nul)));
}

void JsonInterfaceWebSocketServer::socketDisconnected()
{
    auto* client = qobject_cast<QWebSocket*>(sender());
    if (!client)
        return;
    m_clients.removeAll(client);
    client->deleteLater();
}

void JsonInterfaceWebSocketServer::sendMsg(const QString& message)
{
    // A copy: a failing send may drop its client from the list meanwhile.
    const QList<QWebSocket*> clients = m_clients;
    for (QWebSocket* client : clients)
        client->sendTextMessage(message);
}
