#include "httprequest.h"

#include "httpcookie.h"

#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryFile>

#include <algorithm>
#include <cctype>

namespace tessiro {

namespace {
constexpr qint64 MULTIPART_STEP = 65536;
// Each uploaded file holds a descriptor until the request goes: a body of many
// tiny file parts must not take every descriptor of the process.
constexpr int MAX_UPLOADED_FILES = 32;

// Position of the value of attribute 'name' (written name="...") in a
// Content-Disposition line; "filename=" does not count as "name=".
QByteArray quotedAttribute(const QByteArray& line, const QByteArray& name)
{
    const QByteArray key = name + "=\"";
    int pos = line.indexOf(key);
    while (pos > 0 && QChar::isLetter(uchar(line.at(pos - 1))))
        pos = line.indexOf(key, pos + 1);
    if (pos < 0)
        return QByteArray();
    const int start = pos + key.size();
    const int end = line.indexOf('"', start);
    return end < 0 ? QByteArray() : line.mid(start, end - start);
}

QList<QByteArray> inArrivalOrder(QList<QByteArray> values)
{
    // QMultiMap hands out the most recent value first.
    std::reverse(values.begin(), values.end());
    return values;
}
} // namespace

HttpRequest::HttpRequest(const QSettings* settings)
    : maxSize(settings->value("maxRequestSize", "16000").toInt())
    , maxMultiPartSize(settings->value("maxMultiPartSize", "1000000").toInt())
{
}

HttpRequest::~HttpRequest()
{
    qDeleteAll(uploadedFiles);
    delete tempFile;
}

void HttpRequest::readFromSocket(QTcpSocket* socket)
{
    const RequestStatus before = status;
    readFromDevice(socket);
    if (before == waitForRequest && status == waitForHeader)
        peerAddress = socket->peerAddress();
}

void HttpRequest::readFromDevice(QIODevice* device)
{
    switch (status) {
    case waitForRequest:
        readRequest(device);
        break;
    case waitForHeader:
        readHeader(device);
        break;
    case waitForBody:
        readBody(device);
        break;
    case complete:
    case abort:
        return;
    }
    const int limit = boundary.isEmpty() ? maxSize : maxMultiPartSize;
    if (status != abort && currentSize > limit) {
        qWarning("HttpRequest: received too many bytes");
        status = abort;
    }
    if (status == complete) {
        decodeRequestParams();
        extractCookies();
    }
}

// Collects a line in lineBuffer; true with the trimmed line once its end arrived.
// Reads at most one byte past the size limit, so an endless line trips the check.
bool HttpRequest::readLine(QIODevice* device, QByteArray* line)
{
    const qint64 room = qint64(maxSize) - currentSize + 1;
    const QByteArray chunk = device->readLine(room + 1);
    currentSize += chunk.size();
    lineBuffer += chunk;
    if (!lineBuffer.endsWith('\n'))
        return false;
    *line = lineBuffer.trimmed();
    lineBuffer.clear();
    return true;
}

void HttpRequest::readRequest(QIODevice* device)
{
    QByteArray line;
    if (!readLine(device, &line) || line.isEmpty())
        return;
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !parts.at(2).contains("HTTP")) {
        qWarning("HttpRequest: received broken HTTP request, invalid first line");
        status = abort;
        return;
    }
    method = parts.at(0).trimmed();
    path = parts.at(1);
    version = parts.at(2);
    status = waitForHeader;
}

void HttpRequest::readHeader(QIODevice* device)
{
    QByteArray line;
    if (!readLine(device, &line))
        return;
    const int colon = line.indexOf(':');
    if (colon > 0) {
        currentHeader = line.left(colon).trimmed().toLower();
        headers.insert(currentHeader, line.mid(colon + 1).trimmed());
        return;
    }
    if (!line.isEmpty()) {
        // Continuation of the previous header.
        auto it = headers.find(currentHeader);
        if (it != headers.end())
            it.value() += ' ' + line;
        return;
    }

    const QByteArray contentType = getHeader("content-type");
    if (contentType.startsWith("multipart/form-data")) {
        const int pos = contentType.indexOf("boundary=");
        if (pos >= 0) {
            boundary = contentType.mid(pos + 9);
            if (boundary.size() >= 2 && boundary.startsWith('"') && boundary.endsWith('"'))
                boundary = boundary.mid(1, boundary.size() - 2);
        }
    }
    bool ok = true;
    const QByteArray length = getHeader("content-length");
    const qlonglong size = length.isEmpty() ? 0 : length.toLongLong(&ok);
    if (!ok || size < 0) {
        qWarning("HttpRequest: received broken HTTP request, invalid Content-Length");
        status = abort;
    } else if (size == 0) {
        status = complete;
    } else if (boundary.isEmpty() && size > maxSize) {
        qWarning("HttpRequest: expected body is too large");
        status = abort;
    } else if (!boundary.isEmpty() && size > maxMultiPartSize) {
        qWarning("HttpRequest: expected multipart body is too large");
        status = abort;
    } else {
        expectedBodySize = int(size);
        status = waitForBody;
    }
}

void HttpRequest::readBody(QIODevice* device)
{
    if (boundary.isEmpty()) {
        const QByteArray chunk = device->read(expectedBodySize - bodyData.size());
        currentSize += chunk.size();
        bodyData += chunk;
        if (bodyData.size() >= expectedBodySize)
            status = complete;
        return;
    }

    if (!tempFile) {
        tempFile = new QTemporaryFile;
        if (!tempFile->open()) {
            qCritical("HttpRequest: Error writing temp file for multipart body");
            status = abort;
            return;
        }
    }
    const QByteArray chunk = device->read(qMin(MULTIPART_STEP, expectedBodySize - tempFile->pos()));
    if (tempFile->write(chunk) != chunk.size()) {
        qCritical("HttpRequest: Error writing temp file for multipart body");
        status = abort;
        return;
    }
    if (tempFile->pos() >= maxMultiPartSize) {
        qWarning("HttpRequest: received too many multipart bytes");
        status = abort;
    } else if (tempFile->pos() >= expectedBodySize) {
        if (!tempFile->flush()) {
            qCritical("HttpRequest: Error writing temp file for multipart body");
            status = abort;
            return;
        }
        parseMultiPartFile();
        tempFile->close();
        status = complete;
    }
}

void HttpRequest::decodeRequestParams()
{
    QByteArray source;
    const int question = path.indexOf('?');
    if (question >= 0)
        source = path.mid(question + 1);
    if (getHeader("content-type").startsWith("application/x-www-form-urlencoded")) {
        if (!source.isEmpty() && !bodyData.isEmpty())
            source += '&';
        source += bodyData;
    }
    for (const QByteArray& pair : source.split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        if (eq < 0)
            parameters.insert(urlDecode(pair.trimmed()), QByteArray());
        else
            parameters.insert(urlDecode(pair.left(eq).trimmed()), urlDecode(pair.mid(eq + 1)));
    }
}

void HttpRequest::extractCookies()
{
    for (const QByteArray& header : getHeaders("cookie")) {
        for (const QByteArray& part : HttpCookie::splitCSV(header)) {
            const int eq = part.indexOf('=');
            if (eq < 0)
                cookies.insert(part.trimmed(), QByteArray());
            else
                cookies.insert(part.left(eq).trimmed(), part.mid(eq + 1).trimmed());
        }
    }
}

void HttpRequest::parseMultiPartFile()
{
    const QByteArray delimiter = "--" + boundary;
    tempFile->seek(0);
    bool finished = false;
    while (!tempFile->atEnd() && !finished && tempFile->error() == QFileDevice::NoError) {
        QByteArray fieldName;
        QByteArray fileName;
        while (!tempFile->atEnd() && tempFile->error() == QFileDevice::NoError) {
            const QByteArray line = tempFile->readLine(MULTIPART_STEP).trimmed();
            if (line.startsWith("Content-Disposition:") && line.contains("form-data")) {
                fieldName = quotedAttribute(line, "name");
                fileName = quotedAttribute(line, "filename");
            } else if (line.isEmpty()) {
                break;
            }
        }

        QByteArray fieldValue;
        QTemporaryFile* uploadedFile = nullptr;
        bool dropped = false;
        while (!tempFile->atEnd() && tempFile->error() == QFileDevice::NoError) {
            const QByteArray line = tempFile->readLine(MULTIPART_STEP);
            if (line.contains(delimiter)) {
                if (fieldName.isEmpty()) {
                    // A part without a name carries nothing to keep.
                } else if (fileName.isEmpty()) {
                    fieldValue.chop(2);
                    parameters.insert(fieldName, fieldValue);
                } else if (dropped) {
                    // Refused below.
                } else if (uploadedFile) {
                    uploadedFile->resize(qMax<qint64>(0, uploadedFile->size() - 2));
                    uploadedFile->flush();
                    uploadedFile->seek(0);
                    delete uploadedFiles.take(fieldName);
                    uploadedFiles.insert(fieldName, uploadedFile);
                    parameters.insert(fieldName, fileName);
                    uploadedFile = nullptr;
                } else {
                    qWarning("HttpRequest: format error, unexpected end of file data");
                }
                finished = line.contains(delimiter + "--");
                break;
            }
            if (fieldName.isEmpty())
                continue;
            if (fileName.isEmpty()) {
                currentSize += line.size();
                fieldValue += line;
                continue;
            }
            if (dropped)
                continue;
            if (!uploadedFile && uploadedFiles.size() >= MAX_UPLOADED_FILES
                && !uploadedFiles.contains(fieldName)) {
                qWarning("HttpRequest: too many uploaded files, %s dropped", fieldName.constData());
                dropped = true;
                continue;
            }
            if (!uploadedFile) {
                uploadedFile = new QTemporaryFile;
                uploadedFile->open();
            }
            if (uploadedFile->write(line) != line.size())
                qCritical("HttpRequest: error writing temp file, %s",
                          qPrintable(uploadedFile->errorString()));
        }
        // A file part cut off by the end of the body is dropped.
        delete uploadedFile;
    }
    if (tempFile->error() != QFileDevice::NoError)
        qCritical("HttpRequest: cannot read temp file, %s", qPrintable(tempFile->errorString()));
}

QByteArray HttpRequest::getHeader(const QByteArray& name) const
{
    const QList<QByteArray> values = getHeaders(name);
    return values.isEmpty() ? QByteArray() : values.first();
}

QList<QByteArray> HttpRequest::getHeaders(const QByteArray& name) const
{
    return inArrivalOrder(headers.values(name.toLower()));
}

QByteArray HttpRequest::getParameter(const QByteArray& name) const
{
    const QList<QByteArray> values = getParameters(name);
    return values.isEmpty() ? QByteArray() : values.first();
}

QList<QByteArray> HttpRequest::getParameters(const QByteArray& name) const
{
    return inArrivalOrder(parameters.values(name));
}

QTemporaryFile* HttpRequest::getUploadedFile(const QByteArray& fieldName) const
{
    return uploadedFiles.value(fieldName);
}

QByteArray HttpRequest::urlDecode(const QByteArray& source)
{
    QByteArray buffer = source;
    buffer.replace('+', ' ');
    QByteArray result;
    result.reserve(buffer.size());
    for (int i = 0; i < buffer.size(); ++i) {
        const char c = buffer.at(i);
        if (c == '%' && i + 2 < buffer.size() && isxdigit(uchar(buffer.at(i + 1)))
            && isxdigit(uchar(buffer.at(i + 2)))) {
            result.append(char(buffer.mid(i + 1, 2).toInt(nullptr, 16)));
            i += 2;
            continue;
        }
        result.append(c);
    }
    return result;
}

} // namespace tessiro
