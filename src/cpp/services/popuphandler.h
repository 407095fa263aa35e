#ifndef POPUPHANDLER_H
#define POPUPHANDLER_H

#include "norvik_link_defines.h"

#include <QObject>
#include <QQueue>

#include <atomic>
#include <mutex>

class QSemaphore;

// One-at-a-time popup queue. handler() runs on a thread of its own and
// blocks there, so its thread's event loop never turns again: addMsg(),
// popupIsAcked() and stop() are called directly from other threads and meet
// the loop only through the semaphores and the locked queue.
class PopupHandler : public QObject
{
    Q_OBJECT

public:
    explicit PopupHandler(QObject* parent = nullptr);
    ~PopupHandler() override;

    // Makes handler() return at its next wake-up, or at once if it has not
    // started yet. Callable from any thread.
    void stop();

public slots:
    void addMsg(NOTIFICATION_MSG_T msg);
    void popupIsAcked(quint16 reference);
    void handler();

signals:
    void emitNotificationNew(NOTIFICATION_MSG_T notification);

private:
    QSemaphore* queueSem;
    QSemaphore* waitForAckSem;
    QQueue<NOTIFICATION_MSG_T> msgQueue;
    quint16 ackReference;

    std::mutex _lock; // msgQueue, ackReference and _showing
    bool _showing; // a popup is out and waits for its acknowledgement
    std::atomic<bool> _stopping;
};

#endif
