#ifndef NORVIKLINKJSONINTERFACE_H
#define NORVIKLINKJSONINTERFACE_H

#include "norvik_link_defines.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class NorvikLink;
class QTimer;
class Tag;

// The message layer of the JSON interface that network clients use, shared by
// the UDP and the WebSocket transports (each owns one). Incoming text becomes
// calls on the facade; the facade's notifications and received commands, and a
// periodic snapshot of the chosen tags, become compact JSON text with sorted
// keys, handed to the transport through sendMessage(). It knows no sockets.
//
// The process-data counter is one for the whole process: every instance draws
// its values from the same 8-bit sequence.
class NorvikLinkJsonInterface : public QObject
{
    Q_OBJECT

public:
    NorvikLinkJsonInterface(NorvikLink* link, unsigned int interval, QObject* parent);
    ~NorvikLinkJsonInterface() override;

    // Adds a tag to every process-data message; with trigger, each update of
    // the tag also sends one at once. False (and a warning) for an unknown tag.
    bool addPeriodicData(QString tagName, bool trigger);

    void sendMsg(const QJsonObject& object);
    void sendNotification(QString message, NOTIFICATION_ID_T id, int reference, quint8 severity,
                          bool popup);
    void sendCmd(QString cmd);

signals:
    void sendMessage(const QString& message);

public slots:
    void processMessage(const QString& message);
    void sendProcessData();
    void recvNotification(QString message, NOTIFICATION_ID_T id, int reference, quint8 severity);
    void recvPopupNotification(QString message, NOTIFICATION_ID_T id, int reference,
                               quint8 severity);
    void recvCmd(QString cmd);
    void periodicTimerTimeout();

private:
    void processEvent(const QJsonObject& event);
    void setTag(const QString& name, const QString& value);

    NorvikLink* m_norvikLink = nullptr;
    QList<Tag*> m_periodicTags;
    QTimer* m_periodicTimer = nullptr;
};

#endif
