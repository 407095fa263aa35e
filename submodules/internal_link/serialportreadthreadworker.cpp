#include "serialportreadthreadworker.h"

#include "serialport.h"
#include "tsan.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

SerialPortReadThreadWorker::SerialPortReadThreadWorker(QObject* parent)
    : QObject(parent)
{
    // Without the pipe the loop still ends, only later: it then looks at the
    // stop flag every reopenIntervalMs instead of being woken.
    if (pipe2(stopPipe, O_CLOEXEC) != 0)
        stopPipe[0] = stopPipe[1] = -1;
}

SerialPortReadThreadWorker::~SerialPortReadThreadWorker()
{
    for (int fd : stopPipe)
        if (fd >= 0)
            close(fd);
}

void SerialPortReadThreadWorker::setDevice(const QByteArray& path, int speed)
{
    devicePath = path;
    baudRate = speed;
}

void SerialPortReadThreadWorker::stop()
{
    stopping.store(true);
    if (stopPipe[1] >= 0) {
        const char wake = 1;
        [[maybe_unused]] ssize_t n = write(stopPipe[1], &wake, 1);
    }
}

void SerialPortReadThreadWorker::readLoop(int handle)
{
    NORVIK_TSAN_ACQUIRE(this); // the descriptor was opened on the owning thread
    serialPortHandle = handle;
    runLoop();
    NORVIK_TSAN_RELEASE(this); // the owner closes the descriptor after joining us
}

void SerialPortReadThreadWorker::runLoop()
{
    char buffer[512];
    bool announced = false;
    while (waitForLine()) {
        const ssize_t result = read(serialPortHandle, buffer, sizeof buffer);
        reads.fetch_add(1);
        if (result > 0) {
            announced = false;
            const QByteArray bytes(buffer, static_cast<int>(result));
            NORVIK_TSAN_RELEASE(&norvikTsanSerialBytes);
            emit readyRead(bytes);
            continue;
        }
        if (result < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // End of file or an error: the line hung up and stays so, every
        // further read would return at once. One message per hang-up, also
        // when a reopened line turns out to be dead as well.
        if (!announced)
            qWarning("SerialPort: line %s hung up, waiting for it to come back",
                     devicePath.constData());
        announced = true;
        if (!reopen())
            return;
    }
}

bool SerialPortReadThreadWorker::waitForLine()
{
    bool reported = false;
    while (!stopping.load()) {
        pollfd fds[2] = { { serialPortHandle, POLLIN, 0 }, { stopPipe[0], POLLIN, 0 } };
        const nfds_t count = stopPipe[0] >= 0 ? 2 : 1;
        const int ready = poll(fds, count, count == 2 ? -1 : reopenIntervalMs);
        if (ready > 0 && count == 2 && fds[1].revents != 0)
            return false;
        if (ready > 0 && fds[0].revents != 0)
            return true; // data, hang-up or error: read() tells which
        if (ready < 0 && errno != EINTR) {
            // A deaf loop would look like a quiet peer: say so, and keep trying.
            if (!reported)
                qCritical("SerialPort: poll on %s failed: %s", devicePath.constData(),
                          strerror(errno));
            reported = true;
            if (stopRequested(reopenIntervalMs))
                return false;
        }
    }
    return false;
}

bool SerialPortReadThreadWorker::stopRequested(int timeoutMs)
{
    if (stopPipe[0] >= 0) {
        pollfd wake = { stopPipe[0], POLLIN, 0 };
        poll(&wake, 1, timeoutMs);
    } else {
        usleep(useconds_t(timeoutMs) * 1000);
    }
    return stopping.load();
}

bool SerialPortReadThreadWorker::reopen()
{
    while (!stopRequested(reopenIntervalMs)) {
        const int fd = open(devicePath.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Configured before it takes the old descriptor's place, so that
        // nothing is read or written in the wrong line mode.
        const bool ok = SerialPort::configureLine(fd, baudRate)
            && dup2(fd, serialPortHandle) == serialPortHandle;
        close(fd);
        if (ok)
            return true;
    }
    return false;
}
