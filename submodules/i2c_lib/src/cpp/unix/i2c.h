#ifndef NORVIK_I2C_H
#define NORVIK_I2C_H

#include "i2cbus.h"

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QString>

#include <atomic>

class QSemaphore;

// One Linux I2C bus device with a queue of register transfers. Any thread may
// queue reads and writes; handler(), run on a thread of its own, performs them
// one at a time in request order across all callers. A register read is a
// write of the register byte followed by a separate read. A transfer that
// fails or comes back short is dropped without a word: only complete reads are
// reported, through I2CreadyRead on the worker's thread.
//
// Stopping: handler() loops until stop() is called from any thread. stop()
// raises a flag and wakes the loop through the queue semaphore; the loop looks
// at the flag every time it wakes, so a transfer under way is finished, the
// messages still queued are never sent and handler() returns.
//
// The device is reached through the bus calls in force when the object is
// created (the kernel's on the remote, a simulated bus on a desk), see i2cbus.h.
class i2cLinux : public QObject
{
    Q_OBJECT

public:
    struct I2C_MESSAGE_T
    {
        bool read; // true: register read; false: register write
        quint8 address; // 7-bit device address
        QByteArray data; // bytes to write (empty for a read)
        quint8 reg; // register (command) byte sent first
        quint8 bytesToRead; // bytes to read back (reads only)
    };

    static constexpr int DEVICE_NAME_SIZE = 40; // including the terminating zero
    static constexpr int MAX_READ = 128;
    static constexpr int MAX_WRITE = 128; // data bytes after the register byte

    // Opens the device read-write; a device that cannot be opened leaves every
    // transfer to fail quietly. The name is a fixed system path ("/dev/i2c-2").
    i2cLinux(QObject* parent, QString deviceName);
    ~i2cLinux() override;

    // Validate and queue; callable from any thread. A bad address or an
    // oversize request is a programming error and ends the process.
    void i2cRead(quint8 address, quint8 reg, quint8 bytesToRead);
    void i2cWrite(quint8 address, quint8 reg, QByteArray data);

    // Makes handler() return, see above. Callable from any thread, also before
    // handler() has started (it then returns at once).
    void stop();

signals:
    void I2CreadyRead(quint8 address, quint8 reg, QByteArray data);

public slots:
    // The worker loop; returns only after stop().
    void handler();

private:
    static void checkAddress(quint8 address);
    void lockQueue();
    void unlockQueue();
    void enqueue(const I2C_MESSAGE_T& msg);
    void transfer(const I2C_MESSAGE_T& msg);

    QSemaphore* queueSem; // counts queued messages (and a stop request)
    QSemaphore* enqueueSem; // the lock of msgQ
    QQueue<I2C_MESSAGE_T> msgQ;
    int fd = -1;
    char* deviceName;
    char* sendBuffer; // register byte and up to MAX_WRITE data bytes
    char* recvBuffer; // MAX_READ bytes

    const I2cBusCalls bus;
    std::atomic<bool> stopRequested { false };
};

#endif
