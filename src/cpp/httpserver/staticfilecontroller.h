#ifndef STATICFILECONTROLLER_H
#define STATICFILECONTROLLER_H

#include "httprequesthandler.h"

#include <QCache>
#include <QMutex>

class QSettings;

namespace tessiro {

// Serves files below the document root ("path"). Files up to
// "maxCachedFileSize" are kept in a memory cache of "cacheSize" bytes for
// "cacheTime" ms, so a changed file may be served in its old form until then.
// Paths that climb out of the root are refused.
class StaticFileController : public HttpRequestHandler
{
    Q_OBJECT
    Q_DISABLE_COPY(StaticFileController)

public:
    explicit StaticFileController(const QSettings* settings, QObject* parent = nullptr);

    void service(HttpRequest& request, HttpResponse& response) override;

private:
    struct CacheEntry
    {
        QByteArray document;
        qint64 created;
        QByteArray filename;
    };

    void setContentType(const QString& fileName, HttpResponse& response) const;

    QString encoding;
    QString docroot;
    int maxAge;
    int cacheTimeout;
    int maxCachedFileSize;
    QCache<QString, CacheEntry> cache;
    QMutex mutex;
};

} // namespace tessiro

#endif
