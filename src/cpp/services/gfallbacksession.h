#ifndef GFALLBACKSESSION_H
#define GFALLBACKSESSION_H

#include <QByteArray>
#include <QObject>

class QTimer;

// One use of the R-Uzad tunnel through the internal processor: the bytes
// still to send, whether a block waits for its confirmation, and the
// inactivity timer of the receive direction.
class GFallbackSession : public QObject
{
    Q_OBJECT

public:
    // R-Uzad header: 12 bytes, the message id at offset 4.
    static constexpr int ruzadHeaderSize = 12;
    static constexpr int ruzadMessageIdOffset = 4;
    static constexpr quint8 ruzadIdCmd = 3;
    static constexpr int blockSize = 252;
    static constexpr int rxTimeoutMs = 3000;

    explicit GFallbackSession(QObject* parent = nullptr);
    ~GFallbackSession() override;

    // The message id of a serialized R-Uzad message; the caller makes sure
    // it holds at least a header.
    static quint8 ruzadMessageId(const QByteArray& message);

    bool write(const QByteArray& data);
    QByteArray nextBlock();

    bool isReady() const { return _ready; }
    void send() { _ready = false; }
    void ack() { _ready = true; }
    void poke();

signals:
    void timeout();

private:
    bool _ready;
    QByteArray _data_buffer;
    QTimer* _rx_timer;
};

#endif
