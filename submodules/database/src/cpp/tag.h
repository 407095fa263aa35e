#ifndef NORVIK_TAG_H
#define NORVIK_TAG_H

#include "data.h"

#include <QByteArray>
#include <QPair>
#include <QVariant>
#include <QVector>

class TagDatabase;

// How a tag's bytes are decoded. The values are fixed: tables and peers use them.
enum tagDataType {
    TDBT_NOT_SET = 0,
    TDBT_UINT = 1,
    TDBT_BE_UINT = 2,
    TDBT_INT = 3,
    TDBT_BE_INT = 4,
    TDBT_REAL = 5,
    TDBT_BE_REAL = 6,
    TDBT_STRING = 7,
    TDBT_RAW = 8,
    TDBT_BOOLEAN = 9,
    TDBT_BE_BOOLEAN = 10,
    TDBT_ENDOFENUMMARKER = 11
};

// A named, typed data point with its address inside a binary frame. A byte
// slice given to setValue(QByteArray) is decoded by dataType; every change of
// the value emits valueUpdated.
class Tag : public Data
{
    Q_OBJECT

public:
    // Which frame stream a tag belongs to; the values are fixed.
    enum HostLinkType : int {
        RIIT = 0, // remote internal input tags (process data of the internal processor)
        RIOT = 1, // remote internal output tags
        ECOT = 2, // base-unit periodic data
        EGOT = 3,
        BTRS = 4, // base-to-remote status
        BIIT = 5,
        BIOT = 6,
        NOLK = 7, // not carried on any link
        RICT = 8 // remote internal configuration
    };
    Q_ENUM(HostLinkType)

    // Host link of a tag that no table created; it matches no table's link.
    static constexpr HostLinkType NoHostLink = static_cast<HostLinkType>(-1);

    explicit Tag(const QString& name, QObject* parent = nullptr);

    // Decodes a slice of byteSize bytes cut out of a frame at startByte. An
    // unchanged slice costs one comparison and emits nothing.
    void setValue(const QByteArray& bytes);
    // Stores the value as it is (rawData stays) and emits on a change.
    void setValue(const QVariant& v);
    // True when the stored raw bytes equal these; lets frame feeders skip an
    // unchanged slice without building it.
    bool rawDataEquals(const char* bytes, int size) const
    {
        return rawData.size() == size
            && (size == 0 || memcmp(rawData.constData(), bytes, size) == 0);
    }

    Q_INVOKABLE QByteArray getRawData() const { return rawData; }
    Q_INVOKABLE QVariant getValue() const { return value; }
    Q_INVOKABLE QString getLabel() const { return label; }
    Q_INVOKABLE quint16 getStartByte() const { return startByte; }
    Q_INVOKABLE quint16 getByteSize() const { return byteSize; }
    Q_INVOKABLE quint16 getStartBit() const { return startBit; }
    Q_INVOKABLE quint16 getBitSize() const { return bitSize; }
    Q_INVOKABLE tagDataType getDataType() const { return dataType; }
    Q_INVOKABLE qint16 getPriority() const { return priority; }
    Q_INVOKABLE float getMinimumValue() const { return minimumValue; }
    Q_INVOKABLE float getMaximumValue() const { return maximumValue; }
    Q_INVOKABLE float getMinimumWarningValue() const { return minimumWarningValue; }
    Q_INVOKABLE float getMaximumWarningValue() const { return maximumWarningValue; }
    Q_INVOKABLE float getMinimumAlarmValue() const { return minimumAlarmValue; }
    Q_INVOKABLE float getMaximumAlarmValue() const { return maximumAlarmValue; }
    Q_INVOKABLE QString getUnitLabel() const { return unitLabel; }
    Q_INVOKABLE Tag::HostLinkType getHostLink() const { return hostLink; }

    TagDatabase* getRelatedTags() const { return relatedTags; }

    void setLabel(const QString& v) { label = v; }
    void setStartByte(quint16 v) { startByte = v; }
    void setByteSize(quint16 v) { byteSize = v; }
    void setStartBit(quint16 v) { startBit = v; }
    void setBitSize(quint16 v) { bitSize = v; }
    void setDataType(tagDataType v) { dataType = v; }
    void setPriority(qint16 v) { priority = v; }
    void setMinimumValue(float v) { minimumValue = v; }
    void setMaximumValue(float v) { maximumValue = v; }
    void setMinimumWarningValue(float v) { minimumWarningValue = v; }
    void setMaximumWarningValue(float v) { maximumWarningValue = v; }
    void setMinimumAlarmValue(float v) { minimumAlarmValue = v; }
    void setMaximumAlarmValue(float v) { maximumAlarmValue = v; }
    void setUnitLabel(const QString& v) { unitLabel = v; }
    void setHostLink(HostLinkType v) { hostLink = v; }
    void setRelatedTags(TagDatabase* v) { relatedTags = v; }

    // Registers (or replaces) the label shown for one value.
    void insertState(const QVariant& value, const QString& label);
    // The label registered for the current value, empty when none.
    Q_INVOKABLE QString getState() const;

signals:
    void valueUpdated(QVariant value);

private:
    // Decodes rawData into newValue; false when the value is to stay as it is.
    bool decode(QVariant& newValue) const;
    void unsupportedSize(const char* typeName) const;

    QByteArray rawData;
    QVariant value;
    QString label;
    quint16 startByte = 0;
    quint16 byteSize = 0;
    quint16 startBit = 0;
    quint16 bitSize = 0;
    tagDataType dataType = TDBT_NOT_SET;
    qint16 priority = 0;
    float minimumValue = 0;
    float maximumValue = 0;
    float minimumWarningValue = 0;
    float maximumWarningValue = 0;
    float minimumAlarmValue = 0;
    float maximumAlarmValue = 0;
    QString unitLabel;
    HostLinkType hostLink = NoHostLink;
    TagDatabase* relatedTags = nullptr;
    // Few states per tag: a short list beats a map keyed by variants.
    QVector<QPair<QVariant, QString>> states;
};

Q_DECLARE_METATYPE(tagDataType)

#endif
