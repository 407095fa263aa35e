#ifndef NOTIFICATIONSERVICE_H
#define NOTIFICATIONSERVICE_H

#include "norvik_link_defines.h"
#include "service_base.h"

#include <QMap>

class PopupHandler;
class QThread;

// Service 3: notifications and popups raised by the internal processor, the
// operator's acknowledgements, and the vibration motors and buzzer.
class NotificationService : public ServiceBase
{
    Q_OBJECT

public:
    // First payload byte: the kind of message.
    enum notificationServiceId {
        MSG_ID_MESSAGE = 0,
        MSG_ID_RESET = 1,
        MSG_ID_ACKNOWLEDGE = 2,
        MSG_ID_AUDILBE = 3
    };

    explicit NotificationService(QObject* parent = nullptr);
    ~NotificationService() override;

    void readData(const QByteArray& data, Link fromLink, quint8 messageClass) override;

    // A popup announced and not yet acknowledged.
    bool isPopupPending(int reference) const { return pendingPopups->contains(reference); }

signals:
    void notificationNew(QString message, NOTIFICATION_ID_T id, int reference,
                         NorvikLinkDefines::NotificationSeverity severity);
    void popupNotificationNew(QString message, NOTIFICATION_ID_T id, int reference,
                              NorvikLinkDefines::NotificationSeverity severity);
    void resetNotification(int ref);
    void handlePopupNotificaiton(NOTIFICATION_MSG_T notification);
    void popupAckSent(quint16 reference);
    void startPopupHandler();

public slots:
    void acknowledge(int reference);
    void vibrate(int numOfVibrations, int whichMotor, bool longSignal);
    void buzzer(int numOfBuzzes, bool longSignal);
    void emitPopupNotification(const NOTIFICATION_MSG_T& msg);

private:
    bool parseNotifcationData(const QByteArray& data, NOTIFICATION_MSG_T* msg);

    QThread* popupHandlerThread;
    PopupHandler* popupHandler;
    QMap<int, NOTIFICATION_MSG_T>* pendingPopups;
};

#endif
