#ifndef NORVIK_DATA_H
#define NORVIK_DATA_H

#include <QMap>
#include <QObject>
#include <QString>

// A named item with free-form text fields; the base of tags, application
// entries, applications and users.
class Data : public QObject
{
    Q_OBJECT

public:
    explicit Data(const QString& tag, QObject* parent = nullptr);

    QString getTag() const { return tag; }
    QString getField(const QString& key) const { return fields.value(key); }
    void insertField(const QString& key, const QString& value) { fields.insert(key, value); }

private:
    const QString tag;
    QMap<QString, QString> fields;
};

#endif
