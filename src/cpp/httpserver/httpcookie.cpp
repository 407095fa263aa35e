#include "httpcookie.h"

namespace tessiro {

HttpCookie::HttpCookie() = default;

HttpCookie::HttpCookie(const QByteArray& name, const QByteArray& value, int maxAge,
                       const QByteArray& path, const QByteArray& comment, const QByteArray& domain,
                       bool secure, bool httpOnly)
    : name(name)
    , value(value)
    , comment(comment)
    , domain(domain)
    , maxAge(maxAge)
    , path(path)
    , secure(secure)
    , httpOnly(httpOnly)
{
}

HttpCookie::HttpCookie(const QByteArray& setCookieHeader)
{
    const QList<QByteArray> parts = splitCSV(setCookieHeader);
    for (int i = 0; i < parts.size(); ++i) {
        const QByteArray& part = parts.at(i);
        const int eq = part.indexOf('=');
        const QByteArray key = (eq < 0 ? part : part.left(eq)).trimmed();
        const QByteArray val = eq < 0 ? QByteArray() : part.mid(eq + 1).trimmed();
        if (i == 0) {
            name = key;
            value = val;
        } else if (key == "Comment") {
            comment = val;
        } else if (key == "Domain") {
            domain = val;
        } else if (key == "Max-Age") {
            maxAge = val.toInt();
        } else if (key == "Path") {
            path = val;
        } else if (key == "Secure") {
            secure = true;
        } else if (key == "HttpOnly") {
            httpOnly = true;
        } else if (key == "Version") {
            version = val.toInt();
        } else {
            qWarning("HttpCookie: Ignoring unknown %s=%s", key.constData(), val.constData());
        }
    }
}

QByteArray HttpCookie::toByteArray() const
{
    QByteArray buffer = name + '=' + value;
    if (!comment.isEmpty())
        buffer += "; Comment=" + comment;
    if (!domain.isEmpty())
        buffer += "; Domain=" + domain;
    if (maxAge != 0)
        buffer += "; Max-Age=" + QByteArray::number(maxAge);
    if (!path.isEmpty())
        buffer += "; Path=" + path;
    if (secure)
        buffer += "; Secure";
    if (httpOnly)
        buffer += "; HttpOnly";
    buffer += "; Version=" + QByteArray::number(version);
    return buffer;
}

QList<QByteArray> HttpCookie::splitCSV(const QByteArray& source)
{
    QList<QByteArray> list;
    QByteArray buffer;
    bool inQuotes = false;
    for (const char c : source) {
        if (c == '"')
            inQuotes = !inQuotes;
        if (c == ';' && !inQuotes) {
            buffer = buffer.trimmed();
            if (!buffer.isEmpty())
                list.append(buffer);
            buffer.clear();
        } else {
            buffer.append(c);
        }
    }
    buffer = buffer.trimmed();
    if (!buffer.isEmpty())
        list.append(buffer);
    return list;
}

} // namespace tessiro
