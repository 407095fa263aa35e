#ifndef PERIODICDATAHANDLER_H
#define PERIODICDATAHANDLER_H

#include "tag.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QVector>

class QMutex;
class QTimer;
class TagDatabase;

// Copies the base unit's periodic data frames into the tags bound to them (host link
// ECOT; EGOT tags are listed too) and reports whether frames keep arriving: dataFresh(true)
// on the first frame, dataFresh(false) after two seconds without one.
//
// Lives on the main thread with the tags; frames arrive queued from the base-unit thread.
// The list lock is taken for at most 50 ms. A frame that finds it taken is dropped with a
// warning and does not count as fresh data: the next frame, at most a period later, brings
// the same values.
class PeriodicDataHandler : public QObject
{
    Q_OBJECT

public:
    static constexpr int LOCK_TIMEOUT_MS = 50;
    static constexpr int DATA_FRESH_TIMEOUT_MS = 2000;

    PeriodicDataHandler(QObject* parent, TagDatabase* tags);
    ~PeriodicDataHandler() override;

    void loopTags(const QByteArray& data, Tag::HostLinkType type);

signals:
    void dataFresh(bool fresh);

public slots:
    void recvPeriodicData(QByteArray data);
    void updateTags();

private slots:
    void dataFreshTimerSlot();

private:
    TagDatabase* _tags;
    // Guarded: the database may dispose of its tags (clear()) before it reports the update.
    QVector<QPointer<Tag>> tagList;
    quint32 EGOTSize = 0;
    quint32 ECOTSize = 0;
    QMutex* tagListMutex;
    QTimer* dataFreshTimer = nullptr;
    bool dataFreshHelpVar = false;
};

#endif
