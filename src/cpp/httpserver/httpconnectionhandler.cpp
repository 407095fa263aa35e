#include "httpconnectionhandler.h"

#include "httprequest.h"
#include "httprequesthandler.h"
#include "httpresponse.h"
#include "tsan.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

namespace tessiro {

namespace {
constexpr int WRITE_WAIT_MS = 30000;
// Bytes the socket takes from the kernel ahead of the parser; a client that
// sends faster than its requests are served waits in TCP, not in memory.
constexpr qint64 READ_BUFFER = 65536;

const QByteArray ENTITY_TOO_LARGE
    = "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
} // namespace

HttpConnectionHandler::HttpConnectionHandler(const QSettings* settings,
                                             HttpRequestHandler* requestHandler,
                                             const QSslConfiguration* sslConfiguration)
    : settings(settings)
    , thread(new QThread)
    , readTimer(new QTimer(this))
    , requestHandler(requestHandler)
    , sslConfiguration(sslConfiguration)
    , readTimeoutMs(settings->value("readTimeout", 10000).toInt())
{
    readTimer->setSingleShot(true);
    if (sslConfiguration) {
        auto* sslSocket = new QSslSocket(this);
        sslSocket->setSslConfiguration(*sslConfiguration);
        socket = sslSocket;
    } else {
        socket = new QTcpSocket(this);
    }
    socket->setReadBufferSize(READ_BUFFER);
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnectionHandler::read);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnectionHandler::disconnected);
    connect(readTimer, &QTimer::timeout, this, &HttpConnectionHandler::readTimeout);
    connect(thread, &QThread::finished, this, &HttpConnectionHandler::thread_done,
            Qt::DirectConnection);
    // The socket and the timer are children, so they move along.
    moveToThread(thread);
    thread->start(QThread::InheritPriority);
}

HttpConnectionHandler::~HttpConnectionHandler()
{
    // Interruption ends a write that waits for a client that does not read.
    thread->requestInterruption();
    // Quit through the handler's own queue, so that a connection handed over
    // just before is taken on (and closed with the thread) rather than lost.
    QThread* const handlerThread = thread;
    QMetaObject::invokeMethod(
        this, [handlerThread] { handlerThread->quit(); }, Qt::QueuedConnection);
    thread->wait();
    NORVIK_TSAN_ACQUIRE(this);
    delete thread;
    delete currentRequest;
}

void HttpConnectionHandler::thread_done()
{
    readTimer->stop();
    socket->abort();
    delete socket;
    socket = nullptr;
    // The owner frees this object once wait() returns.
    NORVIK_TSAN_RELEASE(this);
}

void HttpConnectionHandler::handleConnection(tSocketDescriptor socketDescriptor)
{
    // Drop whatever the previous connection left in the socket. This may emit
    // disconnected(), which clears busy, so busy is set afterwards. A plain
    // socket's buffers are reset when the new descriptor opens it; the TLS
    // state only by a connectToHost(), which is not made for plain sockets as
    // it resolves a proxy and posts a host lookup result on every connection.
    if (sslConfiguration)
        socket->connectToHost(QString(), 0);
    socket->abort();
    busy = true;

    if (!socket->setSocketDescriptor(socketDescriptor)) {
        qCritical("HttpConnectionHandler (%p): cannot initialize socket: %s",
                  static_cast<void*>(this), qPrintable(socket->errorString()));
        busy = false;
        return;
    }
    if (sslConfiguration)
        static_cast<QSslSocket*>(socket)->startServerEncryption();

    readTimer->start(readTimeoutMs);
    delete currentRequest;
    currentRequest = nullptr;
}

// Waits for pending output, then closes. A peer that takes no more data would
// keep the socket closing forever, so the read timer aborts it in the end.
void HttpConnectionHandler::closeConnection()
{
    // Waited for in slices, so that the owner's stop request ends the wait.
    QElapsedTimer idle;
    idle.start();
    while (socket->bytesToWrite() > 0 && socket->state() == QAbstractSocket::ConnectedState
           && !QThread::currentThread()->isInterruptionRequested()
           && idle.elapsed() < WRITE_WAIT_MS) {
        if (socket->waitForBytesWritten(100))
            idle.restart();
    }
    socket->disconnectFromHost();
    if (socket->state() != QAbstractSocket::UnconnectedState)
        readTimer->start(readTimeoutMs);
}

void HttpConnectionHandler::read()
{
    while (socket->bytesAvailable() > 0 && socket->state() == QAbstractSocket::ConnectedState) {
        if (!currentRequest)
            currentRequest = new HttpRequest(settings);
        while (socket->bytesAvailable() > 0 && currentRequest->getStatus() != HttpRequest::complete
               && currentRequest->getStatus() != HttpRequest::abort) {
            currentRequest->readFromSocket(socket);
            if (currentRequest->getStatus() == HttpRequest::waitForBody)
                readTimer->start(readTimeoutMs);
        }

        if (currentRequest->getStatus() == HttpRequest::abort) {
            socket->write(ENTITY_TOO_LARGE);
            // Unread input makes the kernel reset the connection on close,
            // which could discard the answer before the client reads it.
            socket->readAll();
            closeConnection();
            delete currentRequest;
            currentRequest = nullptr;
            return;
        }
        if (currentRequest->getStatus() != HttpRequest::complete)
            return;

        readTimer->stop();
        HttpResponse response(socket);
        const bool closeAfter
            = qstricmp(currentRequest->getHeader("connection").constData(), "close") == 0
            || qstricmp(currentRequest->getVersion().constData(), "HTTP/1.0") == 0;
        if (closeAfter)
            response.setHeader("Connection", "close");

        requestHandler->service(*currentRequest, response);
        if (!response.hasSentLastPart())
            response.write(QByteArray(), true);

        const auto& headers = response.getHeaders();
        const bool closeNow = closeAfter
            || qstricmp(headers.value("Connection").constData(), "close") == 0
            || (!headers.contains("Content-Length")
                && qstricmp(headers.value("Transfer-Encoding").constData(), "chunked") != 0);
        delete currentRequest;
        currentRequest = nullptr;
        if (closeNow) {
            closeConnection();
            return;
        }
        readTimer->start(readTimeoutMs);
    }
}

void HttpConnectionHandler::disconnected()
{
    socket->close();
    readTimer->stop();
    busy = false;
}

void HttpConnectionHandler::readTimeout()
{
    if (socket->state() == QAbstractSocket::ClosingState) {
        socket->abort();
        return;
    }
    closeConnection();
    delete currentRequest;
    currentRequest = nullptr;
}

} // namespace tessiro
