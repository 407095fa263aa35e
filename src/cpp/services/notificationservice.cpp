#include "notificationservice.h"

#include "popuphandler.h"
#include "tsan.h"

#include <QThread>
#include <QtQml/qqml.h>

namespace {
constexpr quint8 popupTarget = 2;
constexpr int withdrawalSize = 3; // id, reference
constexpr int notificationHeaderSize = 8; // id, reference, notification id, target, severity, ack
constexpr int longSignalOffset = 100;
constexpr unsigned long popupThreadStopMs = 500;

quint16 readLe16(const QByteArray& data, int offset)
{
    return quint16(quint8(data.at(offset)) | quint8(data.at(offset + 1)) << 8);
}

void registerTypes()
{
    qRegisterMetaType<NOTIFICATION_MSG_T>("NOTIFICATION_MSG_T");
    qRegisterMetaType<NOTIFICATION_ID_T>("NOTIFICATION_ID_T");
    qRegisterMetaType<NorvikLinkDefines::NotificationSeverity>("NotificationSeverity");
    qRegisterMetaType<NorvikLinkDefines::NotificationSeverity>(
        "NorvikLinkDefines::NotificationSeverity");
    qmlRegisterType<NotificationService>("NotificationService", 1, 0, "NotificationService");
}
} // namespace

NotificationService::NotificationService(QObject* parent)
    : ServiceBase(SERV_ID_NOTIFICATION, parent)
    , popupHandlerThread(nullptr)
    , popupHandler(nullptr)
    , pendingPopups(new QMap<int, NOTIFICATION_MSG_T>)
{
    // Once per process, whichever thread creates the first service.
    static const bool registered = (registerTypes(), true);
    Q_UNUSED(registered)

    popupHandler = new PopupHandler;
    popupHandlerThread = new QThread;
    popupHandler->moveToThread(popupHandlerThread);
    popupHandlerThread->start(QThread::InheritPriority);

    connect(this, SIGNAL(startPopupHandler()), popupHandler, SLOT(handler()));
    // The handler's loop blocks its thread's event loop, so what must reach
    // it while it waits is called directly; both slots are thread-safe.
    connect(this, SIGNAL(handlePopupNotificaiton(NOTIFICATION_MSG_T)), popupHandler,
            SLOT(addMsg(NOTIFICATION_MSG_T)), Qt::DirectConnection);
    connect(this, SIGNAL(popupAckSent(quint16)), popupHandler, SLOT(popupIsAcked(quint16)),
            Qt::DirectConnection);
    connect(popupHandler, SIGNAL(emitNotificationNew(NOTIFICATION_MSG_T)), this,
            SLOT(emitPopupNotification(NOTIFICATION_MSG_T)));

    emit startPopupHandler();
}

NotificationService::~NotificationService()
{
    popupHandler->stop();
    popupHandlerThread->quit();
    if (popupHandlerThread->wait(popupThreadStopMs)) {
        // The thread has ended, so its handler is ours to delete here; the
        // semaphores must outlive every wait on them.
        NORVIK_TSAN_ACQUIRE(popupHandler);
        delete popupHandler;
        delete popupHandlerThread;
    } else {
        // Left alone: the handler and its semaphores must stay valid for it.
        qWarning("NotificationService: popup handler thread did not stop within %lu ms",
                 popupThreadStopMs);
    }
    delete pendingPopups;
}

void NotificationService::readData(const QByteArray& data, Link fromLink, quint8 messageClass)
{
    if (messageClass == MSG_CLASS_ACK)
        return;
    if (messageClass == MSG_CLASS_SERVICE_ACK)
        emit readyReadFromService(QByteArray(), fromLink, serviceId, MSG_CLASS_ACK);

    NOTIFICATION_MSG_T msg;
    if (!parseNotifcationData(data, &msg))
        return;

    if (msg.messageId == MESSAGE_ID_RESET) {
        emit resetNotification(msg.reference);
        return;
    }
    if (msg.target == popupTarget) {
        pendingPopups->insert(msg.reference, msg);
        emit popupNotificationNew(msg.message, msg.notificationId, msg.reference, msg.severity);
    } else {
        emit notificationNew(msg.message, msg.notificationId, msg.reference, msg.severity);
    }
}

bool NotificationService::parseNotifcationData(const QByteArray& data, NOTIFICATION_MSG_T* msg)
{
    if (data.isEmpty()) {
        qWarning("NotificationService: empty payload dropped");
        return false;
    }
    msg->messageId = MESSAGE_ID_T(quint8(data.at(0)));
    const bool withdrawal = msg->messageId == MESSAGE_ID_RESET;
    const int needed = withdrawal ? withdrawalSize : notificationHeaderSize;
    if (data.size() < needed) {
        qWarning("NotificationService: %s of %d bytes is shorter than %d bytes, dropped",
                 withdrawal ? "withdrawal" : "notification", int(data.size()), needed);
        return false;
    }
    msg->reference = readLe16(data, 1);
    if (withdrawal)
        return true;

    msg->notificationId = NOTIFICATION_ID_T(readLe16(data, 3));
    msg->target = quint8(data.at(5));
    switch (quint8(data.at(6))) {
    case NorvikLinkDefines::WARNING:
        msg->severity = NorvikLinkDefines::WARNING;
        break;
    case NorvikLinkDefines::ALARM:
        msg->severity = NorvikLinkDefines::ALARM;
        break;
    default:
        msg->severity = NorvikLinkDefines::INFO;
        break;
    }
    msg->acknowledge = quint8(data.at(7));
    // The text ends at the first zero byte, or with the payload.
    const int end = data.indexOf('\0', notificationHeaderSize);
    const int length = (end < 0 ? data.size() : end) - notificationHeaderSize;
    msg->message = QString::fromUtf8(data.constData() + notificationHeaderSize, length);
    return true;
}

void NotificationService::acknowledge(int reference)
{
    QByteArray payload;
    payload.append(char(MSG_ID_ACKNOWLEDGE));
    payload.append(char(reference & 0xFF));
    payload.append(char((reference >> 8) & 0xFF));
    pendingPopups->remove(reference);
    emit readyReadFromService(payload, Internal, serviceId, MSG_CLASS_TRANSP_ACK);
}

void NotificationService::vibrate(int numOfVibrations, int whichMotor, bool longSignal)
{
    const char count = char(quint8(numOfVibrations + (longSignal ? longSignalOffset : 0)));
    QByteArray payload(1, char(MSG_ID_AUDILBE));
    switch (whichMotor) {
    case NorvikLinkDefines::VIBRATE_LEFT:
        payload.append(count).append('\0').append('\0');
        break;
    case NorvikLinkDefines::VIBRATE_RIGHT:
        payload.append('\0').append(count).append('\0');
        break;
    case NorvikLinkDefines::VIBRATE_BOTH:
        payload.append(count).append(count).append('\0');
        break;
    default:
        break; // the internal processor gets the bare message id
    }
    emit readyReadFromService(payload, Internal, serviceId, MSG_CLASS_TRANSP_ACK);
}

void NotificationService::buzzer(int numOfBuzzes, bool longSignal)
{
    QByteArray payload(3, '\0');
    payload[0] = char(MSG_ID_AUDILBE);
    payload.append(char(quint8(numOfBuzzes + (longSignal ? longSignalOffset : 0))));
    emit readyReadFromService(payload, Internal, serviceId, MSG_CLASS_TRANSP_ACK);
}

void NotificationService::emitPopupNotification(const NOTIFICATION_MSG_T& msg)
{
    // Queued from the handler's thread; the copy in the event is now ours.
    NORVIK_TSAN_ACQUIRE(popupHandler);
    emit popupNotificationNew(msg.message, msg.notificationId, msg.reference, msg.severity);
}
