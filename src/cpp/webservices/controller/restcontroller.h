#ifndef RESTCONTROLLER_H
#define RESTCONTROLLER_H

#include "httprequesthandler.h"

#include <QJsonObject>

class MainThreadCall;
class NorvikLink;
class NotificationStorageElement;

// Readers of a member of a JSON object: a string is converted (integers in base
// 10), a number taken (truncated for int), a boolean is 1 or 0. False, and the
// target untouched, when the key is absent or of another type.
bool getValue(const QJsonObject& object, const QString& key, int& value);
bool getValue(const QJsonObject& object, const QString& key, double& value);
bool getValue(const QJsonObject& object, const QString& key, QString& value);
int getInt(const QJsonObject& object, const QString& key, int defaultValue);
double getDouble(const QJsonObject& object, const QString& key, double defaultValue);
QString getString(const QJsonObject& object, const QString& key, const QString& defaultValue);

// A history entry as the API lists it.
QJsonObject JsonAlarm(const NotificationStorageElement* element);

// The REST API under "/api/1.0/", one controller per request. It runs on an
// HTTP handler thread; everything it reads or triggers on the facade runs on
// the facade's thread through the mapper's MainThreadCall.
class RestController : public tessiro::HttpRequestHandler
{
    Q_OBJECT
    Q_DISABLE_COPY(RestController)

public:
    RestController(NorvikLink* link, MainThreadCall* facadeCall, QObject* parent = nullptr);

    void service(tessiro::HttpRequest& request, tessiro::HttpResponse& response) override;

private:
    // On the facade's thread: fills the payload, returns the error text.
    QByteArray dispatch(const tessiro::HttpRequest& request, QJsonObject& result);
    QByteArray getRequest(const QByteArray& path, const tessiro::HttpRequest& request,
                          QJsonObject& result);
    QByteArray putRequest(const QByteArray& path, const tessiro::HttpRequest& request);
    QByteArray postRequest(const QByteArray& path, const tessiro::HttpRequest& request);
    QByteArray listTags(const QByteArray& ids, QJsonObject& result);
    QByteArray listAlarms(const QByteArray& severities, bool all, QJsonObject& result);

    NorvikLink* m_norvikLink;
    MainThreadCall* m_facadeCall;
};

#endif
