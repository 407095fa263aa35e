#include "client.h"
#include "message.h"

#include <QDateTime>
#include <QThread>
#include <QtTest>

#include <atomic>

using namespace RUzad;

class Sink : public QObject
{
    Q_OBJECT
public:
    QThread* thread = nullptr;
    Message message;
    MessageOrigin origin = ORIGIN_TCP;
    ErrorCode code = E_OK;
    std::atomic<bool> done { false };
public slots:
    void take(RUzad::Message msg, RUzad::MessageOrigin o, RUzad::ErrorCode c)
    {
        thread = QThread::currentThread();
        message = msg;
        origin = o;
        code = c;
        done.store(true, std::memory_order_release); // publishes the fields to the test
    }
};

class tst_RUzadMessage : public QObject
{
    Q_OBJECT

private slots:
    void heartbeatBytes()
    {
        const quint32 before = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch());
        const QByteArray bytes = Message(ID_HEARTBEAT).serialize();
        const quint32 after = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch());

        QCOMPARE(bytes.size(), 12);
        QCOMPARE(bytes.left(8), QByteArray::fromHex("4c72644100000000"));
        const quint32 stamp = qFromLittleEndian<quint32>(bytes.constData() + 8);
        QVERIFY2(stamp - before <= after - before, "timestamp is the low 32 bits of now in ms");
    }

    void defaultSizes_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("size");
        QTest::newRow("heartbeat") << int(ID_HEARTBEAT) << 0;
        QTest::newRow("init") << int(ID_INIT) << 22;
        QTest::newRow("init ack") << int(ID_INITACK) << 42;
        QTest::newRow("command") << int(ID_CMD) << 16;
        QTest::newRow("periodic data") << int(ID_PERIODIC_DATA) << 0;
        QTest::newRow("service forward") << int(ID_SERVICE_FORWARD) << 0;
        QTest::newRow("power off") << int(ID_POWER_OFF) << 0;
        QTest::newRow("emergency stop") << int(ID_E_STOP) << 1;
        QTest::newRow("base unit status") << int(ID_BU_STATUS) << 3;
    }
    void defaultSizes()
    {
        QFETCH(int, id);
        QFETCH(int, size);
        const Header header(static_cast<MessageId>(id));
        const QByteArray bytes = header.serialize();
        QCOMPARE(bytes.size(), 12);
        QCOMPARE(quint8(bytes.at(4)), quint8(id));
        QCOMPARE(quint8(bytes.at(5)), quint8(0));
        QCOMPARE(int(qFromLittleEndian<quint16>(bytes.constData() + 6)), size);
    }

    void buStatusMessage()
    {
        Message msg(ID_BU_STATUS);
        msg._payload._payload = QByteArray::fromHex("341205");
        QCOMPARE(msg._header._size, quint16(3));
        const QByteArray bytes = msg.serialize();
        QCOMPARE(bytes.size(), 15);
        QCOMPARE(bytes.mid(4, 4), QByteArray::fromHex("08000300"));
        QCOMPARE(bytes.right(3), QByteArray::fromHex("341205"));
    }

    void headerFromBytes()
    {
        const Header header(QByteArray::fromHex("4c72644104004000785634120000"));
        QCOMPARE(header._magic, MAGIC);
        QCOMPARE(header._id, quint8(ID_PERIODIC_DATA));
        QCOMPARE(header._spare, quint8(0));
        QCOMPARE(header._size, quint16(64));
        QCOMPARE(header._timestamp, quint32(0x12345678));
        QCOMPARE(header.serialize(), QByteArray::fromHex("4c7264410400400078563412"));
    }

    void initMessage_data()
    {
        QTest::addColumn<QByteArray>("checksum");
        QTest::addColumn<QByteArray>("expectedTail");
        const QByteArray digest = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        QTest::newRow("16-byte checksum") << digest << digest;
        QTest::newRow("short checksum is padded")
            << QByteArray::fromHex("abcd") << QByteArray::fromHex("abcd").leftJustified(16, '\0');
        QTest::newRow("long checksum is cut") << digest + "xyz" << digest;
    }
    void initMessage()
    {
        QFETCH(QByteArray, checksum);
        QFETCH(QByteArray, expectedTail);
        Client client(0x0042, 0x1234, checksum);
        const Message init = client.generateInitMsg();
        QCOMPARE(init.id(), ID_INIT);
        QCOMPARE(init._header._size, quint16(22));
        const QByteArray payload = init._payload._payload;
        QCOMPARE(payload.size(), 22);
        QCOMPARE(payload.left(6), QByteArray::fromHex("020134124200"));
        QCOMPARE(payload.mid(6), expectedTail);
        QCOMPARE(init.serialize().size(), 34);
    }

    void enumerationNames()
    {
        QCOMPARE(enumName(ORIGIN_FALLBACK), QByteArray("ORIGIN_FALLBACK"));
        QCOMPARE(enumName(E_APP_CHECKSUM_MISMATCH), QByteArray("E_APP_CHECKSUM_MISMATCH"));
        QCOMPARE(enumName(static_cast<ErrorCode>(7)), QByteArray("7"));
        QCOMPARE(enumName(STATE_FALLBACK), QByteArray("STATE_FALLBACK"));
    }

    // The link lives on a thread of its own; its messages and enumerations cross threads queued.
    void queuedAcrossThreads()
    {
        registerMetaTypes();
        QThread worker;
        Sink sink;
        sink.moveToThread(&worker);
        worker.start();

        Message msg(ID_CMD);
        msg._header._size = 2;
        msg._payload._payload = "go";
        QVERIFY(QMetaObject::invokeMethod(
            &sink, "take", Qt::QueuedConnection, Q_ARG(RUzad::Message, msg),
            Q_ARG(RUzad::MessageOrigin, ORIGIN_FALLBACK), Q_ARG(RUzad::ErrorCode, E_BU_NOT_READY)));
        QTRY_VERIFY(sink.done.load(std::memory_order_acquire));
        worker.quit();
        worker.wait();
        QCOMPARE(sink.thread, &worker);
        QCOMPARE(sink.message.serialize(), msg.serialize());
        QCOMPARE(sink.origin, ORIGIN_FALLBACK);
        QCOMPARE(sink.code, E_BU_NOT_READY);
    }
};

QTEST_GUILESS_MAIN(tst_RUzadMessage)
#include "tst_ruzadmessage.moc"
