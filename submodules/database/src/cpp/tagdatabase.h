#ifndef NORVIK_TAGDATABASE_H
#define NORVIK_TAGDATABASE_H

#include "database.h"
#include "tag.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// All tags of the system, built from the seven tag tables below the
// application directory. The first table that defines a name wins.
class TagDatabase : public Database
{
    Q_OBJECT

public:
    explicit TagDatabase(QObject* parent = nullptr);

    // Loads every tag table once; a missing table costs one warning.
    void prePopulate();

    Q_INVOKABLE Tag* at(qint32 index) const;
    Q_INVOKABLE Tag* get(const QString& tag) const;

public slots:
    void setValueSlot(QString tagName, quint16 value);
    // Feeds a process-data frame of the internal processor to the RIIT tags;
    // bytes beyond the frame's end read as 0.
    void processProsessData(QByteArray data);

private slots:
    void rebuildTagCache();

private:
    struct configfileObject
    {
        QString path;
        Tag::HostLinkType hostLink;
    };
    void loadTable(const configfileObject& table);

    // The items as tags (null for an item that is not one), in index order,
    // so a frame costs no casts.
    QVector<Tag*> tagCache;
};

#endif
