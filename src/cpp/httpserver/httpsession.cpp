#include "httpsession.h"

#include <QDateTime>
#include <QUuid>

namespace tessiro {

HttpSession::HttpSession(bool canStore)
{
    if (canStore) {
        dataPtr = new HttpSessionData;
        dataPtr->id = QUuid::createUuid().toString().toLocal8Bit();
        dataPtr->lastAccess = QDateTime::currentMSecsSinceEpoch();
        dataPtr->refCount = 1;
    }
}

HttpSession::HttpSession(const HttpSession& other)
    : dataPtr(other.dataPtr)
{
    if (dataPtr) {
        QWriteLocker locker(&dataPtr->lock);
        ++dataPtr->refCount;
    }
}

HttpSession& HttpSession::operator=(const HttpSession& other)
{
    if (other.dataPtr == dataPtr)
        return *this;
    if (other.dataPtr) {
        QWriteLocker locker(&other.dataPtr->lock);
        ++other.dataPtr->refCount;
    }
    release();
    dataPtr = other.dataPtr;
    return *this;
}

HttpSession::~HttpSession()
{
    release();
}

void HttpSession::release()
{
    if (!dataPtr)
        return;
    bool last;
    {
        QWriteLocker locker(&dataPtr->lock);
        last = --dataPtr->refCount == 0;
    }
    if (last)
        delete dataPtr;
    dataPtr = nullptr;
}

QByteArray HttpSession::getId() const
{
    return dataPtr ? dataPtr->id : QByteArray();
}

QVariant HttpSession::get(const QByteArray& key) const
{
    if (!dataPtr)
        return QVariant();
    QReadLocker locker(&dataPtr->lock);
    return dataPtr->values.value(key);
}

void HttpSession::set(const QByteArray& key, const QVariant& value)
{
    if (!dataPtr)
        return;
    QWriteLocker locker(&dataPtr->lock);
    dataPtr->values.insert(key, value);
}

void HttpSession::remove(const QByteArray& key)
{
    if (!dataPtr)
        return;
    QWriteLocker locker(&dataPtr->lock);
    dataPtr->values.remove(key);
}

bool HttpSession::contains(const QByteArray& key) const
{
    if (!dataPtr)
        return false;
    QReadLocker locker(&dataPtr->lock);
    return dataPtr->values.contains(key);
}

QMap<QByteArray, QVariant> HttpSession::getAll() const
{
    if (!dataPtr)
        return {};
    QReadLocker locker(&dataPtr->lock);
    return dataPtr->values;
}

qint64 HttpSession::getLastAccess() const
{
    if (!dataPtr)
        return 0;
    QReadLocker locker(&dataPtr->lock);
    return dataPtr->lastAccess;
}

void HttpSession::setLastAccess()
{
    if (!dataPtr)
        return;
    QWriteLocker locker(&dataPtr->lock);
    dataPtr->lastAccess = QDateTime::currentMSecsSinceEpoch();
}

} // namespace tessiro
