#ifndef NORVIK_I2CHANDLER_H
#define NORVIK_I2CHANDLER_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QThread;
class i2cLinux;

// Asynchronous register access to one I2C bus for the objects of one thread.
// The bus object and its worker loop run on a thread owned by the handler;
// reads and writes are queued directly (any thread may call), and complete
// reads come back as readyReadFromI2C on the handler's own thread, tagged with
// device address and register so that several clients can share the bus.
//
// Lifetime: the destructor stops the worker loop (see i2cLinux::stop()), lets
// a transfer under way finish, ends the thread and waits for it without a time
// limit; queued transfers are discarded. The bus object, and with it the
// device descriptor, is gone when the destructor returns, and nothing is
// reported afterwards.
class i2cHandler : public QObject
{
    Q_OBJECT

public:
    i2cHandler(QObject* parent, QString deviceName);
    ~i2cHandler() override;

    void i2cRead(quint8 address, quint8 reg, quint8 bytesToRead);
    void i2cWrite(quint8 address, quint8 reg, QByteArray data);

signals:
    void readyReadFromI2C(quint8 address, quint8 reg, QByteArray data);
    void startI2C();

public slots:
    void I2CreadyReadSlot(quint8 address, quint8 reg, QByteArray data);
    void I2CWriteSlot(quint8 address, quint8 reg, QByteArray data);

private:
    i2cLinux* myi2c;
    QThread* i2cThread;
};

#endif
