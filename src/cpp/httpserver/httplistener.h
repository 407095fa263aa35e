#ifndef HTTPLISTENER_H
#define HTTPLISTENER_H

#include "httpglobal.h"

#include <QTcpServer>

class QSettings;

namespace tessiro {

class HttpConnectionHandlerPool;
class HttpRequestHandler;

// Accepts connections on "host"/"port" and hands each to a pooled connection
// handler; with every handler busy the client gets the 503 text and is closed.
// The settings and the request handler belong to the creator and must outlive
// the listener. Deleting the listener (or close()) deletes the pool, which ends
// every handler thread, open connections included.
class HttpListener : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpListener)

public:
    HttpListener(const QSettings* settings, HttpRequestHandler* requestHandler,
                 QObject* parent = nullptr);
    ~HttpListener() override;

    void listen();
    void close();

protected:
    void incomingConnection(tSocketDescriptor socketDescriptor) override;

private:
    const QSettings* settings;
    HttpRequestHandler* requestHandler;
    HttpConnectionHandlerPool* pool = nullptr;
};

} // namespace tessiro

#endif
