#ifndef HTTPREQUEST_H
#define HTTPREQUEST_H

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QMultiMap>

class QIODevice;
class QSettings;
class QTcpSocket;
class QTemporaryFile;

namespace tessiro {

// One HTTP request, parsed incrementally from whatever the socket has. Request
// line, headers and a plain body together stay within "maxRequestSize"; a
// multipart body goes to a temporary file limited by "maxMultiPartSize" and is
// split into parameters and uploaded files when complete. Anything too large
// or malformed ends in status abort.
class HttpRequest
{
public:
    enum RequestStatus { waitForRequest, waitForHeader, waitForBody, complete, abort };

    explicit HttpRequest(const QSettings* settings);
    virtual ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // Consumes bytes for one parsing step; call while bytes remain and the status
    // is neither complete nor abort.
    void readFromSocket(QTcpSocket* socket);
    // The same step on any device, for input that does not come from a socket
    // (a buffer holding captured traffic); the peer address stays null.
    void readFromDevice(QIODevice* device);

    RequestStatus getStatus() const { return status; }
    QByteArray getMethod() const { return method; }
    QByteArray getPath() const { return urlDecode(path.split('?').first()); }
    const QByteArray& getRawPath() const { return path; }
    QByteArray getVersion() const { return version; }
    QByteArray getHeader(const QByteArray& name) const;
    QList<QByteArray> getHeaders(const QByteArray& name) const;
    QMultiMap<QByteArray, QByteArray> getHeaderMap() const { return headers; }
    QByteArray getParameter(const QByteArray& name) const;
    QList<QByteArray> getParameters(const QByteArray& name) const;
    QMultiMap<QByteArray, QByteArray> getParameterMap() const { return parameters; }
    QByteArray getBody() const { return bodyData; }
    QByteArray getCookie(const QByteArray& name) const { return cookies.value(name); }
    const QMap<QByteArray, QByteArray>& getCookieMap() const { return cookies; }
    // Owned by the request; valid until it is deleted.
    QTemporaryFile* getUploadedFile(const QByteArray& fieldName) const;
    QHostAddress getPeerAddress() const { return peerAddress; }

    static QByteArray urlDecode(const QByteArray& source);

private:
    void readRequest(QIODevice* device);
    void readHeader(QIODevice* device);
    void readBody(QIODevice* device);
    bool readLine(QIODevice* device, QByteArray* line);
    void decodeRequestParams();
    void extractCookies();
    void parseMultiPartFile();

    QMultiMap<QByteArray, QByteArray> headers;
    QMultiMap<QByteArray, QByteArray> parameters;
    QMap<QByteArray, QTemporaryFile*> uploadedFiles;
    QMap<QByteArray, QByteArray> cookies;
    QByteArray bodyData;
    QByteArray method;
    QByteArray path;
    QByteArray version;
    RequestStatus status = waitForRequest;
    QHostAddress peerAddress;
    int maxSize;
    int maxMultiPartSize;
    int currentSize = 0;
    int expectedBodySize = 0;
    QByteArray currentHeader;
    QByteArray boundary;
    QTemporaryFile* tempFile = nullptr;
    QByteArray lineBuffer;
};

} // namespace tessiro

#endif
