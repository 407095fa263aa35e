#ifndef TRANSPORT_LAYER_H
#define TRANSPORT_LAYER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QVector>

#include <atomic>

class FrameLayer;
class InternalLink;
class MessageLayer;
class QTimer;

// Which link a packet travels on.
enum Link { Internal = 0, Graphical = 1 };
Q_DECLARE_METATYPE(Link)

// Message classes, bits 7 and 6 of the control byte.
enum {
    MSG_CLASS_RESERVED = 0,
    MSG_CLASS_TRANSP_ACK = 1, // data, acknowledged by the receiving transport
    MSG_CLASS_SERVICE_ACK = 2, // request, answered by the receiving service
    MSG_CLASS_ACK = 3 // acknowledgement or service answer, same packet number
};

// Numbered, acknowledged packets on the internal link. One packet is in
// flight at a time; it goes out at 0, 50 and 100 ms and the link counts as
// failed when no acknowledgement has come 150 ms after the first try.
// Service requests and answers are paired by packet number in both directions.
// Only the expiry of the third try fails the link; packets queued or answers
// arriving meanwhile leave the one in flight alone.
class TransportLayer : public QObject
{
    Q_OBJECT

public:
    struct bufferItem
    {
        QByteArray data; // the complete frame as it goes on the wire
        QTimer* reTxTimer;
        quint8 reTXCount;
        quint8 packetNumber;
        quint8 serviceId;
        quint8 messageClass;
    };

    explicit TransportLayer(QObject* parent = nullptr);
    ~TransportLayer() override;

    InternalLink* link() const { return internalLink; }

    // Health counters since start-up. Counted on the layer's thread; safe to read from
    // any thread while the layer exists.
    // Frames written to the line: first transmissions, retransmissions, service answers
    // and transport acknowledgements.
    quint64 framesSent() const { return _framesSent.load(std::memory_order_relaxed); }
    // Frames that arrived intact (CRC good, long enough for a header), whatever their class.
    quint64 framesReceived() const { return _framesReceived.load(std::memory_order_relaxed); }
    // Frames dropped as damaged: CRC failed or too short (one warning each).
    quint64 crcFailures() const { return _crcFailures.load(std::memory_order_relaxed); }
    // Second and third transmissions of a packet that was not acknowledged in time.
    quint64 retransmissions() const { return _retransmissions.load(std::memory_order_relaxed); }
    // internalLinkFailed() emissions.
    quint64 linkFailures() const { return _linkFailures.load(std::memory_order_relaxed); }

public slots:
    void readDataFromInternal(QByteArray data);
    void readDataFromService(QByteArray data, Link toLink, quint8 serviceId, quint8 messageClass);
    void processSendBuffer();

signals:
    void readyRead(QByteArray data, Link fromLink, quint8 serviceId, quint8 messageClass);
    void sendOnInternal(QByteArray data);
    void internalLinkFailed();
    void newData();

private:
    void sendData(QByteArray data, quint8 packetNumber, quint8 serviceId, quint8 messageClass);
    QByteArray addHeader(QByteArray data, quint8 messageClass, quint8 serviceId,
                         quint8 packetNumber);
    QByteArray removeHeader(QByteArray data);
    quint8 getControlByte(QByteArray data);
    quint8 getServiceId(QByteArray data);
    quint8 getMessageClass(QByteArray data);
    quint8 getPacketNumber(QByteArray data);
    void removePacket(quint8 packetNumber);
    // Drops the last record of our request with that number; false when there is none.
    bool forgetSentRequest(quint8 serviceId, quint8 packetNumber);
    QByteArray buildFrame(const QByteArray& payload, quint8 messageClass, quint8 serviceId,
                          quint8 packetNumber);
    void discardSendBuffer();
    static void count(std::atomic<quint64>& counter)
    {
        counter.fetch_add(1, std::memory_order_relaxed);
    }

    InternalLink* internalLink;
    MessageLayer* messageLayer;
    FrameLayer* frameLayer;
    quint8 sendInterval;
    quint8 packetNumberSentInternal;
    QList<bufferItem> sendBuffer;
    QHash<unsigned char, QVector<unsigned char>> _sentServicePackets;
    QHash<unsigned char, QVector<unsigned char>> _unackedServicePackets;
    std::atomic<quint64> _framesSent { 0 };
    std::atomic<quint64> _framesReceived { 0 };
    std::atomic<quint64> _crcFailures { 0 };
    std::atomic<quint64> _retransmissions { 0 };
    std::atomic<quint64> _linkFailures { 0 };
};

#endif
