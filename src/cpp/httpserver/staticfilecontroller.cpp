#include "staticfilecontroller.h"

#include "httpglobal.h"
#include "httprequest.h"
#include "httpresponse.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace tessiro {

namespace {
constexpr qint64 BLOCK_SIZE = 65536;
}

StaticFileController::StaticFileController(const QSettings* settings, QObject* parent)
    : HttpRequestHandler(parent)
    , encoding(settings->value("encoding", "UTF-8").toString())
    , maxAge(settings->value("maxAge", "60000").toInt())
    , cacheTimeout(settings->value("cacheTime", "60000").toInt())
    , maxCachedFileSize(settings->value("maxCachedFileSize", "65536").toInt())
{
    docroot = resolveSettingsPath(settings, settings->value("path", ".").toString());
    if (docroot.startsWith(QLatin1String("qrc://")))
        docroot = QLatin1Char(':') + docroot.mid(5);
    cache.setMaxCost(settings->value("cacheSize", "1000000").toInt());
}

void StaticFileController::service(HttpRequest& request, HttpResponse& response)
{
    const QByteArray path = request.getPath();
    const QByteArray cacheControl = "max-age=" + QByteArray::number(maxAge / 1000);

    QMutexLocker locker(&mutex);
    if (const CacheEntry* entry = cache.object(QString::fromUtf8(path))) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (cacheTimeout == 0 || entry->created > now - cacheTimeout) {
            const QByteArray document = entry->document;
            const QByteArray filename = entry->filename;
            locker.unlock();
            setContentType(QString::fromUtf8(filename), response);
            response.setHeader("Cache-Control", cacheControl);
            response.write(document, true);
            return;
        }
    }
    locker.unlock();

    if (path.contains("/..")) {
        qWarning("StaticFileController: detected forbidden characters in path %s",
                 path.constData());
        response.setStatus(403, "forbidden");
        response.write("403 forbidden", true);
        return;
    }

    QString fileName = docroot + QString::fromUtf8(path);
    if (QFileInfo(fileName).isDir())
        fileName += QLatin1String("/index.html");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists()) {
            qWarning("StaticFileController: Cannot open existing file %s for reading",
                     qPrintable(fileName));
            response.setStatus(403, "forbidden");
            response.write("403 forbidden", true);
        } else {
            response.setStatus(404, "not found");
            response.write("404 not found", true);
        }
        return;
    }

    setContentType(fileName, response);
    response.setHeader("Cache-Control", cacheControl);
    const bool cacheIt = file.size() <= maxCachedFileSize;
    QByteArray document;
    while (!file.atEnd() && file.error() == QFileDevice::NoError) {
        const QByteArray block = file.read(BLOCK_SIZE);
        if (block.isEmpty())
            break;
        response.write(block);
        if (cacheIt)
            document += block;
    }
    if (cacheIt) {
        auto* entry = new CacheEntry { document, QDateTime::currentMSecsSinceEpoch(),
                                       QFile::encodeName(fileName) };
        locker.relock();
        cache.insert(QString::fromUtf8(path), entry, document.size());
    }
    response.write(QByteArray(), true);
}

void StaticFileController::setContentType(const QString& fileName, HttpResponse& response) const
{
    static const struct
    {
        const char* ending;
        const char* type;
        bool text;
    } types[] = {
        { ".png", "image/png", false },
        { ".jpg", "image/jpeg", false },
        { ".gif", "image/gif", false },
        { ".pdf", "application/pdf", false },
        { ".txt", "text/plain", true },
        { ".html", "text/html", true },
        { ".htm", "text/html", true },
        { ".css", "text/css", false },
        { ".js", "text/javascript", false },
        { ".svg", "image/svg+xml", false },
        { ".woff", "font/woff", false },
        { ".woff2", "font/woff2", false },
        { ".ttf", "application/x-font-ttf", false },
        { ".eot", "application/vnd.ms-fontobject", false },
        { ".otf", "application/font-otf", false },
        { ".json", "application/json", false },
        { ".xml", "text/xml", false },
    };
    for (const auto& t : types) {
        if (fileName.endsWith(QLatin1String(t.ending))) {
            QByteArray type = t.type;
            if (t.text)
                type += "; charset=" + encoding.toLatin1();
            response.setHeader("Content-Type", type);
            return;
        }
    }
}

} // namespace tessiro
