#ifndef NORVIK_SIM_BASEUNITSIMULATOR_H
#define NORVIK_SIM_BASEUNITSIMULATOR_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>
#include <QVector>

class QTcpServer;
class QTcpSocket;
class QTimer;

// The base unit's side of R-Uzad over TCP: answers the remote's handshake, sends heartbeats,
// periodic data, commands, service forwards, power off and status, records what it receives,
// and misbehaves on request. Frames are encoded and decoded here independently of the
// remote's own code so that the two check each other. One client at a time; a new one
// replaces the old.
class BaseUnitSimulator : public QObject
{
    Q_OBJECT

public:
    struct Received
    {
        quint8 id;
        quint32 timestamp;
        QByteArray payload;
        qint64 receivedNs; // on the simulator's monotonic clock, see elapsedNs()
    };

    // Message ids and handshake codes as they travel on the wire.
    enum : quint8 {
        HEARTBEAT = 0,
        INIT = 1,
        INITACK = 2,
        CMD = 3,
        PERIODIC_DATA = 4,
        SERVICE_FORWARD = 5,
        POWER_OFF = 6,
        E_STOP = 7,
        BU_STATUS = 8
    };
    enum : quint16 {
        OK = 0,
        REMOTE_NOT_PAIRED = 1,
        PROTOCOL_VERSION_MISMATCH = 2,
        BU_NOT_READY = 3,
        APP_CHECKSUM_MISMATCH = 4,
        GENERIC = 5
    };

    explicit BaseUnitSimulator(QObject* parent = nullptr);
    ~BaseUnitSimulator() override;

    bool listen(const QHostAddress& address, quint16 port);
    QHostAddress serverAddress() const { return _address; }
    quint16 serverPort() const { return _port; }

    // Pairing: the base id this unit answers to and the application it was paired with.
    void setBaseId(quint16 baseId) { _baseId = baseId; }
    quint16 baseId() const { return _baseId; }
    void setAppDir(const QString& appDir);
    void setChecksum(const QByteArray& checksum) { _checksum = checksum; }
    QByteArray checksum() const { return _checksum; }
    void setReady(bool ready) { _ready = ready; }
    // Answers every handshake with this code and text instead of checking it; -1 checks again.
    void setForcedInitAck(int code, const QString& text = QString());
    static QString initAckText(quint16 code);

    // Traffic after a successful handshake. An interval of 0 sends nothing.
    void setHeartbeatInterval(int ms) { setTrafficInterval(_heartbeatTimer, ms); }
    void setPeriodicInterval(int ms) { setTrafficInterval(_periodicTimer, ms); }
    // Frame content; by default 64 bytes counting up with every frame.
    void setPeriodicData(const QByteArray& frame) { _periodicFrame = frame; }
    void setPeriodicSize(int size) { _periodicSize = size; }
    // Sent once right after every successful handshake when set.
    void setStatusOnInit(quint16 identity, quint8 state);

    void sendCommand(const QByteArray& cmd) { sendMessage(CMD, cmd); }
    void sendServiceForward(const QByteArray& data) { sendMessage(SERVICE_FORWARD, data); }
    void sendPowerOff() { sendMessage(POWER_OFF, QByteArray()); }
    void sendEmergencyStop() { sendMessage(E_STOP, QByteArray(1, '\0')); }
    void sendBuStatus(quint16 identity, quint8 state);
    void sendHeartbeat() { sendMessage(HEARTBEAT, QByteArray()); }
    void sendMessage(quint8 id, const QByteArray& payload);
    void sendRaw(const QByteArray& bytes);

    // Faults.
    void setSilent(bool silent) { _silent = silent; }
    bool isSilent() const { return _silent; }
    void dropConnection();
    void setRefuseConnections(bool refuse);
    // Switched off (the listener and the connection gone) and on again on the same address.
    void setRunning(bool running);
    // Writes the first `bytes` of a message and then ends the stream: the peer reads half a
    // message followed by the end of the connection.
    void cutInMessage(quint8 id, const QByteArray& payload, int bytes);
    // Writes every message in pieces of this many bytes, one piece per event-loop turn; 0 off.
    void setSplitSize(int bytes) { _splitSize = bytes; }
    void setGarbagePrefix(const QByteArray& garbage) { _garbage = garbage; }
    // Stamps outgoing messages this many milliseconds in the past.
    void setTimestampOffset(quint32 ms) { _timestampOffset = ms; }

    // What arrived.
    QVector<Received> received() const { return _received; }
    QVector<Received> received(quint8 id) const;
    int receivedCount(quint8 id) const;
    void clearReceived() { _received.clear(); }
    int connectionCount() const { return _connectionTimesNs.size(); }
    QVector<qint64> connectionTimesNs() const { return _connectionTimesNs; }
    bool hasClient() const { return !_client.isNull(); }
    bool isInitialized() const { return _initialized; }
    qint64 elapsedNs() const { return _clock.nsecsElapsed(); }

    static QByteArray encode(quint8 id, const QByteArray& payload, quint32 timestamp);
    static quint32 wallClock();

signals:
    void clientConnected();
    void clientDisconnected();
    void messageReceived(quint8 id, QByteArray payload);
    void handshakeAnswered(quint16 code);

private:
    void setTrafficInterval(QTimer* timer, int ms);
    void handleNewConnection();
    void handleReadyRead();
    void handleMessage(const Received& msg);
    void answerInit(const QByteArray& payload);
    void sendPeriodic();
    void writeOut(const QByteArray& bytes);
    void writeNextPiece();
    void startTraffic();
    void stopTraffic();

    QTcpServer* _server;
    QPointer<QTcpSocket> _client;
    QHostAddress _address;
    quint16 _port = 0;
    quint16 _baseId = 0;
    QByteArray _checksum;
    bool _ready = true;
    int _forcedCode = -1;
    QString _forcedText;
    bool _statusOnInit = false;
    quint16 _statusIdentity = 0;
    quint8 _statusState = 0;

    QTimer* _heartbeatTimer;
    QTimer* _periodicTimer;
    QTimer* _pieceTimer;
    QByteArray _periodicFrame;
    int _periodicSize = 64;
    quint32 _periodicCounter = 0;

    bool _silent = false;
    int _splitSize = 0;
    QByteArray _garbage;
    quint32 _timestampOffset = 0;
    QQueue<QByteArray> _pieces;

    bool _initialized = false;
    QByteArray _buffer;
    QVector<Received> _received;
    QVector<qint64> _connectionTimesNs;
    QElapsedTimer _clock;
};

#endif
