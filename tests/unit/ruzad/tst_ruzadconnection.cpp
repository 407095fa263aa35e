#include "baseunitsimulator.h"
#include "connection.h"

#include <QTcpServer>
#include <QtTest>

using namespace RUzad;
using Chunks = QList<QByteArray>;

namespace {
const QByteArray kChecksum = QByteArray::fromHex("00112233445566778899aabbccddeeff");
constexpr quint32 kNow = 1000000;

QByteArray frame(quint8 id, const QByteArray& payload = QByteArray(), quint32 ts = kNow)
{
    return BaseUnitSimulator::encode(id, payload, ts);
}

QByteArray initPayload(quint8 major, quint8 minor, quint16 baseId, const QByteArray& checksum)
{
    QByteArray p;
    p.append(char(major)).append(char(minor)).append("\x34\x12", 2);
    p.append(char(baseId & 0xff)).append(char(baseId >> 8)).append(checksum);
    return p;
}

QByteArray initAckPayload(quint16 code, const QByteArray& text)
{
    QByteArray p(2, '\0');
    qToLittleEndian<quint16>(code, p.data());
    return (p + text).leftJustified(42, '\0', true);
}
} // namespace

// Writes down every message the connection hands on, as "id:payload-hex".
class Recorder : public QObject
{
public:
    explicit Recorder(Connection* c)
    {
        auto note = [this](char tag) {
            return [this, tag](const QByteArray& p) { log << tag + (":" + p.toHex()); };
        };
        connect(c, &Connection::readyReadCmd, this, note('C'));
        connect(c, &Connection::readyReadPeriodicData, this, note('P'));
        connect(c, &Connection::readyReadServiceForward, this, note('S'));
        connect(c, &Connection::readyReadEmergencyStop, this, note('E'));
        connect(c, &Connection::readyReadBuStatus, this, note('B'));
        connect(c, &Connection::readyReadPowerOff, this, [this] { log << "O:"; });
        connect(c, &Connection::initialized, this,
                [this](MessageOrigin o) { log << "I:" + enumName(o); });
        connect(c, &Connection::configError, this, [this](ErrorCode e, const QString& s) {
            log << "X:" + enumName(e) + ":" + s.toUtf8();
        });
    }
    QByteArrayList log;
};

class tst_RUzadConnection : public QObject
{
    Q_OBJECT

    static void parse(Connection& c, QByteArray& buffer, MessageOrigin origin)
    {
        QVERIFY(QMetaObject::invokeMethod(&c, "parse", Qt::DirectConnection,
                                          Q_ARG(QByteArray&, buffer),
                                          Q_ARG(RUzad::MessageOrigin, origin)));
    }

private slots:
    void framing_data()
    {
        QTest::addColumn<Chunks>("chunks");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::addColumn<int>("afterFirstChunk"); // messages handed on after the first chunk
        QTest::addColumn<int>("remaining");
        QTest::addColumn<QString>("warning");

        const QByteArray cmd = frame(3, "\xaa\xbb");
        const QByteArray periodic = frame(4, QByteArray(64, '\x11'));
        const QByteArray status = frame(8, "\x34\x12\x05");
        const QByteArrayList cmdThenPeriodic { "C:aabb", "P:" + QByteArray(64, '\x11').toHex() };

        QTest::newRow("two messages in one read")
            << Chunks { cmd + periodic } << cmdThenPeriodic << 2 << 0 << QString();
        QTest::newRow("garbage before a heartbeat")
            << Chunks { "\x01\x02\x03" + frame(0) } << QByteArrayList() << 0 << 0 << QString();
        QTest::newRow("split across reads") << Chunks { periodic.left(20), periodic.mid(20) }
                                            << cmdThenPeriodic.mid(1) << 0 << 0 << QString();
        // The junk is dropped, the start of the magic kept for the next read.
        QTest::newRow("split inside the magic")
            << Chunks { "junkLr", "dA" + cmd.mid(4) } << cmdThenPeriodic.mid(0, 1) << 0 << 0
            << "R-Uzad msg stream is out of sync! Origin: ORIGIN_FALLBACK";
        QTest::newRow("split inside the header") << Chunks { cmd.left(7), cmd.mid(7) + periodic }
                                                 << cmdThenPeriodic << 0 << 0 << QString();
        Chunks bytes;
        for (char b : cmd + status)
            bytes << QByteArray(1, b);
        QTest::newRow("one byte per read")
            << bytes << QByteArrayList { "C:aabb", "B:341205" } << 0 << 0 << QString();
        QTest::newRow("no magic at all")
            << Chunks { "no message here" } << QByteArrayList() << 0 << 0
            << "R-Uzad msg stream is out of sync! Origin: ORIGIN_FALLBACK";
        QTest::newRow("incomplete message waits")
            << Chunks { "xx" + periodic.left(30) } << QByteArrayList() << 0 << 30 << QString();
        QTest::newRow("unknown id")
            << Chunks { frame(9, "zz") + cmd } << cmdThenPeriodic.mid(0, 1) << 1 << 0
            << "Discarding R-Uzad message with unknown id: 9 | Origin: "
               "ORIGIN_FALLBACK";
        QTest::newRow("all dispatched kinds")
            << Chunks { frame(5, "\x01") + frame(6) + frame(7, QByteArray(1, '\0')) + status }
            << QByteArrayList { "S:01", "O:", "E:00", "B:341205" } << 4 << 0 << QString();
        QTest::newRow("equal timestamps pass")
            << Chunks { frame(3, "\x01", 5) + frame(3, "\x02", 5) }
            << QByteArrayList { "C:01", "C:02" } << 2 << 0 << QString();
        QTest::newRow("stale message dropped, the rest parsed")
            << Chunks { frame(3, "\x01", 9) + frame(4, "\x02", 8) + frame(3, "\x03", 10) }
            << QByteArrayList { "C:01", "C:03" } << 2 << 0 << QString();
        QTest::newRow("fewer than 12 bytes left wait")
            << Chunks { cmd + "garbage" } << cmdThenPeriodic.mid(0, 1) << 1 << 7 << QString();
    }
    void framing()
    {
        QFETCH(Chunks, chunks);
        QFETCH(QByteArrayList, expected);
        QFETCH(int, afterFirstChunk);
        QFETCH(int, remaining);
        QFETCH(QString, warning);

        Connection conn(0x42, 0x1234, kChecksum);
        Recorder rec(&conn);
        QByteArray buffer;
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        for (int i = 0; i < chunks.size(); ++i) {
            buffer.append(chunks.at(i));
            parse(conn, buffer, ORIGIN_FALLBACK);
            if (i == 0)
                QCOMPARE(rec.log.size(), afterFirstChunk);
        }
        QCOMPARE(rec.log, expected);
        QCOMPARE(buffer.size(), remaining);
    }

    // Older than the last accepted message: only the handshake and service forwards over TCP
    // get through, as the base unit may have restarted with another clock.
    void staleFilter_data()
    {
        QTest::addColumn<int>("origin");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray ack = initAckPayload(0, QByteArray());
        QTest::newRow("periodic over TCP")
            << int(ORIGIN_TCP) << frame(4, "\x07", 1) << QByteArray();
        QTest::newRow("command over TCP") << int(ORIGIN_TCP) << frame(3, "\x07", 1) << QByteArray();
        QTest::newRow("init ack over TCP")
            << int(ORIGIN_TCP) << frame(2, ack, 1) << QByteArray("I:ORIGIN_TCP");
        QTest::newRow("service forward over TCP")
            << int(ORIGIN_TCP) << frame(5, "\x07", 1) << QByteArray("S:07");
        QTest::newRow("init ack over fallback")
            << int(ORIGIN_FALLBACK) << frame(2, ack, 1) << QByteArray();
        QTest::newRow("service forward over fallback")
            << int(ORIGIN_FALLBACK) << frame(5, "\x07", 1) << QByteArray();
    }
    void staleFilter()
    {
        QFETCH(int, origin);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, expected);
        Connection conn(0x42, 0x1234, kChecksum);
        Recorder rec(&conn);
        // The other stream sets the shared clock.
        QByteArray other = frame(0, QByteArray(), 100);
        parse(conn, other, origin == ORIGIN_TCP ? ORIGIN_FALLBACK : ORIGIN_TCP);
        QByteArray buffer = message;
        parse(conn, buffer, MessageOrigin(origin));
        QCOMPARE(rec.log.value(0), expected);
        QVERIFY(buffer.isEmpty());
        // A message accepted despite its age sets the clock back.
        QByteArray next = frame(3, "\x09", 2);
        parse(conn, next, MessageOrigin(origin));
        QCOMPARE(rec.log.contains("C:09"), !expected.isEmpty());
    }

    // The base unit's side of the handshake, reached through the fallback stream.
    void handshakeResponder_data()
    {
        QTest::addColumn<QByteArray>("init");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("critical");
        QTest::newRow("accepted") << initPayload(2, 1, 0x42, kChecksum) << int(E_OK) << QString();
        QTest::newRow("newer minor version")
            << initPayload(2, 7, 0x42, kChecksum) << int(E_OK) << QString();
        QTest::newRow("major version 3")
            << initPayload(3, 1, 0x42, kChecksum) << int(E_PROTOCOL_VERSION_MISMATCH)
            << "Available protocol version 2 1 does not match support requested version 3 1";
        QTest::newRow("minor version 0")
            << initPayload(2, 0, 0x42, kChecksum) << int(E_PROTOCOL_VERSION_MISMATCH)
            << "Available protocol version 2 1 does not match support requested version 2 0";
        QTest::newRow("other base unit")
            << initPayload(2, 1, 0x43, kChecksum) << int(E_REMOTE_NOT_PAIRED)
            << "This BU [ 66 ] does not match the requested BU [ 67 ] from RU [ 4660 ]";
        QTest::newRow("other application")
            << initPayload(2, 1, 0x42, QByteArray(16, '\x01')) << int(E_APP_CHECKSUM_MISMATCH)
            << "Application checksums do not match. Remote is paired, but config is out of sync.";
        QTest::newRow("truncated request")
            << initPayload(2, 1, 0x42, kChecksum).left(10) << int(E_APP_CHECKSUM_MISMATCH)
            << "Application checksums do not match. Remote is paired, but config is out of sync.";
    }
    void handshakeResponder()
    {
        QFETCH(QByteArray, init);
        QFETCH(int, code);
        QFETCH(QString, critical);
        Connection conn(0x42, 0x99, kChecksum);
        Recorder rec(&conn);
        QSignalSpy fallback(&conn, &Connection::sendFallback);
        QSignalSpy timeouts(&conn, &Connection::timeout);
        if (critical.isEmpty())
            QTest::ignoreMessage(QtInfoMsg, "R-Uzad initialized! Origin: ORIGIN_FALLBACK");
        else
            QTest::ignoreMessage(QtCriticalMsg, qPrintable(critical));

        conn.handleFallback(frame(1, init) + frame(3, "\x01"));
        QVERIFY(conn.isFallbackActive());
        QCOMPARE(conn.remoteId(), 0x1234u);
        QCOMPARE(fallback.size(), 1);
        const Message ack = fallback.at(0).at(0).value<Message>();
        QCOMPARE(ack.id(), ID_INITACK);
        QCOMPARE(ack._header._size, quint16(42));
        QCOMPARE(ack._payload._payload, initAckPayload(quint16(code), QByteArray()));
        if (code == E_OK) {
            QCOMPARE(rec.log, QByteArrayList({ "I:ORIGIN_FALLBACK", "C:01" }));
        } else {
            // Nothing after a refused handshake in the same read is acted upon.
            QCOMPARE(rec.log, QByteArrayList { "X:" + enumName(ErrorCode(code)) + ":" });
        }

        // Going down clears the stream and reports it.
        QTest::ignoreMessage(QtWarningMsg,
                             "Connection [ BU 66 ] <--> [ RU 4660 ] ( "
                             "ORIGIN_FALLBACK ) timed out due to inactivity...");
        conn.resetFallback();
        QVERIFY(!conn.isFallbackActive());
        QCOMPARE(timeouts.size(), 1);
        QCOMPARE(timeouts.at(0).at(0).value<MessageOrigin>(), ORIGIN_FALLBACK);
    }

    // The remote's side: what the base unit's answer turns into.
    void handshakeAnswer_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("ok") << 0 << QByteArray() << QByteArray("I:ORIGIN_TCP");
        QTest::newRow("not paired")
            << 1 << QByteArray("wrong BU") << QByteArray("X:E_REMOTE_NOT_PAIRED:wrong BU");
        QTest::newRow("protocol") << 2 << QByteArray("v3 only")
                                  << QByteArray("X:E_PROTOCOL_VERSION_MISMATCH:v3 only");
        QTest::newRow("not ready") << 3 << QByteArray() << QByteArray("X:E_BU_NOT_READY:");
        QTest::newRow("checksum") << 4 << QByteArray("pair again")
                                  << QByteArray("X:E_APP_CHECKSUM_MISMATCH:pair again");
        QTest::newRow("generic, 40 bytes")
            << 5 << QByteArray(40, 'g') << "X:E_GENERIC:" + QByteArray(40, 'g');
        QTest::newRow("text stops at zero")
            << 5 << QByteArray("ab\0cd", 5) << QByteArray("X:E_GENERIC:ab");
        QTest::newRow("utf-8 text")
            << 5 << QByteArray("Druck \xc3\xbc") + "" << QByteArray("X:E_GENERIC:Druck \xc3\xbc");
        QTest::newRow("unknown code") << 7 << QByteArray("?") << QByteArray("X:7:?");
    }
    void handshakeAnswer()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        Connection conn(0x42, 0x1234, kChecksum);
        Recorder rec(&conn);
        if (code == 0) {
            QTest::ignoreMessage(QtInfoMsg, "R-Uzad initialized! Origin: ORIGIN_TCP");
        } else {
            const QByteArray name = enumName(ErrorCode(code));
            QTest::ignoreMessage(QtCriticalMsg,
                                 "R-Uzad initialization failed: " + name + " | Origin: ORIGIN_TCP");
        }
        QByteArray buffer = frame(2, initAckPayload(quint16(code), text));
        parse(conn, buffer, ORIGIN_TCP);
        QCOMPARE(rec.log, QByteArrayList { expected });
        QCOMPARE(conn.isTcpActive(), code == 0);
    }

    void sendOffersFallback_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("offered");
        QTest::newRow("heartbeat") << int(ID_HEARTBEAT) << false;
        QTest::newRow("init") << int(ID_INIT) << true;
        QTest::newRow("init ack") << int(ID_INITACK) << true;
        QTest::newRow("command") << int(ID_CMD) << true;
        QTest::newRow("periodic data") << int(ID_PERIODIC_DATA) << true;
        QTest::newRow("service forward") << int(ID_SERVICE_FORWARD) << false;
        QTest::newRow("power off") << int(ID_POWER_OFF) << true;
        QTest::newRow("emergency stop") << int(ID_E_STOP) << true;
        QTest::newRow("status") << int(ID_BU_STATUS) << true;
    }
    void sendOffersFallback()
    {
        QFETCH(int, id);
        QFETCH(bool, offered);
        Connection conn(0x42, 0x1234, kChecksum); // never connected
        QSignalSpy fallback(&conn, &Connection::sendFallback);
        const Message msg { MessageId(id) };
        conn.send(msg);
        QCOMPARE(fallback.size(), offered ? 1 : 0);
        if (offered)
            QCOMPARE(fallback.at(0).at(0).value<Message>().serialize(), msg.serialize());
    }

    void invalidMessageNotSent()
    {
        Connection conn(0x42, 0x1234, kChecksum);
        QSignalSpy fallback(&conn, &Connection::sendFallback);
        QTest::ignoreMessage(QtCriticalMsg, "Invalid message!");
        conn.send(Message()); // a header not made for sending
        QCOMPARE(fallback.size(), 0);
    }

    void emptyInput()
    {
        Connection conn(0x42, 0x1234, kChecksum);
        QTest::ignoreMessage(QtWarningMsg, "Discarding empty R-Uzad message (fallback).");
        conn.handleFallback(QByteArray());
        QVERIFY(!conn.isFallbackActive());
    }

    // The socket path: reads of a real TCP stream, the inactivity timer and its timeout.
    void tcpStream()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Connection conn(0x42, 0x1234, kChecksum);
        Recorder rec(&conn);
        QSignalSpy timeouts(&conn, &Connection::timeout);
        QSignalSpy reads(&conn, &QIODevice::readyRead);
        conn.connectToHost(server.serverAddress(), server.serverPort());
        QVERIFY(conn.isTcpActive()); // from the start of the attempt
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* peer = server.nextPendingConnection();
        QTRY_COMPARE(conn.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(conn.socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
        QCOMPARE(conn.socketOption(QAbstractSocket::TypeOfServiceOption).toInt(), 32);

        const QByteArray now = BaseUnitSimulator::encode(3, "\x01", BaseUnitSimulator::wallClock());
        const QByteArray periodic
            = BaseUnitSimulator::encode(4, "\x02\x03", BaseUnitSimulator::wallClock());
        peer->write(now + periodic.left(5));
        QTRY_COMPARE(rec.log, QByteArrayList { "C:01" });
        const int readsBefore = reads.size();
        peer->write(periodic.mid(5, 8));
        QTRY_VERIFY(reads.size() > readsBefore);
        QCOMPARE(rec.log.size(), 1);
        peer->write(periodic.mid(13));
        QTRY_COMPARE(rec.log, QByteArrayList({ "C:01", "P:0203" }));

        // The heartbeat keeps the peer's timer alive once something was written.
        QSignalSpy peerReads(peer, &QIODevice::readyRead);
        conn.send(Message(ID_POWER_OFF));
        QTRY_VERIFY(peer->bytesAvailable() >= 24);
        QCOMPARE(peer->read(12).mid(4, 4), QByteArray::fromHex("06000000"));
        QCOMPARE(peer->read(12).mid(4, 4), QByteArray::fromHex("00000000"));

        QTest::ignoreMessage(QtWarningMsg,
                             "Connection [ BU 66 ] <--> [ RU 4660 ] ( ORIGIN_TCP ) "
                             "timed out due to inactivity...");
        QTRY_COMPARE_WITH_TIMEOUT(timeouts.size(), 1, 6000);
        QCOMPARE(timeouts.at(0).at(0).value<MessageOrigin>(), ORIGIN_TCP);
        QVERIFY(!conn.isTcpActive());
        delete peer;
    }

    void socketErrorReported()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Connection conn(0x42, 0x1234, kChecksum);
        QSignalSpy errors(&conn, &Connection::connectionError);
        conn.connectToHost(server.serverAddress(), server.serverPort());
        QTRY_VERIFY(server.hasPendingConnections());
        QTRY_COMPARE(conn.state(), QAbstractSocket::ConnectedState);
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("^R-Uzad connection error: "
                                                "QAbstractSocket::RemoteHostClosedError .+"));
        delete server.nextPendingConnection();
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(conn.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!conn.isTcpActive());
    }
};

QTEST_GUILESS_MAIN(tst_RUzadConnection)
#include "tst_ruzadconnection.moc"
