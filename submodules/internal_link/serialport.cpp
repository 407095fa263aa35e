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
    // The stop pipe lets the destructor end the read loop and join the
    // thread; the worker is then deleted here rather than by the thread.
    if (pipe2(stopPipe, O_CLOEXEC) == 0)
        readWorker->setStopHandle(stopPipe[0]);
    else
        QObject::connect(readThread, SIGNAL(finished()), readWorker, SLOT(deleteLater()));
    QObject::connect(this, SIGNAL(startReading(int)), readWorker, SLOT(readLoop(int)));
    QObject::connect(readWorker, SIGNAL(readyRead(QByteArray)), this,
                     SIGNAL(readyRead(QByteArray)));
    readThread->start(QThread::InheritPriority);
    readWorker->moveToThread(readThread);
}

SerialPort::~SerialPort()
{
    // Wake the read loop through the stop pipe so the thread can end and be
    // joined; without the pipe it cannot be interrupted and is left running.
    if (stopPipe[1] >= 0) {
        const char stop = 1;
        [[maybe_unused]] ssize_t n = write(stopPipe[1], &stop, 1);
        readThread->quit();
        readThread->wait();
        NORVIK_TSAN_ACQUIRE(readWorker);
        delete readWorker;
        delete readThread;
        close(stopPipe[0]);
        close(stopPipe[1]);
        if (fileHandle >= 0)
            close(fileHandle);
    } else {
        readThread->quit();
        readThread->wait(30);
    }
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
    termios settings;
    if (tcgetattr(fileHandle, &settings) != 0)
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
    tcflush(fileHandle, TCIFLUSH);
    return tcsetattr(fileHandle, TCSANOW, &settings) == 0;
}
