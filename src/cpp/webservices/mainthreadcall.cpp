#include "mainthreadcall.h"

#include <QThread>
#include <QWaitCondition>

struct MainThreadCall::Pending
{
    QMutex mutex;
    QWaitCondition changed;
    bool finished = false;
    bool abandoned = false;
};

MainThreadCall::MainThreadCall(QObject* parent)
    : QObject(parent)
{
}

MainThreadCall::~MainThreadCall()
{
    close();
}

bool MainThreadCall::run(const std::function<void()>& work)
{
    if (QThread::currentThread() == thread()) {
        if (closed)
            return false;
        work();
        return true;
    }
    auto pending = std::make_shared<Pending>();
    {
        QMutexLocker locker(&mutex);
        if (closed)
            return false;
        waiting.insert(pending);
    }
    // The work refers to the caller's stack: it runs only while the caller is
    // still waiting. close() runs on this thread too, so the two never overlap.
    QMetaObject::invokeMethod(
        this,
        [pending, &work] {
            {
                QMutexLocker locker(&pending->mutex);
                if (pending->abandoned)
                    return;
            }
            work();
            QMutexLocker locker(&pending->mutex);
            pending->finished = true;
            pending->changed.wakeAll();
        },
        Qt::QueuedConnection);
    bool finished;
    {
        QMutexLocker locker(&pending->mutex);
        while (!pending->finished && !pending->abandoned)
            pending->changed.wait(&pending->mutex);
        finished = pending->finished;
    }
    QMutexLocker locker(&mutex);
    waiting.erase(pending);
    return finished;
}

void MainThreadCall::close()
{
    QMutexLocker locker(&mutex);
    closed = true;
    for (const std::shared_ptr<Pending>& pending : waiting) {
        QMutexLocker pendingLocker(&pending->mutex);
        pending->abandoned = true;
        pending->changed.wakeAll();
    }
}
