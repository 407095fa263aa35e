#ifndef HTTPCONNECTIONHANDLERPOOL_H
#define HTTPCONNECTIONHANDLERPOOL_H

#include <QList>
#include <QMutex>
#include <QObject>
#include <QTimer>

class QSettings;
class QSslConfiguration;

namespace tessiro {

class HttpConnectionHandler;
class HttpRequestHandler;

// Owns the connection handlers: creates them on demand up to "maxThreads" and,
// every "cleanupInterval" ms, deletes one idle handler beyond the first
// "minThreads" idle ones. Lives on the listener's thread; the mutex guards the
// handler list. TLS is on when both "sslKeyFile" and "sslCertFile" load.
class HttpConnectionHandlerPool : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandlerPool)

public:
    HttpConnectionHandlerPool(const QSettings* settings, HttpRequestHandler* requestHandler);
    ~HttpConnectionHandlerPool() override;

    // A handler already marked busy, or null when all "maxThreads" are busy.
    HttpConnectionHandler* getConnectionHandler();

private slots:
    void cleanup();

private:
    void loadSslConfig();

    const QSettings* settings;
    HttpRequestHandler* requestHandler;
    QList<HttpConnectionHandler*> pool;
    QTimer cleanupTimer;
    QMutex mutex;
    QSslConfiguration* sslConfiguration = nullptr;
};

} // namespace tessiro

#endif
