#ifndef NORVIK_FUZZ_REQUESTFEED_H
#define NORVIK_FUZZ_REQUESTFEED_H

#include "httprequest.h"

#include <QBuffer>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include <cstdlib>

// Settings for the parser, kept in memory: a format whose store never
// touches the disk.
inline const QSettings* requestSettings(int maxRequestSize, int maxMultiPartSize)
{
    // Multipart bodies and uploads go to temporary files; in memory they cost
    // the fuzzer far less than on disk.
    if (qEnvironmentVariableIsEmpty("TMPDIR") && QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    static const QSettings::Format format = QSettings::registerFormat(
        QStringLiteral("fuzz"), [](QIODevice&, QSettings::SettingsMap&) { return true; },
        [](QIODevice&, const QSettings::SettingsMap&) { return true; });
    auto* settings = new QSettings(QStringLiteral("/nonexistent/fuzz.settings"), format);
    settings->setValue(QStringLiteral("maxRequestSize"), maxRequestSize);
    settings->setValue(QStringLiteral("maxMultiPartSize"), maxMultiPartSize);
    return settings;
}

// Broken input logs on nearly every run; printing it would only slow the fuzzer.
inline void silenceQtLog()
{
    static const bool once = [] {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
            if (type == QtFatalMsg)
                std::abort();
        });
        return true;
    }();
    (void)once;
}

inline bool finished(const tessiro::HttpRequest& request)
{
    return request.getStatus() == tessiro::HttpRequest::complete
        || request.getStatus() == tessiro::HttpRequest::abort;
}

// One read of the connection: the request takes steps as the connection handler
// drives it, until the bytes run out or the request is done. A step that
// neither consumes a byte nor moves the state would spin the handler's thread
// forever, so it counts as a crash.
inline void feed(tessiro::HttpRequest& request, const QByteArray& bytes)
{
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    while (device.bytesAvailable() > 0 && !finished(request)) {
        const qint64 before = device.pos();
        const tessiro::HttpRequest::RequestStatus state = request.getStatus();
        request.readFromDevice(&device);
        if (device.pos() == before && request.getStatus() == state)
            std::abort();
    }
}

// Everything a request handler may look at, with the guarantees it relies on.
inline void inspect(const tessiro::HttpRequest& request)
{
    (void)request.getMethod();
    (void)request.getVersion();
    (void)tessiro::HttpRequest::urlDecode(request.getRawPath());
    (void)request.getPath();
    const auto headers = request.getHeaderMap();
    for (const QByteArray& name : headers.uniqueKeys()) {
        if (name != name.toLower() || request.getHeaders(name).size() != headers.count(name)
            || request.getHeader(name.toUpper()) != request.getHeaders(name).first())
            std::abort();
    }
    for (auto it = request.getCookieMap().cbegin(); it != request.getCookieMap().cend(); ++it)
        (void)request.getCookie(it.key());
    const auto parameters = request.getParameterMap();
    for (const QByteArray& name : parameters.uniqueKeys()) {
        (void)request.getParameter(name);
        (void)request.getParameters(name);
        if (QTemporaryFile* file = request.getUploadedFile(name)) {
            // Handed over rewound and complete.
            if (!file->isOpen() || file->pos() != 0 || file->readAll().size() != file->size())
                std::abort();
        }
    }
    (void)request.getBody();
}

#endif
