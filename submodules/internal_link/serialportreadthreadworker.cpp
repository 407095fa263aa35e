#include "serialportreadthreadworker.h"

#include "tsan.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

SerialPortReadThreadWorker::SerialPortReadThreadWorker(QObject* parent)
    : QObject(parent)
{
}

void SerialPortReadThreadWorker::readLoop(int handle)
{
    runLoop(handle);
    NORVIK_TSAN_RELEASE(this); // the owner closes the descriptor after joining us
}

void SerialPortReadThreadWorker::runLoop(int handle)
{
    NORVIK_TSAN_ACQUIRE(this); // the descriptor was opened on the owning thread
    serialPortHandle = handle;
    char buffer[512];
    pollfd fds[2] = { { serialPortHandle, POLLIN, 0 }, { stopHandle, POLLIN, 0 } };
    const nfds_t count = stopHandle >= 0 ? 2 : 1;
    for (;;) {
        // Blocks until a complete line is there (canonical mode) or we are told to stop.
        const int ready = poll(fds, count, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP)))
            return;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t result = read(serialPortHandle, buffer, sizeof buffer);
        if (result >= 1) {
            emit readyRead(QByteArray(buffer, static_cast<int>(result)));
        } else if (result < 0 && errno != EINTR && errno != EAGAIN) {
            // A hung-up line (the far side of a pseudo-terminal went away)
            // reports an error at once on every read; wait a little before
            // trying again instead of spinning a core, but stay stoppable.
            if (count == 2) {
                pollfd stop = fds[1];
                if (poll(&stop, 1, 100) > 0)
                    return;
            } else {
                usleep(100 * 1000);
            }
        }
    }
}
