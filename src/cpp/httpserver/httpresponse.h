#ifndef HTTPRESPONSE_H
#define HTTPRESPONSE_H

#include "httpcookie.h"

#include <QByteArray>
#include <QMap>

class QTcpSocket;

namespace tessiro {

// The response to one request, written straight to the connection. A response
// written as a single last part gets a Content-Length; one written in several
// parts is chunked unless the connection closes after it anyway. Headers and
// cookies can be changed only until the first write.
class HttpResponse
{
public:
    explicit HttpResponse(QTcpSocket* socket);

    void setHeader(const QByteArray& name, const QByteArray& value);
    void setHeader(const QByteArray& name, int value);
    QMap<QByteArray, QByteArray>& getHeaders() { return headers; }
    void setStatus(int code, const QByteArray& description = QByteArray());
    int getStatusCode() const { return statusCode; }
    // Replaces a cookie of the same name.
    void setCookie(const HttpCookie& cookie);
    QMap<QByteArray, HttpCookie>& getCookies() { return cookies; }

    void write(const QByteArray& data, bool lastPart = false);
    void writeHeaders();
    void redirect(const QByteArray& url);
    bool hasSentLastPart() const { return sentLastPart; }
    void flush();
    bool isConnected() const;

private:
    bool writeToSocket(const QByteArray& data);

    QMap<QByteArray, QByteArray> headers;
    QTcpSocket* socket;
    int statusCode = 200;
    QByteArray statusText = "OK";
    bool sentHeaders = false;
    bool sentLastPart = false;
    bool chunkedMode = false;
    QMap<QByteArray, HttpCookie> cookies;
};

} // namespace tessiro

#endif
