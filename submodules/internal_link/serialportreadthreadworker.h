#ifndef SERIALPORTREADTHREADWORKER_H
#define SERIALPORTREADTHREADWORKER_H

#include <QByteArray>
#include <QObject>

#include <atomic>

// Lives on the serial read thread and blocks in the kernel waiting for the
// tty. In canonical mode every read returns at most one line, which is one
// frame of the internal link, so each chunk is emitted on its own.
//
// When the line hangs up (the far side of a pseudo-terminal went away, the
// device vanished) every read returns at once; the loop then logs once and
// tries, every reopenIntervalMs, to open the device path again. The new line
// is configured and put in place of the old descriptor with dup2(), so the
// owner keeps writing to the same descriptor number throughout.
//
// The owning SerialPort ends the loop with stop() and joins the thread
// before it closes the descriptor or deletes the worker.
class SerialPortReadThreadWorker : public QObject
{
    Q_OBJECT

public:
    static constexpr int reopenIntervalMs = 200;

    explicit SerialPortReadThreadWorker(QObject* parent = nullptr);
    ~SerialPortReadThreadWorker() override;

    // Where to reopen a hung-up line, and its speed; set before the loop starts.
    void setDevice(const QByteArray& path, int baudRate);
    // Thread-safe: makes readLoop return as soon as possible.
    void stop();
    // How often read() was called; a hung-up line must not make this race.
    int readCalls() const { return reads.load(); }

public slots:
    // Runs until stop(); on the remote that is process exit.
    void readLoop(int handle);

signals:
    void readyRead(QByteArray data);

private:
    void runLoop();
    // Waits for a readable line; false when told to stop.
    bool waitForLine();
    // Waits timeoutMs for stop(); true when told to stop.
    bool stopRequested(int timeoutMs);
    // Backs off until the device opens again; false when told to stop.
    bool reopen();

    int serialPortHandle = -1;
    int stopPipe[2] = { -1, -1 };
    std::atomic<bool> stopping { false };
    std::atomic<int> reads { 0 };
    QByteArray devicePath;
    int baudRate = 0;
};

#endif
