#include "restcontroller.h"

#include "operationgate.h"

#include "httprequest.h"
#include "httpresponse.h"
#include "jsontext.h"
#include "mainthreadcall.h"
#include "norvik_link.h"
#include "norviklinkjsoninterface.h"
#include "notificationstorageelement.h"
#include "notificationstoreage.h"
#include "operationgate.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
const QString touchModeTag = QStringLiteral("touch_mode");

QJsonObject bodyObject(const tessiro::HttpRequest& request)
{
    return JsonText::parse(request.getBody()).object();
}

void addInvalid(QByteArray& error, const QByteArray& kind, const QByteArray& name)
{
    error += (error.isEmpty() ? kind : QByteArray(",")) + name;
}
} // namespace

bool getValue(const QJsonObject& object, const QString& key, int& value)
{
    const QJsonValue member = object.value(key);
    if (member.isString())
        value = member.toString().toInt(nullptr, 10);
    else if (member.isDouble())
        value = static_cast<int>(member.toDouble());
    else if (member.isBool())
        value = member.toBool() ? 1 : 0;
    else
        return false;
    return true;
}

bool getValue(const QJsonObject& object, const QString& key, double& value)
{
    const QJsonValue member = object.value(key);
    if (member.isString())
        value = member.toString().toDouble();
    else if (member.isDouble())
        value = member.toDouble();
    else if (member.isBool())
        value = member.toBool() ? 1 : 0;
    else
        return false;
    return true;
}

bool getValue(const QJsonObject& object, const QString& key, QString& value)
{
    const QJsonValue member = object.value(key);
    if (member.isString())
        value = member.toString();
    else if (member.isDouble())
        value = QString::number(member.toDouble());
    else if (member.isBool())
        value = member.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    else
        return false;
    return true;
}

int getInt(const QJsonObject& object, const QString& key, int defaultValue)
{
    getValue(object, key, defaultValue);
    return defaultValue;
}

double getDouble(const QJsonObject& object, const QString& key, double defaultValue)
{
    getValue(object, key, defaultValue);
    return defaultValue;
}

QString getString(const QJsonObject& object, const QString& key, const QString& defaultValue)
{
    QString value = defaultValue;
    getValue(object, key, value);
    return value;
}

QJsonObject JsonAlarm(const NotificationStorageElement* element)
{
    return { { QStringLiteral("id"), int(element->getId()) },
             { QStringLiteral("when"),
               element->getDateTime().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) },
             { QStringLiteral("severity"), int(element->getSeverity()) },
             { QStringLiteral("reference"), element->getReference() },
             { QStringLiteral("msg"), element->getMessage() },
             { QStringLiteral("acked"), element->getAcked() },
             { QStringLiteral("popup"), element->getPopup() } };
}

RestController::RestController(NorvikLink* link, MainThreadCall* facadeCall, QObject* parent)
    : tessiro::HttpRequestHandler(parent)
    , m_norvikLink(link)
    , m_facadeCall(facadeCall)
{
}

void RestController::service(tessiro::HttpRequest& request, tessiro::HttpResponse& response)
{
    QJsonObject result;
    QByteArray error;
    // The handler thread waits meanwhile, so the request is not touched twice at once.
    if (!m_facadeCall->run([&] { error = dispatch(request, result); })) {
        response.setStatus(503, "Service Unavailable");
        return;
    }
    response.setStatus(error.isEmpty() ? 200 : 403, error);
    response.setHeader("Content-Type", "application/json");
    response.setHeader("Access-Control-Allow-Origin", "*");
    // Not the last part: the server ends the response, chunked on a keep-alive
    // connection and delimited by the close otherwise.
    if (!result.isEmpty()) {
        const QJsonObject body { { QStringLiteral("payload"), result } };
        response.write(QJsonDocument(body).toJson(QJsonDocument::Compact), false);
    }
}

QByteArray RestController::dispatch(const tessiro::HttpRequest& request, QJsonObject& result)
{
    const QByteArray method = request.getMethod();
    const QByteArray path = request.getPath();
    if (method == "GET")
        return getRequest(path, request, result);
    if (method == "PUT")
        return putRequest(path, request);
    if (method == "POST")
        return postRequest(path, request);
    return QByteArray();
}

QByteArray RestController::getRequest(const QByteArray& path, const tessiro::HttpRequest& request,
                                      QJsonObject& result)
{
    if (path.endsWith("/tags")) {
        const TagDatabase* tags = m_norvikLink->getTags();
        for (qint32 i = 0; i < tags->size(); ++i) {
            const Tag* tag = tags->at(i);
            result.insert(tag->getTag(), NorvikLinkJsonInterface::tagValue(tag));
        }
        return QByteArray();
    }
    if (path.endsWith("/tags/"))
        return listTags(request.getParameter("id"), result);
    if (path.endsWith("/alarms"))
        return listAlarms(QByteArray(), true, result);
    if (path.endsWith("/alarms/"))
        return listAlarms(request.getParameter("id"), false, result);
    return QByteArrayLiteral("Invalid request");
}

QByteArray RestController::listTags(const QByteArray& ids, QJsonObject& result)
{
    QByteArray error;
    const TagDatabase* tags = m_norvikLink->getTags();
    for (const QByteArray& name : ids.split(',')) {
        if (name.isEmpty())
            continue;
        if (const Tag* tag = tags->get(QString::fromUtf8(name)))
            result.insert(tag->getTag(), NorvikLinkJsonInterface::tagValue(tag));
        else
            addInvalid(error, "Invalid tag: ", name);
    }
    return error;
}

QByteArray RestController::listAlarms(const QByteArray& severities, bool all, QJsonObject& result)
{
    static const QList<QByteArray> names = { "info", "warning", "alarm" };
    const QList<QObject*> history = m_norvikLink->getNotificationStore()->getNotificationsQML();
    // Every entry, or those of one severity (-1 for every one).
    auto append = [&history](QJsonArray& alarms, int severity) {
        for (QObject* entry : history) {
            const auto* element = qobject_cast<NotificationStorageElement*>(entry);
            if (element && (severity < 0 || int(element->getSeverity()) == severity))
                alarms.append(JsonAlarm(element));
        }
    };
    QJsonArray alarms;
    QByteArray error;
    if (all)
        append(alarms, -1);
    else
        for (const QByteArray& name : severities.split(',')) {
            const int severity = names.indexOf(name);
            if (severity < 0)
                addInvalid(error, "Invalid severity: ", name);
            else
                append(alarms, severity);
        }
    result.insert(QStringLiteral("alarms"), alarms);
    return error;
}

QByteArray RestController::putRequest(const QByteArray& path, const tessiro::HttpRequest& request)
{
    if (!path.endsWith("/tags"))
        return QByteArrayLiteral("Invalid request");
    const QJsonObject body = bodyObject(request);
    QByteArray error;
    for (const QByteArray& name : request.getParameter("id").split(',')) {
        const QString tagName = QString::fromUtf8(name);
        int mode = 0;
        if (tagName == touchModeTag && m_norvikLink->getTags()->get(tagName)
            && getValue(body, tagName, mode))
            m_norvikLink->setTouchMode(mode);
        else
            addInvalid(error, "Invalid tag: ", name);
    }
    return error;
}

QByteArray RestController::postRequest(const QByteArray& path, const tessiro::HttpRequest& request)
{
    const char* operation = path.endsWith("/arm") ? "arm"
        : path.endsWith("/disarm")                ? "disarm"
        : path.endsWith("/closeapp")              ? "closeapp"
                                                  : nullptr;
    if (operation && !OperationGate::admit(operation))
        return QByteArrayLiteral("Too many requests");
    if (path.endsWith("/arm")) {
        m_norvikLink->arm();
    } else if (path.endsWith("/disarm")) {
        m_norvikLink->disarm();
    } else if (path.endsWith("/closeapp")) {
        m_norvikLink->closeApp();
    } else if (path.endsWith("/acknotify")) {
        const int reference = getInt(bodyObject(request), QStringLiteral("reference"), 0);
        if (reference <= 0)
            return QByteArrayLiteral("Invalid reference");
        m_norvikLink->ackNotificationSlot(reference);
    } else if (path.endsWith("/sendcmd")) {
        const QString cmd = getString(bodyObject(request), QStringLiteral("cmd"), QString());
        if (cmd.isEmpty())
            return QByteArrayLiteral("No cmd");
        m_norvikLink->sendCmd(cmd);
    } else {
        return QByteArrayLiteral("Invalid request");
    }
    return QByteArray();
}
