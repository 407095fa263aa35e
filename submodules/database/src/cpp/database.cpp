#include "database.h"

#include "data.h"

#include <QDebug>

Database::Database(QObject* parent)
    : QObject(parent)
{
}

Data* Database::at(qint32 index) const
{
    if (index < 0 || index >= data.size()) {
        qWarning() << "Database index is out of range, index =" << index
                   << " size =" << data.size();
        return nullptr;
    }
    return data.at(index);
}

Data* Database::get(const QString& tag) const
{
    const int i = tags.indexOf(tag);
    return i < 0 ? nullptr : data.at(i);
}

bool Database::append(Data* item)
{
    if (!item || item->getTag().isEmpty()) {
        qWarning() << "Database append error, empty tag";
        return false;
    }
    if (!m_allowDuplicates && get(item->getTag())) {
        qWarning().noquote() << "Database tag" << item->getTag() << "exists, not appended";
        return false;
    }
    data.append(item);
    tags.append(item->getTag());
    emit databaseUpdated();
    return true;
}

void Database::clear()
{
    for (Data* item : qAsConst(data))
        item->deleteLater();
    data.clear();
    tags.clear();
    emit databaseUpdated();
}

QVector<Data*> Database::takeAll()
{
    QVector<Data*> items;
    items.swap(data);
    tags.clear();
    return items;
}
