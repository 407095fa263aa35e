#include "popuphandler.h"

#include "tsan.h"

#include <QSemaphore>

PopupHandler::PopupHandler(QObject* parent)
    : QObject(parent)
    , queueSem(new QSemaphore(0))
    , waitForAckSem(new QSemaphore(1))
    , ackReference(0)
    , _showing(false)
    , _stopping(false)
{
    // Taken at once, so that the loop's first wait for an acknowledgement blocks.
    waitForAckSem->acquire();
}

PopupHandler::~PopupHandler()
{
    delete queueSem;
    delete waitForAckSem;
}

void PopupHandler::stop()
{
    _stopping = true;
    // Wake the loop wherever it waits; it sees the flag and returns.
    queueSem->release();
    waitForAckSem->release();
}

void PopupHandler::addMsg(NOTIFICATION_MSG_T msg)
{
    {
        std::lock_guard<std::mutex> guard(_lock);
        msgQueue.enqueue(msg);
    }
    queueSem->release();
}

void PopupHandler::popupIsAcked(quint16 reference)
{
    {
        std::lock_guard<std::mutex> guard(_lock);
        // Only the acknowledgement of the popup on show counts, and only once.
        if (!_showing || reference != ackReference)
            return;
        _showing = false;
    }
    waitForAckSem->release();
}

void PopupHandler::handler()
{
    while (!_stopping) {
        queueSem->acquire();
        if (_stopping)
            break;
        NOTIFICATION_MSG_T msg;
        {
            std::lock_guard<std::mutex> guard(_lock);
            if (msgQueue.isEmpty())
                continue;
            msg = msgQueue.dequeue();
            // Set before the popup goes out: its acknowledgement may come at once.
            ackReference = quint16(msg.reference);
            _showing = true;
        }
        emit emitNotificationNew(msg);
        // The queued copy of msg is complete; the receiving slot takes it over.
        NORVIK_TSAN_RELEASE(this);
        waitForAckSem->acquire();
    }
    // The owner joins this thread (through Qt) before it deletes us.
    NORVIK_TSAN_RELEASE(this);
}
