#include "norviklinkjsoninterface.h"

#include "backlighthandler.h"
#include "jsontext.h"
#include "norvik_link.h"
#include "operationgate.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QTimer>

#include <atomic>

namespace {
// Text of a Qt warning taken as it is: the messages end in a separator that
// the stream operators would trim.
void warn(const QString& text)
{
    qWarning("%s", qUtf8Printable(text));
}

} // namespace

QJsonValue NorvikLinkJsonInterface::tagValue(const Tag* tag)
{
    if (tag->getDataType() == TDBT_RAW)
        return QString::fromLatin1(tag->getRawData().toBase64());
    const QVariant value = tag->getValue();
    switch (int(value.userType())) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QString:
        return value.toString();
    default:
        return QJsonValue::fromVariant(value);
    }
}

NorvikLinkJsonInterface::NorvikLinkJsonInterface(NorvikLink* link, unsigned int interval,
                                                 QObject* parent)
    : QObject(parent)
    , m_norvikLink(link)
{
    if (m_norvikLink) {
        connect(m_norvikLink, &NorvikLink::newNotification, this,
                &NorvikLinkJsonInterface::recvNotification);
        connect(m_norvikLink, &NorvikLink::newPopupNotification, this,
                &NorvikLinkJsonInterface::recvPopupNotification);
        connect(m_norvikLink, &NorvikLink::recvCmd, this, &NorvikLinkJsonInterface::recvCmd);
    }
    m_periodicTimer = new QTimer(this);
    m_periodicTimer->setInterval(int(qMin<unsigned int>(interval, INT_MAX)));
    connect(m_periodicTimer, &QTimer::timeout, this,
            &NorvikLinkJsonInterface::periodicTimerTimeout);
    m_periodicTimer->start();
}

NorvikLinkJsonInterface::~NorvikLinkJsonInterface()
{
    m_periodicTimer->stop();
    if (m_norvikLink)
        disconnect(m_norvikLink, nullptr, this, nullptr);
    delete m_periodicTimer;
    m_periodicTimer = nullptr;
}

bool NorvikLinkJsonInterface::addPeriodicData(QString tagName, bool trigger)
{
    TagDatabase* tags = m_norvikLink ? m_norvikLink->getTags() : nullptr;
    Tag* tag = tags ? tags->get(tagName) : nullptr;
    if (!tag) {
        qWarning().noquote() << "NorvikLinkJsonHandler: Unknown periodic tag" << tagName;
        return false;
    }
    // The tag database may drop its tags while we run; a deleted tag leaves the payload.
    if (!m_periodicTags.contains(tag))
        connect(tag, &QObject::destroyed, this, [this, tag] { m_periodicTags.removeAll(tag); });
    m_periodicTags.append(tag);
    if (trigger)
        connect(tag, &Tag::valueUpdated, this, &NorvikLinkJsonInterface::sendProcessData,
                Qt::UniqueConnection);
    return true;
}

void NorvikLinkJsonInterface::processMessage(const QString& message)
{
    const QByteArray text = message.toUtf8();
    QJsonParseError error;
    const QJsonDocument document = JsonText::parse(text, &error);
    if (error.error != QJsonParseError::NoError)
        return;
    const QJsonObject msg = document.object();
    if (msg.isEmpty()) {
        warn(QStringLiteral("Failed to parse JSON object - msg.isEmpty"));
        return;
    }
    const QString msgtype = msg.value(QLatin1String("msgtype")).toString();
    if (msgtype != QLatin1String("event")) {
        warn(QStringLiteral("Failed to parse event JSON object - msgtype - ") + msgtype);
        return;
    }
    const QJsonValue event = msg.value(QLatin1String("event"));
    if (!event.isObject()) {
        warn(QStringLiteral("Failed to parse event JSON object - unknown object"));
        return;
    }
    processEvent(event.toObject());
}

void NorvikLinkJsonInterface::processEvent(const QJsonObject& event)
{
    if (!m_norvikLink)
        return;
    const QString name = event.value(QLatin1String("eventName")).toString();
    for (const char* operation : { "arm", "disarm", "closeapp" }) {
        if (name == QLatin1String(operation) && !OperationGate::admit(operation))
            return;
    }
    if (name == QLatin1String("arm")) {
        m_norvikLink->arm();
    } else if (name == QLatin1String("disarm")) {
        m_norvikLink->disarm();
    } else if (name == QLatin1String("settag")) {
        setTag(event.value(QLatin1String("name")).toString(),
               event.value(QLatin1String("value")).toString());
    } else if (name == QLatin1String("acknotification")) {
        m_norvikLink->ackNotificationSlot(
            event.value(QLatin1String("notificationAckRef")).toInt(0));
    } else if (name == QLatin1String("closeapp")) {
        m_norvikLink->closeApp();
    } else {
        // The event member is an object here, so its text is always empty.
        warn(QStringLiteral("Failed to parse event JSON object - unknown event - ")
             + QJsonValue(event).toString());
    }
}

void NorvikLinkJsonInterface::setTag(const QString& name, const QString& value)
{
    if (name == QLatin1String("touch_mode")) {
        m_norvikLink->setTouchMode(value.toInt(nullptr, 10));
    } else if (name == QLatin1String("backlightIntensity")) {
        if (BacklightHandler* backlight = m_norvikLink->getBacklightHandler())
            backlight->setBacklightIntesity(QVariant(value.toDouble()));
    } else if (name.size() == 4 && name.startsWith(QLatin1String("led"))) {
        // LEDs 1 to 8 only; any other fourth character names no LED.
        const QChar led = name.at(3);
        if (led >= QLatin1Char('1') && led <= QLatin1Char('8'))
            m_norvikLink->setLedValue(led.unicode() - '0', value.toInt());
    }
}

void NorvikLinkJsonInterface::sendProcessData()
{
    // One sequence for every instance in the process; it wraps from 255 to 0.
    static std::atomic<quint8> counter { 0 };

    // Any send, a triggered one too, postpones the next periodic message.
    m_periodicTimer->start();

    QJsonObject msg;
    msg.insert(QLatin1String("msgtype"), QStringLiteral("processdata"));
    msg.insert(QLatin1String("counter"), int(quint8(counter.fetch_add(1) + 1)));

    QString trigger = QStringLiteral("?");
    QObject* origin = sender();
    if (origin && origin == m_periodicTimer)
        trigger = QStringLiteral("periodicupdate");
    else if (const Tag* tag = qobject_cast<const Tag*>(origin))
        trigger = tag->getTag();
    msg.insert(QLatin1String("trigger"), trigger);

    QJsonObject payload;
    for (const Tag* tag : qAsConst(m_periodicTags))
        payload.insert(tag->getTag(), tagValue(tag));
    msg.insert(QLatin1String("payload"), payload);
    sendMsg(msg);
}

void NorvikLinkJsonInterface::sendMsg(const QJsonObject& object)
{
    QString text = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    const int nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    emit sendMessage(text);
}

void NorvikLinkJsonInterface::sendNotification(QString message, NOTIFICATION_ID_T id, int reference,
                                               quint8 severity, bool popup)
{
    QJsonObject notification;
    notification.insert(QLatin1String("id"), int(id));
    notification.insert(QLatin1String("message"), message);
    notification.insert(QLatin1String("popup"), popup);
    notification.insert(QLatin1String("reference"), reference);
    notification.insert(QLatin1String("severity"), int(severity));
    QJsonObject msg;
    msg.insert(QLatin1String("msgtype"), QStringLiteral("event"));
    msg.insert(QLatin1String("notification"), notification);
    sendMsg(msg);
}

void NorvikLinkJsonInterface::sendCmd(QString cmd)
{
    QJsonObject recv;
    recv.insert(QLatin1String("cmd"), cmd);
    QJsonObject msg;
    msg.insert(QLatin1String("msgtype"), QStringLiteral("event"));
    msg.insert(QLatin1String("recvcmd"), recv);
    sendMsg(msg);
}

void NorvikLinkJsonInterface::recvNotification(QString message, NOTIFICATION_ID_T id, int reference,
                                               quint8 severity)
{
    sendNotification(message, id, reference, severity, false);
}

void NorvikLinkJsonInterface::recvPopupNotification(QString message, NOTIFICATION_ID_T id,
                                                    int reference, quint8 severity)
{
    sendNotification(message, id, reference, severity, true);
}

void NorvikLinkJsonInterface::recvCmd(QString cmd)
{
    sendCmd(cmd);
}

void NorvikLinkJsonInterface::periodicTimerTimeout()
{
    sendProcessData();
}
