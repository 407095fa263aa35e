#ifndef SERIALPORTREADTHREADWORKER_H
#define SERIALPORTREADTHREADWORKER_H

#include <QByteArray>
#include <QObject>

// Lives on the serial read thread and blocks in the kernel waiting for the
// tty. In canonical mode every read returns at most one line, which is one
// frame of the internal link, so each chunk is emitted on its own.
class SerialPortReadThreadWorker : public QObject
{
    Q_OBJECT

public:
    explicit SerialPortReadThreadWorker(QObject* parent = nullptr);

    // Descriptor whose readability ends readLoop; set before the loop starts.
    void setStopHandle(int handle) { stopHandle = handle; }

public slots:
    // Runs until the stop descriptor becomes readable (the owning SerialPort
    // is being destroyed); on the remote that is process exit.
    void readLoop(int handle);

signals:
    void readyRead(QByteArray data);

private:
    void runLoop(int handle);

    int serialPortHandle = -1;
    int stopHandle = -1;
};

#endif
