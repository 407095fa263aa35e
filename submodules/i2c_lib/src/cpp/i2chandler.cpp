#include "i2chandler.h"

#include "i2c.h"
#include "tsan.h"

#include <QThread>

i2cHandler::i2cHandler(QObject* parent, QString deviceName)
    : QObject(parent)
    , myi2c(new i2cLinux(nullptr, deviceName))
    , i2cThread(new QThread(this))
{
    i2cThread->setObjectName(QStringLiteral("i2c"));
    myi2c->moveToThread(i2cThread);
    connect(myi2c, &i2cLinux::I2CreadyRead, this, &i2cHandler::I2CreadyReadSlot,
            Qt::QueuedConnection);
    // Runs on the bus thread as it ends: the bus object closes its device there,
    // and the hand-over back to the thread that joins is marked after it.
    QThread* const thread = i2cThread;
    i2cLinux* const bus = myi2c;
    connect(
        i2cThread, &QThread::finished, myi2c,
        [thread, bus] {
            NORVIK_TSAN_ACQUIRE(bus); // stop() was asked for on the owner's thread
            delete bus;
            NORVIK_TSAN_RELEASE(thread);
        },
        Qt::DirectConnection);
    connect(this, &i2cHandler::startI2C, myi2c, &i2cLinux::handler);
    i2cThread->start(QThread::InheritPriority);
    emit startI2C();
}

i2cHandler::~i2cHandler()
{
    myi2c->stop();
    NORVIK_TSAN_RELEASE(myi2c);
    i2cThread->quit();
    i2cThread->wait();
    NORVIK_TSAN_ACQUIRE(i2cThread);
}

void i2cHandler::i2cRead(quint8 address, quint8 reg, quint8 bytesToRead)
{
    myi2c->i2cRead(address, reg, bytesToRead);
}

void i2cHandler::i2cWrite(quint8 address, quint8 reg, QByteArray data)
{
    myi2c->i2cWrite(address, reg, data);
}

void i2cHandler::I2CreadyReadSlot(quint8 address, quint8 reg, QByteArray data)
{
    emit readyReadFromI2C(address, reg, data);
}

void i2cHandler::I2CWriteSlot(quint8 address, quint8 reg, QByteArray data)
{
    i2cWrite(address, reg, data);
}
