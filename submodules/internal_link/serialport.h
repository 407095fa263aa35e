#ifndef SERIALPORT_H
#define SERIALPORT_H

#include <QByteArray>
#include <QObject>

class QThread;
class SerialPortReadThreadWorker;

// The serial device of the internal link, opened with termios in canonical
// mode so that the tty driver cuts the stream at 0x0A, the frame end byte.
// Reading happens on a thread of its own; chunks arrive through readyRead
// on the thread that owns the port. The destructor stops that thread and
// joins it before the descriptor is closed, whatever state the line is in.
class SerialPort : public QObject
{
    Q_OBJECT

public:
    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    bool setPort(const char* name);
    bool setBaudRate(int value);
    bool setStartBit(int value);
    bool setDataBits(int value);
    bool setStopBit(int value);
    bool setEndOfLineByte(int value);

    // Opens and configures the device and starts the read loop. A failure
    // leaves a silent port: nothing is read and writes go nowhere.
    void start();

    // One write(); the transport layer above retransmits what gets lost.
    void sendData(char* buffer, quint32 length);

    int handle() const { return fileHandle; }
    // read() calls of the read loop so far.
    int readCalls() const;

    // The line settings: raw 8N1 bytes, canonical input ending at 0x0A.
    static bool configureLine(int handle, int baudRate);

signals:
    void readyRead(QByteArray data);
    void startReading(int handle);

private:
    bool connect();
    bool configure();

    QThread* readThread;
    SerialPortReadThreadWorker* readWorker;
    const char* portName = nullptr;
    QByteArray unixPort;
    int baudRate;
    int startBit;
    int dataBits;
    int stopBit;
    int endOfLineByte;
    int fileHandle = -1;
};

#endif
