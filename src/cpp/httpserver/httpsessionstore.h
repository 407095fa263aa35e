#ifndef HTTPSESSIONSTORE_H
#define HTTPSESSIONSTORE_H

#include "httpsession.h"

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QTimer>

class QSettings;

namespace tessiro {

class HttpRequest;
class HttpResponse;

// Sessions by id, found through the session cookie. Handler threads call the
// getters concurrently (under mutex); the expiry timer runs on the creator's
// thread every minute and drops sessions idle for longer than "expirationTime".
class HttpSessionStore : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpSessionStore)

public:
    explicit HttpSessionStore(const QSettings* settings, QObject* parent = nullptr);

    QByteArray getSessionId(HttpRequest& request, HttpResponse& response);
    HttpSession getSession(HttpRequest& request, HttpResponse& response, bool allowCreate = true);
    HttpSession getSession(const QByteArray& id);
    void removeSession(const HttpSession& session);

public slots:
    void sessionTimerEvent();

private:
    void sendCookie(HttpResponse& response, const QByteArray& id);

    QMap<QByteArray, HttpSession> sessions;
    const QSettings* settings;
    QTimer cleanupTimer;
    QByteArray cookieName;
    int expirationTime;
    QMutex mutex;
};

} // namespace tessiro

#endif
