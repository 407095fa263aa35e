#include "tagdatabase.h"

#include "configfile.h"
#include "platformpaths.h"

#include <QDebug>
#include <QFile>

#include <new>

namespace {

quint16 toWord(const QString& text)
{
    bool ok = false;
    const uint v = text.toUInt(&ok);
    return ok ? static_cast<quint16>(v) : 0;
}

float toReal(const QString& text)
{
    bool ok = false;
    const float v = text.toFloat(&ok);
    return ok ? v : 0.0f;
}

} // namespace

TagDatabase::TagDatabase(QObject* parent)
    : Database(parent)
{
    setDataType(TAG);
    connect(this, &Database::databaseUpdated, this, &TagDatabase::rebuildTagCache);
}

void TagDatabase::prePopulate()
{
    static const configfileObject tables[] = {
        { QStringLiteral("/../.config/remoteInternalInputTags.csv"), Tag::RIIT },
        { QStringLiteral("/../.config/remoteInternalOutputTags.csv"), Tag::RIOT },
        { QStringLiteral("/../.config/baseToRemoteStatusTags.csv"), Tag::BTRS },
        { QStringLiteral("/../.config/remoteInternalTags.csv"), Tag::NOLK },
        { QStringLiteral("/../.config/remoteInternalConfigTags.csv"), Tag::RICT },
        { QStringLiteral("/config/ECOutputTags.csv"), Tag::ECOT },
        { QStringLiteral("/config/EGOutputTags.csv"), Tag::EGOT },
    };
    for (const configfileObject& table : tables)
        loadTable(table);
}

void TagDatabase::loadTable(const configfileObject& table)
{
    const QString path = PlatformPaths::appDir() + table.path;
    if (!QFile::exists(path)) {
        qWarning().noquote() << QStringLiteral("Could not find the configuration file: ") + path;
        return;
    }
    try {
        const ConfigFile* file = new ConfigFile(path, this);
        const QVector<QString> rows = file->getAllTags();
        for (const QString& name : rows) {
            Tag* tag = new Tag(name, this);
            tag->setLabel(file->getValue(name, QStringLiteral("label")));
            tag->setStartByte(toWord(file->getValue(name, QStringLiteral("startByte"))));
            tag->setByteSize(toWord(file->getValue(name, QStringLiteral("byteSize"))));
            tag->setStartBit(toWord(file->getValue(name, QStringLiteral("startBit"))));
            tag->setBitSize(toWord(file->getValue(name, QStringLiteral("bitSize"))));
            tag->setMinimumValue(toReal(file->getValue(name, QStringLiteral("minValue"))));
            tag->setMaximumValue(toReal(file->getValue(name, QStringLiteral("maxValue"))));
            tag->setMinimumWarningValue(
                toReal(file->getValue(name, QStringLiteral("minWarningValue"))));
            tag->setMaximumWarningValue(
                toReal(file->getValue(name, QStringLiteral("maxWarningValue"))));
            tag->setMinimumAlarmValue(
                toReal(file->getValue(name, QStringLiteral("minAlarmValue"))));
            tag->setMaximumAlarmValue(
                toReal(file->getValue(name, QStringLiteral("maxAlarmValue"))));
            tag->setUnitLabel(file->getValue(name, QStringLiteral("unitLabel")));
            tag->setHostLink(table.hostLink);

            const QString type = file->getValue(name, QStringLiteral("dataType"));
            if (type == QLatin1String("UINT") || type == QLatin1String("BE_UINT")) {
                tag->setDataType(type == QLatin1String("UINT") ? TDBT_UINT : TDBT_BE_UINT);
                tag->setValue(QVariant(0u));
            } else if (type == QLatin1String("INT") || type == QLatin1String("BE_INT")) {
                tag->setDataType(type == QLatin1String("INT") ? TDBT_INT : TDBT_BE_INT);
                tag->setValue(QVariant(0));
            } else if (type == QLatin1String("REAL") || type == QLatin1String("BE_REAL")) {
                tag->setDataType(type == QLatin1String("REAL") ? TDBT_REAL : TDBT_BE_REAL);
                tag->setValue(QVariant(0.0));
            } else if (type == QLatin1String("STRING")) {
                tag->setDataType(TDBT_STRING);
                tag->setValue(QVariant(QString()));
            } else if (type == QLatin1String("RAW")) {
                tag->setDataType(TDBT_RAW);
                tag->setValue(QByteArray(tag->getByteSize(), '\0'));
            } else if (type == QLatin1String("BOOLEAN") || type == QLatin1String("BE_BOOLEAN")) {
                tag->setDataType(type == QLatin1String("BOOLEAN") ? TDBT_BOOLEAN : TDBT_BE_BOOLEAN);
                tag->setValue(QVariant(false));
            } else {
                tag->setDataType(TDBT_NOT_SET);
            }
            // A refused duplicate is of no use to anyone.
            if (!append(tag))
                delete tag;
        }
    } catch (const std::bad_alloc&) {
        qWarning().noquote() << "Error loading" << path;
    }
}

Tag* TagDatabase::at(qint32 index) const
{
    if (index < 0 || index >= size()) {
        qWarning() << "TagDatabase: index is out of range, index =" << index << "size =" << size();
        return nullptr;
    }
    return tagCache.value(index);
}

Tag* TagDatabase::get(const QString& tag) const
{
    const int i = indexOf(tag);
    return i < 0 ? nullptr : tagCache.value(i);
}

void TagDatabase::setValueSlot(QString tagName, quint16 value)
{
    if (Tag* tag = get(tagName))
        tag->setValue(QVariant(static_cast<qint32>(value)));
}

void TagDatabase::processProsessData(QByteArray data)
{
    const char* frame = data.constData();
    const int frameSize = data.size();
    // A shared copy: a receiver of valueUpdated may append tags meanwhile.
    const QVector<Tag*> tags = tagCache;
    for (Tag* tag : tags) {
        if (!tag || tag->getHostLink() != Tag::RIIT)
            continue;
        const int start = tag->getStartByte();
        const int size = tag->getByteSize();
        if (start + size <= frameSize) {
            // The common case: compare in place and build no slice for an unchanged tag.
            if (tag->rawDataEquals(frame + start, size))
                continue;
            tag->setValue(QByteArray::fromRawData(frame + start, size));
        } else {
            QByteArray slice(size, '\0');
            for (int k = 0; k < size && start + k < frameSize; ++k)
                slice[k] = frame[start + k];
            tag->setValue(slice);
        }
    }
}

void TagDatabase::rebuildTagCache()
{
    const QVector<Data*> items = getAll();
    if (items.size() == tagCache.size() + 1) {
        tagCache.append(qobject_cast<Tag*>(items.last()));
        return;
    }
    tagCache.resize(items.size());
    for (int i = 0; i < items.size(); ++i)
        tagCache[i] = qobject_cast<Tag*>(items.at(i));
}
