#include "httpresponse.h"

#include <QTcpSocket>
#include <QThread>

namespace tessiro {

namespace {
// Output allowed to wait in the socket before a writer blocks for it.
constexpr qint64 MAX_PENDING_OUTPUT = 16384;
} // namespace

HttpResponse::HttpResponse(QTcpSocket* socket)
    : socket(socket)
{
}

void HttpResponse::setHeader(const QByteArray& name, const QByteArray& value)
{
    Q_ASSERT(!sentHeaders);
    headers.insert(name, value);
}

void HttpResponse::setHeader(const QByteArray& name, int value)
{
    setHeader(name, QByteArray::number(value));
}

void HttpResponse::setStatus(int code, const QByteArray& description)
{
    statusCode = code;
    statusText = description;
}

void HttpResponse::setCookie(const HttpCookie& cookie)
{
    Q_ASSERT(!sentHeaders);
    if (!cookie.getName().isEmpty())
        cookies.insert(cookie.getName(), cookie);
}

void HttpResponse::writeHeaders()
{
    Q_ASSERT(!sentHeaders);
    QByteArray buffer = "HTTP/1.1 " + QByteArray::number(statusCode) + ' ' + statusText + "\r\n";
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        buffer += it.key() + ": " + it.value() + "\r\n";
    for (const HttpCookie& cookie : qAsConst(cookies))
        buffer += "Set-Cookie: " + cookie.toByteArray() + "\r\n";
    buffer += "\r\n";
    writeToSocket(buffer);
    sentHeaders = true;
}

// Blocks while too much output is pending, so a client that does not read cannot
// make the server buffer a whole response. The wait ends when the owner of the
// handler thread asks it to stop; what fits without waiting is still written, so an
// answer given while the server shuts down (a 503, say) reaches its client.
bool HttpResponse::writeToSocket(const QByteArray& data)
{
    const char* ptr = data.constData();
    qint64 remaining = data.size();
    while (remaining > 0 && socket->isOpen()
           && socket->state() == QAbstractSocket::ConnectedState) {
        while (socket->bytesToWrite() > MAX_PENDING_OUTPUT
               && socket->state() == QAbstractSocket::ConnectedState
               && !QThread::currentThread()->isInterruptionRequested()) {
            socket->waitForBytesWritten(1000);
        }
        if (socket->bytesToWrite() > MAX_PENDING_OUTPUT)
            return false;
        const qint64 written = socket->write(ptr, remaining);
        if (written < 0)
            return false;
        ptr += written;
        remaining -= written;
    }
    return remaining == 0;
}

void HttpResponse::write(const QByteArray& data, bool lastPart)
{
    Q_ASSERT(!sentLastPart);
    if (!sentHeaders) {
        if (lastPart) {
            headers.insert("Content-Length", QByteArray::number(data.size()));
        } else {
            const QByteArray connection = headers.value("Connection", headers.value("connection"));
            if (qstricmp(connection.constData(), "close") != 0) {
                headers.insert("Transfer-Encoding", "chunked");
                chunkedMode = true;
            }
        }
        writeHeaders();
    }
    if (!data.isEmpty()) {
        if (chunkedMode)
            writeToSocket(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
        else
            writeToSocket(data);
    }
    if (lastPart) {
        if (chunkedMode)
            writeToSocket("0\r\n\r\n");
        socket->flush();
        sentLastPart = true;
    }
}

void HttpResponse::redirect(const QByteArray& url)
{
    setStatus(303, "See Other");
    setHeader("Location", url);
    write("Redirect", true);
}

void HttpResponse::flush()
{
    socket->flush();
}

bool HttpResponse::isConnected() const
{
    return socket->isOpen() && socket->state() == QAbstractSocket::ConnectedState;
}

} // namespace tessiro
