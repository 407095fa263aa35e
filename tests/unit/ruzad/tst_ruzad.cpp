// The R-Uzad connection: its stream parser, both sides of the handshake, what it sends
// and a real TCP stream; and the application checksum the handshake carries.
#include "baseunitsimulator.h"
#include "checksum.h"
#include "connection.h"
#include "messagelog.h"
#include "remoteworld.h"

#include <QCryptographicHash>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace RUzad;
using Chunks = QList<QByteArray>;

namespace {
const QByteArray kChecksum = QByteArray::fromHex("00112233445566778899aabbccddeeff");
const char kOutOfSync[] = "R-Uzad msg stream is out of sync! Origin: ORIGIN_FALLBACK";

QByteArray frame(quint8 id, const QByteArray& payload = QByteArray(), quint32 ts = 1000000)
{
    return BaseUnitSimulator::encode(id, payload, ts);
}

QByteArray initAck(quint16 code, const QByteArray& text = QByteArray(), quint32 ts = 1000000)
{
    QByteArray p(2, '\0');
    qToLittleEndian<quint16>(code, p.data());
    return frame(ID_INITACK, (p + text).leftJustified(42, '\0', true), ts);
}

QByteArray init(quint8 major, quint8 minor, quint16 baseId, const QByteArray& checksum)
{
    QByteArray p;
    p.append(char(major)).append(char(minor)).append("\x34\x12", 2);
    p.append(char(baseId & 0xff)).append(char(baseId >> 8)).append(checksum);
    return frame(ID_INIT, p);
}

QByteArray md5(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
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

class tst_RUzad : public QObject
{
    Q_OBJECT

private slots:
    // The stream parser fed whole, split, broken and stale input.
    void framing_data()
    {
        QTest::addColumn<Chunks>("chunks");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::addColumn<int>("afterFirstChunk"); // messages handed on after the first chunk
        QTest::addColumn<int>("remaining");
        QTest::addColumn<QString>("warning");
        const QByteArray cmd = frame(3, "\xaa\xbb");
        const QByteArray periodic = frame(4, QByteArray(64, '\x11'));
        const QByteArrayList both { "C:aabb", "P:" + QByteArray(64, '\x11').toHex() };
        Chunks bytes;
        for (char b : cmd + periodic)
            bytes << QByteArray(1, b);

        QTest::newRow("two in one read") << Chunks { cmd + periodic } << both << 2 << 0 << "";
        QTest::newRow("split at every byte") << bytes << both << 0 << 0 << "";
        QTest::newRow("garbage before a heartbeat")
            << Chunks { "\x01\x02\x03" + frame(0) } << QByteArrayList() << 0 << 0 << "";
        QTest::newRow("split inside the magic")
            << Chunks { "junkLr", "dA" + cmd.mid(4) } << both.mid(0, 1) << 0 << 0 << kOutOfSync;
        QTest::newRow("unknown id")
            << Chunks { frame(9, "zz") + cmd } << both.mid(0, 1) << 1 << 0
            << "Discarding R-Uzad message with unknown id: 9 | Origin: ORIGIN_FALLBACK";
        QTest::newRow("all dispatched kinds")
            << Chunks { frame(5, "\x01") + frame(6) + frame(7, QByteArray(1, '\0'))
                        + frame(8, "\x34\x12\x05") }
            << QByteArrayList { "S:01", "O:", "E:00", "B:341205" } << 4 << 0 << "";
        QTest::newRow("stale dropped, equal and newer pass")
            << Chunks { frame(3, "\x01", 9) + frame(4, "\x02", 8) + frame(3, "\x03", 9)
                        + frame(3, "\x04", 10) }
            << QByteArrayList { "C:01", "C:03", "C:04" } << 3 << 0 << "";
        QTest::newRow("fewer than 12 bytes left wait")
            << Chunks { cmd + "garbage" } << both.mid(0, 1) << 1 << 7 << "";
        // Over TCP an old handshake answer or service forward is taken (the base unit may have
        // restarted with another clock) and sets the clock back.
        // The remote's side of the handshake: a refusal ends the read, its text stops at a zero.
        QTest::newRow("TCP: refused answer")
            << Chunks { initAck(1, QByteArray("wrong BU\0junk", 13)) + cmd }
            << QByteArrayList { "X:E_REMOTE_NOT_PAIRED:wrong BU" } << 1 << 0
            << "R-Uzad initialization failed: E_REMOTE_NOT_PAIRED | Origin: ORIGIN_TCP";
        QTest::newRow("TCP: unknown refusal code")
            << Chunks { initAck(7, "?") } << QByteArrayList { "X:7:?" } << 1 << 0
            << "R-Uzad initialization failed: 7 | Origin: ORIGIN_TCP";
        QTest::newRow("TCP: stale handshake and forward pass, set the clock back")
            << Chunks { frame(0, {}, 9) + initAck(0, {}, 8) + frame(5, "\x05", 7)
                        + frame(3, "\x06", 7) + frame(4, "\x07", 6) }
            << QByteArrayList { "I:ORIGIN_TCP", "S:05", "C:06" } << 3 << 0 << "";
    }
    void framing()
    {
        QFETCH(Chunks, chunks);
        QFETCH(QByteArrayList, expected);
        QFETCH(QString, warning);
        const bool tcp = QByteArray(QTest::currentDataTag()).startsWith("TCP:");
        Connection conn(0x42, 0x1234, kChecksum);
        Recorder rec(&conn);
        QByteArray buffer;
        MessageLog log;
        if (!warning.isEmpty()) // warnings of the parser, criticals of the handshake
            QTest::ignoreMessage(tcp ? QtCriticalMsg : QtWarningMsg, qPrintable(warning));
        for (int i = 0; i < chunks.size(); ++i) {
            buffer.append(chunks.at(i));
            const MessageOrigin origin = tcp ? ORIGIN_TCP : ORIGIN_FALLBACK;
            QVERIFY(QMetaObject::invokeMethod(&conn, "parse", Qt::DirectConnection,
                                              Q_ARG(QByteArray&, buffer),
                                              Q_ARG(RUzad::MessageOrigin, origin)));
            if (i == 0)
                QTEST(rec.log.size(), "afterFirstChunk");
        }
        QCOMPARE(rec.log, expected);
        QTEST(buffer.size(), "remaining");
        QCOMPARE(log.messages(), warning.isEmpty() ? QStringList() : QStringList(warning));
        // Only an accepted TCP message keeps the TCP link alive.
        QCOMPARE(conn.isTcpActive(), tcp && !expected.isEmpty() && !expected[0].startsWith("X:"));
    }

    // A base unit that rebooted behind the tunnel stamps from an earlier time: the handshake
    // of the next fallback session is taken and restarts the clock, a late copy of it is not.
    // A message cut by the end of a session is dropped with it.
    void fallbackSessionAfterReboot()
    {
        Connection conn(0x42, 0x1234, kChecksum);
        Recorder rec(&conn);
        conn.handleFallback(frame(4, "\x01", 5000) + frame(4, QByteArray(40, 'z'), 5000).left(20));
        QTest::ignoreMessage(QtWarningMsg,
                             "Connection [ BU 66 ] <--> [ RU 4660 ] ( "
                             "ORIGIN_FALLBACK ) timed out due to inactivity...");
        conn.resetFallback();
        conn.handleFallback(initAck(0, {}, 20) + frame(4, "\x02", 21));
        conn.handleFallback(initAck(0, {}, 19) + frame(4, "\x03", 19));
        QCOMPARE(rec.log, QByteArrayList({ "P:01", "I:ORIGIN_FALLBACK", "P:02" }));
    }

    // The base unit's side of the handshake, reached through the fallback stream. Nothing
    // after a refused request in the same read is acted upon.
    void handshakeResponder()
    {
        Connection conn(0x42, 0x99, kChecksum);
        Recorder rec(&conn);
        QSignalSpy fallback(&conn, &Connection::sendFallback);
        QTest::ignoreMessage(QtInfoMsg, "R-Uzad initialized! Origin: ORIGIN_FALLBACK");
        conn.handleFallback(init(2, 7, 0x42, kChecksum) + frame(3, "\x01"));
        QCOMPARE(conn.remoteId(), 0x1234u);
        QTest::ignoreMessage(QtCriticalMsg,
                             "This BU [ 66 ] does not match the requested BU [ 67 "
                             "] from RU [ 4660 ]");
        conn.handleFallback(init(2, 1, 0x43, kChecksum) + frame(3, "\x02"));
        QCOMPARE(rec.log,
                 QByteArrayList({ "I:ORIGIN_FALLBACK", "C:01", "X:E_REMOTE_NOT_PAIRED:" }));
        QCOMPARE(fallback.size(), 2);
        QCOMPARE(fallback.at(0).at(0).value<Message>().serialize().mid(12), initAck(0).mid(12));
        QCOMPARE(fallback.at(1).at(0).value<Message>().serialize().mid(12), initAck(1).mid(12));
    }

    // Header bytes of every message as sent, and the ones offered to the tunnel also when
    // unconnected: all but heartbeats and service forwards.
    void sendOffersFallback()
    {
        Connection conn(0x42, 0x1234, kChecksum);
        QSignalSpy fallback(&conn, &Connection::sendFallback);
        const quint32 before = BaseUnitSimulator::wallClock();
        QByteArray headers;
        for (int id = ID_HEARTBEAT; id <= ID_BU_STATUS; ++id)
            conn.send(Message(MessageId(id)));
        for (const QList<QVariant>& offer : qAsConst(fallback))
            headers += offer.at(0).value<Message>().serialize().mid(4, 4);
        QCOMPARE(headers.toHex(),
                 QByteArray("0100160002002a000300100004000000060000000700010008000300"));
        const QByteArray beat = Message(ID_HEARTBEAT).serialize();
        QCOMPARE(beat.left(8).toHex(), QByteArray("4c72644100000000"));
        QVERIFY(qFromLittleEndian<quint32>(beat.constData() + 8) - before < 5000);
        QTest::ignoreMessage(QtCriticalMsg, "Invalid message!");
        conn.send(Message()); // a header not made for sending
        QCOMPARE(fallback.size(), 7);
    }

    // A real TCP stream: the socket options, the handshake answer with the heartbeat that
    // follows it, and the inactivity timeout.
    void tcpStream()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Connection conn(0x42, 0x1234, kChecksum);
        conn.findChild<QTimer*>("inactivity")->setInterval(600);
        Recorder rec(&conn);
        QSignalSpy timeouts(&conn, &Connection::timeout);
        const quint32 now = BaseUnitSimulator::wallClock();
        conn.connectToHost(server.serverAddress(), server.serverPort());
        QVERIFY(conn.isTcpActive()); // from the start of the attempt
        QTRY_VERIFY(server.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        QTRY_COMPARE(conn.state(), QAbstractSocket::ConnectedState);
        // No Nagle delay for a machine stop, and marked for low delay.
        QCOMPARE(conn.socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
        QCOMPARE(conn.socketOption(QAbstractSocket::TypeOfServiceOption).toInt(), 32);
        QTest::ignoreMessage(QtInfoMsg, "R-Uzad initialized! Origin: ORIGIN_TCP");
        peer->write(initAck(0, {}, now) + frame(4, "\x02\x03", now));
        QTRY_COMPARE(rec.log, QByteArrayList({ "I:ORIGIN_TCP", "P:0203" }));
        conn.send(Message(ID_POWER_OFF)); // after the answer's heartbeat; one more follows
        QTRY_VERIFY(peer->bytesAvailable() >= 36);
        const QByteArray out = peer->readAll();
        QCOMPARE(QByteArray() + out.at(4) + out.at(16) + out.at(28), QByteArray("\0\6\0", 3));
        QTest::ignoreMessage(QtWarningMsg,
                             "Connection [ BU 66 ] <--> [ RU 4660 ] ( "
                             "ORIGIN_TCP ) timed out due to inactivity...");
        QTRY_COMPARE(timeouts.size(), 1);
    }

    // Key tables, compiled QML, hidden folders and thumbnails are left out of the digest;
    // the order is the paths' sorted order, upper case before lower case, and a folder's
    // files come where its path sorts. Names are not hashed, only their order counts.
    void skipRulesAndOrder()
    {
        QTemporaryDir dir;
        for (const char* skipped :
             { "config/keys.csv", "ui/Main.qmlc", "lib/.git/config", "img/THUMBS.db" })
            QVERIFY(remoteworld::writeFile(dir.filePath(skipped), "skipped;"));
        QVERIFY(remoteworld::writeFile(dir.filePath("b.txt"), "B"));
        QVERIFY(remoteworld::writeFile(dir.filePath("a.txt"), "A"));
        QVERIFY(remoteworld::writeFile(dir.filePath("sub/c.qml"), "C"));
        QVERIFY(remoteworld::writeFile(dir.filePath("Keys.csv"), "K"));
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("KABC"));
        QVERIFY(QFile::rename(dir.filePath("a.txt"), dir.filePath("c.txt")));
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("KBAC"));
    }

    // A FIFO without a writer blocks whoever opens it: it must not stop the link's start.
    void fifoSkipped()
    {
        QTemporaryDir dir;
        QVERIFY(remoteworld::writeFile(dir.filePath("app.csv"), "base;"));
        const QByteArray fifo = QFile::encodeName(dir.filePath("pipe"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        auto digest = std::async(std::launch::async,
                                 [&dir] { return RUzad::calculateChecksum(dir.path()); });
        const bool prompt = digest.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!prompt) // releases the blocked reader, so that the test can end
            ::close(::open(fifo.constData(), O_WRONLY | O_NONBLOCK));
        QVERIFY(prompt);
        QCOMPARE(digest.get(), md5("base;"));
    }
};

QTEST_GUILESS_MAIN(tst_RUzad)
#include "tst_ruzad.moc"
