#ifndef PROCESSDATAELEMENT_H
#define PROCESSDATAELEMENT_H

#include "tag.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

class TagDatabase;

// One status tag at its place in the outgoing process-data frame.
//
// The element lives on the service thread, its tag on the main thread, so it
// never reads the tag's value while the tag may be written. It keeps a copy
// instead: taken once at construction, which happens while the main thread
// waits for the service thread to be built (the tag is not written then),
// and afterwards replaced by every valueUpdated, which reaches updateMe()
// queued and in the order the main thread stored the values. Type and byte
// size are read at construction too; they do not change after start-up.
//
// Encoding: INT and UINT of 1, 2 or 4 bytes as the low bytes of the integer,
// little-endian; RAW as the value's bytes as they stand. The internal
// processor reads the frame by position, so a table mistake must not move the
// fields after it: a tag of another type or of an integer size other than 1,
// 2 or 4, and a value that is not an integer, contribute the tag's byte size
// in zero bytes. Only a tag that does not exist contributes nothing, as no
// table gives it a size; that is logged once when the element is built. A tag
// deleted later (the tag database cleared) keeps its place with its last
// value.
class ProcessdataElement : public QObject
{
    Q_OBJECT

public:
    ProcessdataElement(QObject* parent, QString tagName, TagDatabase* tags);

    QByteArray getValue() const;

    QString getTagName() const { return tagName; }
    Tag* getTag() const { return tag; }

public slots:
    void updateMe(QVariant newValue);

private:
    QVariant value;
    QString tagName;
    // Taken at construction; guarded, since the tag database can be cleared.
    QPointer<Tag> tag;
    // Whether the tag existed at construction; the frame layout follows
    // that, also after the tag is gone.
    bool present = false;
    tagDataType dataType = TDBT_NOT_SET;
    int byteSize = 0;
};

#endif
