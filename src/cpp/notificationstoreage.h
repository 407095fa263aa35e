#ifndef NOTIFICATIONSTOREAGE_H
#define NOTIFICATIONSTOREAGE_H

#include "norvik_link_defines.h"
#include "notificationstorageelement.h"

#include <QList>
#include <QObject>
#include <QSqlError>
#include <QString>

// The history of notifications shown on the remote: newest first in memory,
// kept in SQLite across restarts. The newest 79 entries survive a restart;
// older rows are trimmed when the history is loaded.
class NotificationStorage : public QObject
{
    Q_OBJECT
    Q_PROPERTY(quint32 count READ getCount NOTIFY countChanged)

public:
    explicit NotificationStorage(QObject* parent = nullptr);

    Q_INVOKABLE void insert(QString message, NOTIFICATION_ID_T id, bool popup, int reference,
                            NorvikLinkDefines::NotificationSeverity severity);
    // Removes the newest entry with this reference, from memory and database.
    Q_INVOKABLE void remove(int reference);
    // Acknowledges every entry with this reference; memory only.
    Q_INVOKABLE void markAsAcked(int reference);
    Q_INVOKABLE QList<QObject*> getNotificationsQML() const;

    quint32 getCount() const { return count; }
    void setCount(const quint32& value);

public slots:
    void notificationResetSlot(int ref);

signals:
    void newNotification(NotificationStorageElement* notification);
    void countChanged(quint32 count);

private:
    QSqlError loadDb(const QString& path);
    void addToDb(NotificationStorageElement* element);

    QList<QObject*> notifications;
    QString dbLocation;
    quint32 count = 0;
};

#endif
