#ifndef HTTPSESSION_H
#define HTTPSESSION_H

#include <QByteArray>
#include <QMap>
#include <QReadWriteLock>
#include <QVariant>

namespace tessiro {

// A session's values, shared by every copy of the session. Copies may live on
// several handler threads; the lock guards the values and the reference count.
struct HttpSessionData
{
    QByteArray id;
    qint64 lastAccess = 0;
    int refCount = 0;
    QReadWriteLock lock;
    QMap<QByteArray, QVariant> values;
};

// Handle to the data of one session; HttpSession() is the null session.
class HttpSession
{
public:
    explicit HttpSession(bool canStore = false);
    HttpSession(const HttpSession& other);
    HttpSession& operator=(const HttpSession& other);
    ~HttpSession();

    QByteArray getId() const;
    bool isNull() const { return dataPtr == nullptr; }
    QVariant get(const QByteArray& key) const;
    void set(const QByteArray& key, const QVariant& value);
    void remove(const QByteArray& key);
    bool contains(const QByteArray& key) const;
    QMap<QByteArray, QVariant> getAll() const;
    qint64 getLastAccess() const;
    void setLastAccess();

private:
    void release();

    HttpSessionData* dataPtr = nullptr;
};

} // namespace tessiro

#endif
