#include "httpconnectionhandlerpool.h"

#include "httpconnectionhandler.h"
#include "httpglobal.h"

#include <QFile>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

namespace tessiro {

HttpConnectionHandlerPool::HttpConnectionHandlerPool(const QSettings* settings,
                                                     HttpRequestHandler* requestHandler)
    : settings(settings)
    , requestHandler(requestHandler)
{
    loadSslConfig();
    connect(&cleanupTimer, &QTimer::timeout, this, &HttpConnectionHandlerPool::cleanup);
    cleanupTimer.start(settings->value("cleanupInterval", 1000).toInt());
}

HttpConnectionHandlerPool::~HttpConnectionHandlerPool()
{
    cleanupTimer.stop();
    QMutexLocker locker(&mutex);
    // Each handler ends its thread before it goes.
    qDeleteAll(pool);
    pool.clear();
    delete sslConfiguration;
}

HttpConnectionHandler* HttpConnectionHandlerPool::getConnectionHandler()
{
    QMutexLocker locker(&mutex);
    for (HttpConnectionHandler* handler : qAsConst(pool)) {
        if (!handler->isBusy()) {
            handler->setBusy();
            return handler;
        }
    }
    if (pool.size() >= settings->value("maxThreads", 100).toInt())
        return nullptr;
    auto* handler = new HttpConnectionHandler(settings, requestHandler, sslConfiguration);
    handler->setBusy();
    pool.append(handler);
    return handler;
}

void HttpConnectionHandlerPool::cleanup()
{
    QMutexLocker locker(&mutex);
    const int minThreads = settings->value("minThreads", 1).toInt();
    int idle = 0;
    for (HttpConnectionHandler* handler : qAsConst(pool)) {
        if (handler->isBusy())
            continue;
        if (++idle > minThreads) {
            pool.removeOne(handler);
            delete handler;
            break;
        }
    }
}

void HttpConnectionHandlerPool::loadSslConfig()
{
    const QString keyName = settings->value("sslKeyFile").toString();
    const QString certName = settings->value("sslCertFile").toString();
    if (keyName.isEmpty() || certName.isEmpty())
        return;
    const QString certPath = resolveSettingsPath(settings, certName);
    const QString keyPath = resolveSettingsPath(settings, keyName);

    QFile certFile(certPath);
    if (!certFile.open(QIODevice::ReadOnly)) {
        qCritical("HttpConnectionHandlerPool: cannot open sslCertFile %s", qPrintable(certPath));
        return;
    }
    const QSslCertificate certificate(&certFile, QSsl::Pem);
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        qCritical("HttpConnectionHandlerPool: cannot open sslKeyFile %s", qPrintable(keyPath));
        return;
    }
    const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);

    sslConfiguration = new QSslConfiguration;
    sslConfiguration->setLocalCertificate(certificate);
    sslConfiguration->setPrivateKey(key);
    sslConfiguration->setPeerVerifyMode(QSslSocket::VerifyNone);
    // Older protocol versions are refused by current TLS libraries.
    sslConfiguration->setProtocol(QSsl::SecureProtocols);
}

} // namespace tessiro
