#include "notificationstorageelement.h"

NotificationStorageElement::NotificationStorageElement(QObject* parent)
    : QObject(parent)
{
}

void NotificationStorageElement::setMessage(const QString& value)
{
    message = value;
}

void NotificationStorageElement::setPopup(bool value)
{
    popup = value;
}

void NotificationStorageElement::setAcked(bool value)
{
    acked = value;
}

void NotificationStorageElement::setId(NOTIFICATION_ID_T value)
{
    id = value;
}

void NotificationStorageElement::setDateTime(const QDateTime& value)
{
    dateTime = value;
    emit dateTimeChanged();
}

void NotificationStorageElement::setSeverity(NorvikLinkDefines::NotificationSeverity value)
{
    severity = value;
    emit severityChanged();
}

void NotificationStorageElement::setReference(int value)
{
    reference = value;
    emit referenceChanged();
}

void NotificationStorageElement::setDbRowId(quint64 value)
{
    dbRowId = value;
    emit dbRowIdChanged();
}
