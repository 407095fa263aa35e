#ifndef NOTIFICATIONSTORAGEELEMENT_H
#define NOTIFICATIONSTORAGEELEMENT_H

#include "norvik_link_defines.h"

#include <QDateTime>
#include <QObject>
#include <QString>

// One entry of the notification history as the interface shows it.
class NotificationStorageElement : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString message READ getMessage WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(bool acked READ getAcked WRITE setAcked NOTIFY ackedChanged)
    Q_PROPERTY(QDateTime dateTime READ getDateTime WRITE setDateTime NOTIFY dateTimeChanged)
    Q_PROPERTY(NorvikLinkDefines::NotificationSeverity severity READ getSeverity WRITE setSeverity
                   NOTIFY severityChanged)
    Q_PROPERTY(int reference READ getReference WRITE setReference NOTIFY referenceChanged)
    Q_PROPERTY(quint64 dbRowId READ getDbRowId WRITE setDbRowId NOTIFY dbRowIdChanged)

public:
    explicit NotificationStorageElement(QObject* parent = nullptr);

    QString getMessage() const { return message; }
    bool getPopup() const { return popup; }
    bool getAcked() const { return acked; }
    NOTIFICATION_ID_T getId() const { return id; }
    QDateTime getDateTime() const { return dateTime; }
    NorvikLinkDefines::NotificationSeverity getSeverity() const { return severity; }
    int getReference() const { return reference; }
    quint64 getDbRowId() const { return dbRowId; }

    // The interface never changes these four after creation: no signal.
    void setMessage(const QString& value);
    void setPopup(bool value);
    void setAcked(bool value);
    void setId(NOTIFICATION_ID_T value);

    void setDateTime(const QDateTime& value);
    void setSeverity(NorvikLinkDefines::NotificationSeverity value);
    void setReference(int value);
    void setDbRowId(quint64 value);

signals:
    void messageChanged();
    void ackedChanged();
    void dateTimeChanged();
    void severityChanged();
    void referenceChanged();
    void dbRowIdChanged();

private:
    QString message;
    bool popup = false;
    bool acked = false;
    NOTIFICATION_ID_T id = NTFY_ID_GENERIC;
    QDateTime dateTime;
    NorvikLinkDefines::NotificationSeverity severity = NorvikLinkDefines::INFO;
    int reference = -1;
    quint64 dbRowId = 0; // 0: not in the database
};

#endif
