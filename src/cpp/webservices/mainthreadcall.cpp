#include "mainthreadcall.h"

#include <QThread>

#include <condition_variable>

struct MainThreadCall::Pending
{
    std::mutex mutex;
    std::condition_variable changed;
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
        std::lock_guard<std::mutex> lock(mutex);
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
                std::lock_guard<std::mutex> lock(pending->mutex);
                if (pending->abandoned)
                    return;
            }
            work();
            std::lock_guard<std::mutex> lock(pending->mutex);
            pending->finished = true;
            pending->changed.notify_all();
        },
        Qt::QueuedConnection);
    bool finished;
    {
        std::unique_lock<std::mutex> lock(pending->mutex);
        pending->changed.wait(lock, [&] { return pending->finished || pending->abandoned; });
        finished = pending->finished;
    }
    std::lock_guard<std::mutex> lock(mutex);
    waiting.erase(pending);
    return finished;
}

void MainThreadCall::close()
{
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    for (const std::shared_ptr<Pending>& pending : waiting) {
        std::lock_guard<std::mutex> pendingLock(pending->mutex);
        pending->abandoned = true;
        pending->changed.notify_all();
    }
}
