#include "httplistener.h"

#include "httpconnectionhandler.h"
#include "httpconnectionhandlerpool.h"

#include <QSettings>
#include <QTcpSocket>

namespace tessiro {

namespace {
const QByteArray TOO_MANY_CONNECTIONS
    = "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";
}

HttpListener::HttpListener(const QSettings* settings, HttpRequestHandler* requestHandler,
                           QObject* parent)
    : QTcpServer(parent)
    , settings(settings)
    , requestHandler(requestHandler)
{
    qRegisterMetaType<tSocketDescriptor>("tSocketDescriptor");
    qRegisterMetaType<tSocketDescriptor>("tessiro::tSocketDescriptor");
    listen();
}

HttpListener::~HttpListener()
{
    close();
}

void HttpListener::listen()
{
    if (!pool)
        pool = new HttpConnectionHandlerPool(settings, requestHandler);
    const QString host = settings->value("host").toString();
    const int port = settings->value("port").toInt();
    const QHostAddress address
        = host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(host);
    if (!QTcpServer::listen(address, quint16(port))) {
        qCritical("HttpListener: Cannot bind on port %i: %s", port, qPrintable(errorString()));
    }
}

void HttpListener::close()
{
    QTcpServer::close();
    delete pool;
    pool = nullptr;
}

void HttpListener::incomingConnection(tSocketDescriptor socketDescriptor)
{
    HttpConnectionHandler* handler = pool ? pool->getConnectionHandler() : nullptr;
    if (handler) {
        QMetaObject::invokeMethod(handler, "handleConnection", Qt::QueuedConnection,
                                  Q_ARG(tessiro::tSocketDescriptor, socketDescriptor));
        return;
    }
    // Answered here on the listener's thread; the socket deletes itself once
    // the client is gone.
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(TOO_MANY_CONNECTIONS);
    socket->disconnectFromHost();
}

} // namespace tessiro
