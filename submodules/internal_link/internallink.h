#ifndef INTERNALLINK_H
#define INTERNALLINK_H

#include <QByteArray>
#include <QObject>

class SerialPort;

// The byte pipe to the remote's internal processor on "ttymxc0". Knows
// nothing of frames; every chunk it emits is normally one frame.
class InternalLink : public QObject
{
    Q_OBJECT

public:
    explicit InternalLink(QObject* parent = nullptr);
    ~InternalLink() override;

    void start(const char* port);
    void close();
    SerialPort* port() const { return serialPort; }

signals:
    void readyRead(QByteArray data);

public slots:
    void sendData(QByteArray data);
    // Feeds bytes in as if they had been read from the device.
    void readData(char* data, int data_length);

private:
    const char* portName;
    SerialPort* serialPort = nullptr;
};

#endif
