#ifndef INTERNALPROCESSORSIM_H
#define INTERNALPROCESSORSIM_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>

#include <functional>
#include <optional>

class QSocketNotifier;

// Stand-in for the remote's internal processor on the far end of the serial
// line. It owns the master side of a pseudo-terminal whose slave side is
// linked as <sysroot>/dev/ttymxc0, speaks the framing, CRC and transport
// rules of the internal link, and can be told to misbehave.
class InternalProcessorSim : public QObject
{
    Q_OBJECT

public:
    struct Packet
    {
        quint8 messageClass = 0;
        quint8 packetNumber = 0;
        quint8 serviceId = 0;
        QByteArray payload;
        qint64 receivedAtMs = 0; // monotonic, QElapsedTimer epoch of the simulator
        // A class-1 or class-2 packet the library sent again because its
        // acknowledgement or answer came late: same number, service and
        // payload as the data packet before it. It is acknowledged or
        // answered again, as the real peer does, but counts once.
        bool repeat = false;
    };

    // Answers a class-2 request of the library for one service; std::nullopt
    // leaves the request unanswered.
    using RequestHandler = std::function<std::optional<QByteArray>(const Packet& request)>;

    explicit InternalProcessorSim(QObject* parent = nullptr);
    ~InternalProcessorSim() override;

    // Creates the pseudo-terminal and the device link below `sysroot`.
    bool open(const QString& sysroot);
    void closePort();
    QString slaveName() const { return m_slaveName; }

    // --- sending ---
    // A class-1 or class-2 packet with the simulator's own counter; returns its packet number.
    quint8 sendPacket(quint8 serviceId, quint8 messageClass, const QByteArray& payload);
    // A class-3 packet with a given number (answer or acknowledgement).
    void sendAnswer(quint8 serviceId, quint8 packetNumber, const QByteArray& payload = {});
    // Bytes straight onto the line, e.g. garbage or hand-made frames.
    void writeRaw(const QByteArray& bytes);
    // A complete frame: stx, stuffed header + payload + CRC, etx.
    static QByteArray frame(quint8 messageClass, quint8 packetNumber, quint8 serviceId,
                            const QByteArray& payload);
    // Takes a frame apart; false when it is damaged or too short.
    static bool parseFrame(const QByteArray& wire, Packet* packet);

    // --- behaviour ---
    void setRequestHandler(quint8 serviceId, RequestHandler handler);
    void setWithholdAcks(bool withhold) { m_withholdAcks = withhold; }
    void setAckDelayMs(int ms) { m_ackDelayMs = ms; }
    // Flip one bit in the CRC of the next n frames written.
    void corruptNextFrames(int n) { m_corruptFrames = n; }
    // Write frames in pieces of `chunk` bytes, `delayMs` apart (0: whole frames).
    void setTrickle(int chunk, int delayMs)
    {
        m_trickleChunk = chunk;
        m_trickleDelayMs = delayMs;
    }

    // Noise on the line: every byte in either direction is damaged (XOR with a
    // random non-zero value) with probability `rate`; 0 switches it off. The
    // same seed damages the same bytes of the same traffic.
    void setCorruption(double rate, quint32 seed);
    // Silent: everything read is dropped unanswered and nothing is written,
    // as if the processor had hung; lines read are still announced.
    void setSilent(bool silent) { m_silent = silent; }

    // --- what happened ---
    QList<Packet> received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    int framesIn() const { return m_framesIn; }
    int framesOut() const { return m_framesOut; }
    int badFramesIn() const { return m_badFramesIn; }
    int acksSent() const { return m_acksSent; }
    int corruptedBytesIn() const { return m_corruptedBytesIn; }
    int corruptedBytesOut() const { return m_corruptedBytesOut; }
    int corruptedFramesOut() const { return m_corruptedFramesOut; }
    qint64 nowMs() const;

signals:
    // Every line read from the library, exactly as it came off the wire.
    void lineReceived(const QByteArray& raw);
    // Every packet that passed the CRC check, acknowledgements included.
    void packetReceived(const InternalProcessorSim::Packet& packet);
    void frameRejected(const QByteArray& frame);
    void frameWritten(const QByteArray& frame);
    // Every byte crossing the pseudo-terminal, as the receiving side gets it (noise
    // included), in the pieces read or written; `fromRemote` is true for the library's.
    void lineBytes(bool fromRemote, const QByteArray& bytes);

private:
    void onReadable();
    void handleFrame(const QByteArray& raw);
    void writeFrame(QByteArray frame);
    void writeNow(const QByteArray& bytes);
    int addNoise(QByteArray& bytes);

    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
    QString m_linkPath;
    QSocketNotifier* m_notifier = nullptr;
    QByteArray m_rx;
    quint8 m_counter = 0;
    QHash<quint8, RequestHandler> m_handlers;
    bool m_withholdAcks = false;
    int m_ackDelayMs = 0;
    int m_corruptFrames = 0;
    int m_trickleChunk = 0;
    int m_trickleDelayMs = 0;
    QList<Packet> m_received;
    int m_framesIn = 0;
    int m_framesOut = 0;
    int m_badFramesIn = 0;
    int m_acksSent = 0;
    bool m_silent = false;
    double m_noiseRate = 0;
    QRandomGenerator m_noise;
    int m_corruptedBytesIn = 0;
    int m_corruptedBytesOut = 0;
    int m_corruptedFramesOut = 0;
    // The last class-1 or class-2 packet, to recognise a repeat of it.
    Packet m_lastData;
};

Q_DECLARE_METATYPE(InternalProcessorSim::Packet)

#endif
