#include "notificationstoreage.h"

#include "platformpaths.h"

#include <QDebug>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace {
const QString kDataDir = QStringLiteral("/var/lib/norviklinklibdata");
const QString kConnection = QStringLiteral("notification.db");
// Rows loaded at start-up; the rest is trimmed from the table.
constexpr int kRetainedRows = 79;

NorvikLinkDefines::NotificationSeverity severityFromDb(int value)
{
    switch (value) {
    case NorvikLinkDefines::INFO:
    case NorvikLinkDefines::WARNING:
    case NorvikLinkDefines::ALARM:
        return NorvikLinkDefines::NotificationSeverity(value);
    }
    qWarning("NotificationStorage: unknown severity %d in notification db, taken as alarm", value);
    return NorvikLinkDefines::ALARM;
}
} // namespace

NotificationStorage::NotificationStorage(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<NotificationStorageElement*>("NotificationStorageElement");
    setCount(0);
    dbLocation = PlatformPaths::systemPath(kDataDir) + QLatin1Char('/') + kConnection;
    loadDb(dbLocation);
}

void NotificationStorage::setCount(const quint32& value)
{
    count = value;
    emit countChanged(count);
}

QList<QObject*> NotificationStorage::getNotificationsQML() const
{
    return notifications;
}

QSqlError NotificationStorage::loadDb(const QString& path)
{
    const QString dir = PlatformPaths::systemPath(kDataDir);
    if (!QDir(dir).exists()) {
        if (QDir().mkpath(dir))
            qInfo().noquote() << "Created notification database directory:" << dir;
        else
            qWarning().noquote().nospace()
                << "Failed to create notification database directory: " << dir;
    }

    // One storage per process; a second one takes the connection over.
    if (QSqlDatabase::contains(kConnection))
        QSqlDatabase::removeDatabase(kConnection);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(path);
    if (!db.open()) {
        qWarning().noquote().nospace() << "Failed to open notification database at: " << path;
        return db.lastError();
    }

    if (!db.tables().contains(QStringLiteral("notifications"))) {
        QSqlError error;
        {
            QSqlQuery create(db);
            if (!create.exec(QStringLiteral(
                    "create table notifications( message TEXT, popup INTEGER, acked INTEGER, "
                    "notificationid INTEGER, severity INTEGER, datetime TEXT )"))) {
                error = create.lastError();
                qWarning().noquote() << "Failed to create the notification table:" << error.text();
            }
        }
        db.commit();
        db.close();
        return error;
    }

    bool tableFull = false;
    qint64 oldestKept = 0;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(
                QStringLiteral("select _rowid_, * from notifications order by datetime desc"))) {
            qWarning().noquote() << "Failed to read notification db:" << query.lastError().text();
            db.close();
            return query.lastError();
        }
        while (query.next()) {
            if (notifications.size() == kRetainedRows) {
                tableFull = true;
                break;
            }
            // Under whichever name SQLite reports _rowid_, it is the first column.
            auto* element = new NotificationStorageElement(this);
            element->setDbRowId(quint32(query.value(0).toLongLong()));
            element->setMessage(query.value(QStringLiteral("message")).toString());
            element->setPopup(query.value(QStringLiteral("popup")).toInt() != 0);
            element->setAcked(query.value(QStringLiteral("acked")).toInt() != 0);
            element->setId(
                NOTIFICATION_ID_T(query.value(QStringLiteral("notificationid")).toUInt()));
            element->setSeverity(severityFromDb(query.value(QStringLiteral("severity")).toInt()));
            oldestKept = query.value(QStringLiteral("datetime")).toLongLong();
            element->setDateTime(QDateTime::fromSecsSinceEpoch(qint32(oldestKept)));
            element->setReference(-1);
            notifications.append(element);
        }
    }
    setCount(quint32(notifications.size()));

    if (tableFull) {
        // Rows sharing the time of the oldest kept entry survive.
        QSqlQuery trim(db);
        if (!trim.exec(QStringLiteral("delete from notifications where datetime < ")
                       + QString::number(oldestKept)))
            qWarning("Failed to delete rows in notification db");
    }
    db.close();
    return QSqlError();
}

void NotificationStorage::insert(QString message, NOTIFICATION_ID_T id, bool popup, int reference,
                                 NorvikLinkDefines::NotificationSeverity severity)
{
    auto* element = new NotificationStorageElement(this);
    element->setMessage(message);
    element->setPopup(popup);
    element->setId(id);
    element->setSeverity(severity);
    element->setReference(reference);
    element->setAcked(false);
    element->setDbRowId(0);
    element->setDateTime(QDateTime::currentDateTime());

    notifications.prepend(element);
    setCount(quint32(notifications.size()));
    addToDb(element);
    emit newNotification(element);
}

void NotificationStorage::addToDb(NotificationStorageElement* element)
{
    QSqlDatabase db = QSqlDatabase::database(kConnection, false);
    if (!db.isValid() || !db.open()) {
        qWarning().noquote().nospace() << "Failed to open notification database at: " << dbLocation;
        return;
    }
    {
        QSqlQuery query(db);
        query.prepare(QStringLiteral(
            "insert into notifications( message, popup, acked, notificationid, severity, "
            "datetime )values (:message, :popup, :acked, :notificationid, :severity, :datetime)"));
        query.bindValue(QStringLiteral(":message"), element->getMessage());
        query.bindValue(QStringLiteral(":popup"), int(element->getPopup()));
        query.bindValue(QStringLiteral(":acked"), int(element->getAcked()));
        query.bindValue(QStringLiteral(":notificationid"), int(element->getId()));
        query.bindValue(QStringLiteral(":severity"), int(element->getSeverity()));
        query.bindValue(QStringLiteral(":datetime"),
                        qint64(element->getDateTime().toSecsSinceEpoch()));
        if (!query.exec()) {
            // No row was added, so last_insert_rowid() would name some other row.
            qWarning().noquote() << "Failed to write notification to db:"
                                 << query.lastError().text();
        } else {
            QSqlQuery rowId(db);
            if (rowId.exec(QStringLiteral("select last_insert_rowid()")) && rowId.next())
                element->setDbRowId(quint32(rowId.value(0).toLongLong()));
        }
    }
    db.commit();
    db.close();
}

void NotificationStorage::remove(int reference)
{
    QSqlDatabase db = QSqlDatabase::database(kConnection, false);
    const bool open = db.isValid() && db.open();
    if (!open)
        qWarning().noquote().nospace() << "Failed to open notification database at: " << dbLocation;

    for (int i = 0; i < notifications.size(); ++i) {
        auto* element = static_cast<NotificationStorageElement*>(notifications.at(i));
        if (element->getReference() != reference)
            continue;
        notifications.removeAt(i);
        setCount(quint32(notifications.size()));
        if (open && element->getDbRowId() != 0) {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("delete from notifications where rowid=")
                            + QString::number(element->getDbRowId())))
                qWarning().noquote()
                    << "Failed to delete notification from db:" << query.lastError().text();
        }
        // The interface may still hold the pointer until it has redrawn its list.
        element->deleteLater();
        break;
    }
    if (open)
        db.close();
}

void NotificationStorage::markAsAcked(int reference)
{
    for (QObject* object : qAsConst(notifications)) {
        auto* element = static_cast<NotificationStorageElement*>(object);
        if (element->getReference() == reference)
            element->setAcked(true);
    }
}

void NotificationStorage::notificationResetSlot(int ref)
{
    remove(ref);
}
