#include "serialport.h"

#include "platformpaths.h"
#include "serialportreadthreadworker.h"
#include "tsan.h"

#include <QThread>

#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

SerialPort::SerialPort(QObject* parent)
    : QObject(parent)
    , readThread(new QThread)
    , readWorker(new SerialPortReadThreadWorker)
    , baudRate(B230400)
    , startBit(1)
    , dataBits(8)
    , stopBit(1)
    , endOfLineByte(0x83)
{
    QObject::connect(this, SIGNAL(startReading(int)), readWorker, SLOT(readLoop(int)));
    QObject::connect(readWorker, SIGNAL(readyRead(QByteArray)), this,
                     SIGNAL(readyRead(QByteArray)));
    readThread->start(QThread::InheritPriority);
    readWorker->moveToThread(readThread);
}

SerialPort::~SerialPort()
{
    // The loop is stopped and its thread joined before anything it uses goes
    // away; the worker is deleted here rather than by the ended thread.
    readWorker->stop();
    readThread->quit();
    readThread->wait();
    NORVIK_TSAN_ACQUIRE(readWorker);
    delete readWorker;
    delete readThread;
    if (fileHandle >= 0)
        close(fileHandle);
}

int SerialPort::readCalls() const
{
    return readWorker->readCalls();
}

bool SerialPort::setPort(const char* name)
{
    unixPort = PlatformPaths::systemPath(QStringLiteral("/dev/") + QString::fromLocal8Bit(name))
                   .toLocal8Bit();
    portName = unixPort.constData();
    return true;
}

bool SerialPort::setBaudRate(int value)
{
    baudRate = value;
    return true;
}

bool SerialPort::setStartBit(int value)
{
    startBit = value;
    return true;
}

bool SerialPort::setDataBits(int value)
{
    dataBits = value;
    return true;
}

bool SerialPort::setStopBit(int value)
{
    stopBit = value;
    return true;
}

bool SerialPort::setEndOfLineByte(int value)
{
    endOfLineByte = value;
    return true;
}

void SerialPort::start()
{
    if (connect() && configure()) {
        readWorker->setDevice(unixPort, baudRate);
        NORVIK_TSAN_RELEASE(readWorker);
        emit startReading(fileHandle);
    }
}

void SerialPort::sendData(char* buffer, quint32 length)
{
    [[maybe_unused]] ssize_t written = write(fileHandle, buffer, length);
}

bool SerialPort::connect()
{
    if (!portName)
        return false;
    fileHandle = open(portName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    return fileHandle >= 0;
}

bool SerialPort::configure()
{
    return configureLine(fileHandle, baudRate);
}

bool SerialPort::configureLine(int handle, int baudRate)
{
    termios settings;
    if (tcgetattr(handle, &settings) != 0)
        return false;
    settings.c_iflag = 0;
    settings.c_oflag = 0;
    settings.c_cflag = CS8 | CREAD | CLOCAL;
    // Canonical input: a read ends at the newline byte 0x0A, the frame end.
    // No echo, no signal characters, no extended processing.
    settings.c_lflag = ICANON;
    std::memset(settings.c_cc, 0, sizeof settings.c_cc);
    settings.c_cc[VEOL] = 0;
    settings.c_cc[VEOL2] = 0;
    cfsetispeed(&settings, static_cast<speed_t>(baudRate));
    cfsetospeed(&settings, static_cast<speed_t>(baudRate));
    tcflush(handle, TCIFLUSH);
    return tcsetattr(handle, TCSANOW, &settings) == 0;
}
