#include "periodicdatahandler.h"

#include "tagdatabase.h"

#include <QDebug>
#include <QMetaEnum>
#include <QMutex>
#include <QTimer>

#include <atomic>

namespace {
// One shortage warning per process: a short frame repeats with every period.
std::atomic<bool> shortFrameReported { false };
} // namespace

PeriodicDataHandler::PeriodicDataHandler(QObject* parent, TagDatabase* tags)
    : QObject(parent)
    , _tags(tags)
    , tagListMutex(new QMutex)
{
    updateTags();
    dataFreshHelpVar = false;
    // No parent, as the timer of a long-lived handler; deleted with the handler.
    dataFreshTimer = new QTimer;
    emit dataFresh(false);
    if (_tags)
        connect(_tags, &Database::databaseUpdated, this, &PeriodicDataHandler::updateTags);
    connect(dataFreshTimer, &QTimer::timeout, this, &PeriodicDataHandler::dataFreshTimerSlot);
}

PeriodicDataHandler::~PeriodicDataHandler()
{
    delete dataFreshTimer;
    delete tagListMutex;
}

void PeriodicDataHandler::updateTags()
{
    if (!tagListMutex->tryLock(LOCK_TIMEOUT_MS)) {
        qWarning() << "Failed to obtain tagListLock in updateTags";
        return;
    }
    ECOTSize = 0;
    EGOTSize = 0;
    tagList.clear();
    const qint32 count = _tags ? _tags->size() : 0;
    for (qint32 i = 0; i < count; ++i) {
        Tag* tag = _tags->at(i);
        if (!tag)
            continue;
        if (tag->getHostLink() == Tag::ECOT)
            ++ECOTSize;
        else if (tag->getHostLink() == Tag::EGOT)
            ++EGOTSize;
        else
            continue;
        tagList.append(tag);
    }
    tagListMutex->unlock();
}

void PeriodicDataHandler::recvPeriodicData(QByteArray data)
{
    loopTags(data, Tag::ECOT);
}

void PeriodicDataHandler::loopTags(const QByteArray& data, Tag::HostLinkType type)
{
    if (!tagListMutex->tryLock(LOCK_TIMEOUT_MS)) {
        qWarning() << "Failed to obtain tagListLock in loopTags. Frame dropped.";
        return;
    }
    const QVector<QPointer<Tag>> tags = tagList;
    tagListMutex->unlock();

    for (const QPointer<Tag>& guarded : tags) {
        Tag* tag = guarded.data();
        if (!tag || tag->getHostLink() != type)
            continue;
        const int start = tag->getStartByte();
        const int size = tag->getByteSize();
        if (start + size > data.size()) {
            if (!shortFrameReported.exchange(true)) {
                qWarning() << "Not recieveing all periodic data that are specified, got"
                           << data.size() << "of" << start + size << "..."
                           << QMetaEnum::fromType<Tag::HostLinkType>().valueToKey(type);
            }
            continue;
        }
        const char* slice = data.constData() + start;
        if (!tag->rawDataEquals(slice, size))
            tag->setValue(QByteArray::fromRawData(slice, size));
    }

    dataFreshTimer->start(DATA_FRESH_TIMEOUT_MS);
    if (!dataFreshHelpVar) {
        dataFreshHelpVar = true;
        emit dataFresh(true);
    }
}

void PeriodicDataHandler::dataFreshTimerSlot()
{
    dataFreshTimer->stop();
    dataFreshHelpVar = false;
    emit dataFresh(false);
}
