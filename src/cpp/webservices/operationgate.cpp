#include "operationgate.h"

#include <QByteArray>
#include <QDebug>
#include <QElapsedTimer>
#include <QHash>

#include <mutex>

namespace {

struct Passage
{
    qint64 lastMs = 0;
    int dropped = 0;
};

} // namespace

bool OperationGate::admit(const char* kind)
{
    static std::mutex lock;
    static QHash<QByteArray, Passage> passages;
    static QElapsedTimer clock;
    const std::lock_guard<std::mutex> guard(lock);
    if (!clock.isValid())
        clock.start();
    const qint64 now = clock.elapsed() + intervalMs; // the first of each kind always passes
    Passage& passage = passages[QByteArray(kind)];
    if (now - passage.lastMs >= intervalMs) {
        if (passage.dropped > 0)
            qInfo("Network clients' %s requests: %d dropped in the last burst", kind,
                  passage.dropped);
        passage = { now, 0 };
        return true;
    }
    if (passage.dropped++ == 0)
        qWarning("Network clients ask for %s more often than once per %d ms: dropped until "
                 "they pause",
                 kind, intervalMs);
    return false;
}
