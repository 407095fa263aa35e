#ifndef HTTPCOOKIE_H
#define HTTPCOOKIE_H

#include <QByteArray>
#include <QList>

namespace tessiro {

// One cookie as it is sent in a "Set-Cookie" header (version 1 attributes).
class HttpCookie
{
public:
    HttpCookie();
    HttpCookie(const QByteArray& name, const QByteArray& value, int maxAge,
               const QByteArray& path = QByteArray(), const QByteArray& comment = QByteArray(),
               const QByteArray& domain = QByteArray(), bool secure = false, bool httpOnly = false);
    // Parses the text of a "Set-Cookie" header.
    explicit HttpCookie(const QByteArray& setCookieHeader);

    QByteArray toByteArray() const;

    // Splits at ";" outside double quotes; the parts come trimmed, empty ones dropped.
    static QList<QByteArray> splitCSV(const QByteArray& source);

    void setName(const QByteArray& value) { name = value; }
    void setValue(const QByteArray& v) { value = v; }
    void setComment(const QByteArray& value) { comment = value; }
    void setDomain(const QByteArray& value) { domain = value; }
    void setMaxAge(int value) { maxAge = value; }
    void setPath(const QByteArray& value) { path = value; }
    void setSecure(bool value) { secure = value; }
    void setHttpOnly(bool value) { httpOnly = value; }

    QByteArray getName() const { return name; }
    QByteArray getValue() const { return value; }
    QByteArray getComment() const { return comment; }
    QByteArray getDomain() const { return domain; }
    int getMaxAge() const { return maxAge; }
    QByteArray getPath() const { return path; }
    bool getSecure() const { return secure; }
    bool getHttpOnly() const { return httpOnly; }
    int getVersion() const { return version; }

private:
    QByteArray name;
    QByteArray value;
    QByteArray comment;
    QByteArray domain;
    int maxAge = 0;
    QByteArray path;
    bool secure = false;
    bool httpOnly = false;
    int version = 1;
};

} // namespace tessiro

#endif
