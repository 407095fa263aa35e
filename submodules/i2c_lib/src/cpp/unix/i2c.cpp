#include "i2c.h"

#include "platformpaths.h"
#include "tsan.h"

#include <QSemaphore>

#include <cstring>

#include <fcntl.h>

namespace {
constexpr unsigned long I2C_SLAVE = 0x0703; // select the device address of the next transfers
}

i2cLinux::i2cLinux(QObject* parent, QString deviceName)
    : QObject(parent)
    , queueSem(new QSemaphore(1))
    , enqueueSem(new QSemaphore(1))
    , deviceName(new char[DEVICE_NAME_SIZE])
    , sendBuffer(new char[1 + MAX_WRITE])
    , recvBuffer(new char[MAX_READ])
    , bus(i2cBusCalls())
{
    // The queue starts empty: the loop blocks until the first message.
    queueSem->acquire();

    const QByteArray name = deviceName.toUtf8();
    if (name.size() >= DEVICE_NAME_SIZE)
        qFatal("To long device name in i2c constructor.");
    memcpy(this->deviceName, name.constData(), size_t(name.size()) + 1);

    const QByteArray path = PlatformPaths::systemPath(deviceName).toUtf8();
    fd = bus.sysOpen(path.constData(), O_RDWR | O_CLOEXEC);
}

i2cLinux::~i2cLinux()
{
    // Runs on the bus thread as it ends; pairs with ~i2cHandler (tsan.h).
    NORVIK_TSAN_ACQUIRE(this);
    if (fd >= 0)
        bus.sysClose(fd);
    delete[] recvBuffer;
    delete[] sendBuffer;
    delete[] deviceName;
    delete enqueueSem;
    delete queueSem;
    NORVIK_TSAN_RELEASE(this);
}

void i2cLinux::checkAddress(quint8 address)
{
    if (address & 0x80)
        qFatal("Illegal i2c address");
}

void i2cLinux::i2cRead(quint8 address, quint8 reg, quint8 bytesToRead)
{
    checkAddress(address);
    if (bytesToRead > MAX_READ)
        qFatal("I2C to many bytes to read");
    enqueue({ true, address, QByteArray(), reg, bytesToRead });
}

void i2cLinux::i2cWrite(quint8 address, quint8 reg, QByteArray data)
{
    checkAddress(address);
    if (data.size() > MAX_WRITE)
        qFatal("I2C to many bytes to write");
    enqueue({ false, address, data, reg, 0 });
}

// The semaphores are Qt's and invisible to the thread sanitizer: the hand-overs
// through them are marked for it (nothing in ordinary builds).
void i2cLinux::lockQueue()
{
    enqueueSem->acquire();
    NORVIK_TSAN_ACQUIRE(enqueueSem);
}

void i2cLinux::unlockQueue()
{
    NORVIK_TSAN_RELEASE(enqueueSem);
    enqueueSem->release();
}

void i2cLinux::enqueue(const I2C_MESSAGE_T& msg)
{
    lockQueue();
    msgQ.enqueue(msg);
    unlockQueue();
    queueSem->release();
}

void i2cLinux::stop()
{
    stopRequested.store(true);
    queueSem->release();
}

void i2cLinux::handler()
{
    for (;;) {
        queueSem->acquire();
        if (stopRequested.load())
            return;
        lockQueue();
        if (msgQ.isEmpty()) {
            unlockQueue();
            qFatal("i2c Msg queue is empty...");
        }
        const I2C_MESSAGE_T msg = msgQ.dequeue();
        unlockQueue();
        // The transfer runs unlocked, so callers can queue meanwhile.
        transfer(msg);
    }
}

void i2cLinux::transfer(const I2C_MESSAGE_T& msg)
{
    bus.sysIoctl(fd, I2C_SLAVE, msg.address);

    if (!msg.read) {
        sendBuffer[0] = char(msg.reg);
        memcpy(sendBuffer + 1, msg.data.constData(), size_t(msg.data.size()));
        bus.sysWrite(fd, sendBuffer, size_t(msg.data.size()) + 1);
        return;
    }

    sendBuffer[0] = char(msg.reg);
    if (bus.sysWrite(fd, sendBuffer, 1) != 1)
        return;
    if (bus.sysRead(fd, recvBuffer, msg.bytesToRead) != msg.bytesToRead)
        return;
    emit I2CreadyRead(msg.address, msg.reg, QByteArray(recvBuffer, msg.bytesToRead));
}
