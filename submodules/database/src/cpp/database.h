#ifndef NORVIK_DATABASE_H
#define NORVIK_DATABASE_H

#include "data.h"

#include <QObject>
#include <QString>
#include <QVector>

// An ordered collection of named items, addressed by index or by name.
// The collection does not own its items (their QObject parent does), but
// clear() disposes of them.
class Database : public QObject
{
    Q_OBJECT

public:
    enum DataType { DATA = 0, APPCONFIG = 1, USER = 2, TAG = 3, NOTIFICATION = 4 };
    Q_ENUM(DataType)

    explicit Database(QObject* parent = nullptr);

    Q_INVOKABLE Data* at(qint32 index) const;
    // First item of that name (exact comparison), else null.
    Q_INVOKABLE Data* get(const QString& tag) const;
    QVector<Data*> getAll() const { return data; }
    Q_INVOKABLE qint32 size() const { return data.size(); }
    // Takes the item unless its name is empty or (with duplicates refused)
    // already present; a refused item stays with its parent.
    bool append(Data* item);
    Q_INVOKABLE void clear();

    bool allowDuplicates() const { return m_allowDuplicates; }
    void setAllowDuplicates(bool allow) { m_allowDuplicates = allow; }

    DataType getDataType() const { return dataType; }
    void setDataType(DataType type) { dataType = type; }

signals:
    void databaseUpdated();

protected:
    // Index of the first item of that name, -1 when none.
    int indexOf(const QString& tag) const { return tags.indexOf(tag); }
    // Empties the collection without disposing of the items.
    QVector<Data*> takeAll();

private:
    QVector<Data*> data;
    QVector<QString> tags;
    DataType dataType = DATA;
    bool m_allowDuplicates = false;
};

#endif
