#include "httpsessionstore.h"

#include "httprequest.h"
#include "httpresponse.h"

#include <QDateTime>
#include <QSettings>

namespace tessiro {

HttpSessionStore::HttpSessionStore(const QSettings* settings, QObject* parent)
    : QObject(parent)
    , settings(settings)
    , cookieName(settings->value("cookieName", "sessionid").toByteArray())
    , expirationTime(settings->value("expirationTime", 3600000).toInt())
{
    connect(&cleanupTimer, &QTimer::timeout, this, &HttpSessionStore::sessionTimerEvent);
    cleanupTimer.start(60000);
}

QByteArray HttpSessionStore::getSessionId(HttpRequest& request, HttpResponse& response)
{
    QByteArray id = request.getCookie(cookieName);
    if (id.isEmpty()) {
        const auto cookie = response.getCookies().constFind(cookieName);
        if (cookie != response.getCookies().constEnd())
            id = cookie->getValue();
    }
    QMutexLocker locker(&mutex);
    return sessions.contains(id) ? id : QByteArray();
}

void HttpSessionStore::sendCookie(HttpResponse& response, const QByteArray& id)
{
    response.setCookie(HttpCookie(cookieName, id, expirationTime / 1000,
                                  settings->value("cookiePath").toByteArray(),
                                  settings->value("cookieComment").toByteArray(),
                                  settings->value("cookieDomain").toByteArray()));
}

HttpSession HttpSessionStore::getSession(HttpRequest& request, HttpResponse& response,
                                         bool allowCreate)
{
    const QByteArray id = getSessionId(request, response);
    QMutexLocker locker(&mutex);
    const auto it = sessions.constFind(id);
    if (!id.isEmpty() && it != sessions.constEnd()) {
        HttpSession session = it.value();
        session.setLastAccess();
        sendCookie(response, id);
        return session;
    }
    if (!allowCreate)
        return HttpSession();
    HttpSession session(true);
    sessions.insert(session.getId(), session);
    sendCookie(response, session.getId());
    return session;
}

HttpSession HttpSessionStore::getSession(const QByteArray& id)
{
    QMutexLocker locker(&mutex);
    HttpSession session = sessions.value(id);
    session.setLastAccess();
    return session;
}

void HttpSessionStore::removeSession(const HttpSession& session)
{
    QMutexLocker locker(&mutex);
    sessions.remove(session.getId());
}

void HttpSessionStore::sessionTimerEvent()
{
    QMutexLocker locker(&mutex);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (auto it = sessions.begin(); it != sessions.end();) {
        if (now - it->getLastAccess() > expirationTime)
            it = sessions.erase(it);
        else
            ++it;
    }
}

} // namespace tessiro
