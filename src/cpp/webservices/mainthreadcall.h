#ifndef MAINTHREADCALL_H
#define MAINTHREADCALL_H

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <set>

// Runs work on the thread this object lives on and waits for it to finish: the
// way the HTTP handler threads reach the facade, its tag database and its
// notification history, which belong to the facade's thread. Once closed, no
// work is taken any more and every caller still waiting returns at once, so a
// handler thread never holds up the facade's shutdown.
class MainThreadCall : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(MainThreadCall)

public:
    explicit MainThreadCall(QObject* parent = nullptr);
    ~MainThreadCall() override;

    // False when the work did not run (closed before or while waiting).
    bool run(const std::function<void()>& work);
    // Called on this object's thread.
    void close();

private:
    struct Pending;

    // Standard locks rather than Qt's, so the thread sanitizer sees the hand-over.
    std::mutex mutex;
    bool closed = false;
    std::set<std::shared_ptr<Pending>> waiting;
};

#endif
