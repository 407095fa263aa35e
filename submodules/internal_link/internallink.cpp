#include "internallink.h"

#include "serialport.h"

InternalLink::InternalLink(QObject* parent)
    : QObject(parent)
    , portName("ttymxc0")
{
    start(portName);
}

InternalLink::~InternalLink()
{
    close();
}

void InternalLink::start(const char* port)
{
    serialPort = new SerialPort(this);
    serialPort->setPort(port);
    connect(serialPort, &SerialPort::readyRead, this, &InternalLink::readyRead);
    serialPort->start();
}

void InternalLink::close() { }

void InternalLink::sendData(QByteArray data)
{
    serialPort->sendData(data.data(), static_cast<quint32>(data.size()));
}

void InternalLink::readData(char* data, int data_length)
{
    if (!data || data_length < 0)
        return;
    emit readyRead(QByteArray(data, data_length));
}
