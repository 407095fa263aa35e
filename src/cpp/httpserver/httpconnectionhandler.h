#ifndef HTTPCONNECTIONHANDLER_H
#define HTTPCONNECTIONHANDLER_H

#include "httpglobal.h"

#include <QObject>

#include <atomic>

class QSettings;
class QSslConfiguration;
class QTcpSocket;
class QThread;
class QTimer;

namespace tessiro {

class HttpRequest;
class HttpRequestHandler;

// Serves one connection at a time on a thread of its own: the socket, the
// read timer, request parsing and the request handler's service() all run
// there. A request must arrive within "readTimeout", and a keep-alive
// connection is dropped after that much idle time. The owner (the pool) marks
// the handler busy when it hands out a connection; the handler clears the mark
// when the connection ends. The destructor, called by the owner on its own
// thread, ends the thread and waits for it, so the handler's objects are gone
// before the settings and request handler they use.
class HttpConnectionHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandler)

public:
    HttpConnectionHandler(const QSettings* settings, HttpRequestHandler* requestHandler,
                          const QSslConfiguration* sslConfiguration = nullptr);
    ~HttpConnectionHandler() override;

    bool isBusy() const { return busy; }
    void setBusy() { busy = true; }

public slots:
    void handleConnection(tessiro::tSocketDescriptor socketDescriptor);

private slots:
    void read();
    void disconnected();
    void readTimeout();
    void thread_done();

private:
    void closeConnection();

    const QSettings* settings;
    QTcpSocket* socket = nullptr;
    QThread* thread;
    QTimer* readTimer;
    HttpRequest* currentRequest = nullptr;
    HttpRequestHandler* requestHandler;
    // Written by the handler thread, read by the pool under its mutex.
    std::atomic<bool> busy { false };
    const QSslConfiguration* sslConfiguration;
    const int readTimeoutMs;
};

} // namespace tessiro

#endif
