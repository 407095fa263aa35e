// The transport layer on its own: frames are fed in through
// readDataFromInternal and taken from sendOnInternal. No device exists in
// the private sysroot, so the serial port below stays silent.
#include "crcstd32.h"
#include "frame_layer.h"
#include "internalprocessorsim.h"
#include "transport_layer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray frame(quint8 cls, quint8 number, quint8 service, const QByteArray& payload = {})
{
    return InternalProcessorSim::frame(cls, number, service, payload);
}
} // namespace

class tst_TransportLayer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_sysroot;
    TransportLayer* m_layer = nullptr;
    QSignalSpy* m_sent = nullptr;
    QSignalSpy* m_delivered = nullptr;

    // Sends a class-1 packet and acknowledges it, so that the counter advances.
    void sendAndAck(quint8 service)
    {
        const int before = m_sent->count();
        m_layer->readDataFromService(QByteArray("x"), Internal, service, 1);
        QCOMPARE(m_sent->count(), before + 1);
        const QByteArray wire = m_sent->last().at(0).toByteArray();
        const quint8 number = quint8(wire.at(1)) & 0x3F;
        m_layer->readDataFromInternal(frame(3, number, service));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sysroot.isValid());
        qputenv("NORVIK_SYSROOT", m_sysroot.path().toLocal8Bit());
    }

    void init()
    {
        m_layer = new TransportLayer;
        m_sent = new QSignalSpy(m_layer, &TransportLayer::sendOnInternal);
        m_delivered = new QSignalSpy(m_layer, &TransportLayer::readyRead);
    }

    void cleanup()
    {
        delete m_sent;
        delete m_delivered;
        delete m_layer;
    }

    void wireVectors()
    {
        m_layer->readDataFromService(QByteArray::fromHex("01"), Internal, 0, 1);
        m_layer->readDataFromService(QByteArray::fromHex("00"), Internal, 0, 2);
        QCOMPARE(m_sent->count(), 1); // the request waits for the first packet's acknowledgement
        QCOMPARE(m_sent->at(0).at(0).toByteArray(), QByteArray::fromHex("82400001C58E41770A"));
        m_layer->readDataFromInternal(frame(3, 0, 0));
        QCOMPARE(m_sent->count(), 2);
        QCOMPARE(m_sent->at(1).at(0).toByteArray(),
                 QByteArray::fromHex("82810000"
                                     "5AEA9207"
                                     "0A"));
        QCOMPARE(m_delivered->count(), 0); // a transport acknowledgement is not delivered
    }

    void acknowledgementRemovesPacket()
    {
        for (int i = 0; i < 5; ++i)
            sendAndAck(1);
        QSignalSpy failed(m_layer, &TransportLayer::internalLinkFailed);
        m_layer->readDataFromService(QByteArray("P"), Internal, 3, 1);
        const QByteArray wire = m_sent->last().at(0).toByteArray();
        QCOMPARE(quint8(wire.at(1)), quint8(0x45)); // class 1, number 5
        QCOMPARE(quint8(wire.at(2)), quint8(3));
        m_layer->readDataFromInternal(QByteArray::fromHex("82C503590316050A"));
        QCOMPARE(m_delivered->count(), 0);
        // Nothing is retransmitted once acknowledged.
        const int sent = m_sent->count();
        QTest::qWait(250);
        QCOMPARE(m_sent->count(), sent);
        QCOMPARE(failed.count(), 0);
    }

    void retransmissionAndFailure()
    {
        QSignalSpy failed(m_layer, &TransportLayer::internalLinkFailed);
        QElapsedTimer clock;
        QVector<qint64> times;
        connect(m_layer, &TransportLayer::sendOnInternal, this,
                [&] { times.append(clock.elapsed()); });
        clock.start();
        m_layer->readDataFromService(QByteArray("A"), Internal, 3, 1);
        m_layer->readDataFromService(QByteArray("B"), Internal, 3, 1);
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
        QCOMPARE(m_sent->count(), 3);
        QCOMPARE(m_sent->at(0), m_sent->at(1));
        QCOMPARE(m_sent->at(1), m_sent->at(2));
        // 50 ms apart; the upper margin allows for a loaded machine.
        for (int i = 1; i < 3; ++i) {
            const qint64 gap = times[i] - times[i - 1];
            QVERIFY2(gap >= 45 && gap < 1000, qPrintable(QString::number(gap)));
        }
        // The second packet went down with the first: the buffer is empty.
        QTest::qWait(200);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(m_sent->count(), 3);
        // The link carries on after a failure.
        m_layer->readDataFromService(QByteArray("C"), Internal, 3, 1);
        QCOMPARE(m_sent->count(), 4);
        QCOMPARE(m_sent->last().at(0).toByteArray(), frame(1, 2, 3, "C"));
    }

    void packetNumbersWrapAt64()
    {
        for (int i = 0; i < 64; ++i)
            sendAndAck(1);
        // Answers do not take numbers from the counter.
        m_layer->readDataFromInternal(frame(2, 17, 2, "q"));
        m_layer->readDataFromService(QByteArray("a"), Internal, 2, 3);
        m_layer->readDataFromService(QByteArray("p"), Internal, 1, 1);
        QCOMPARE(m_sent->last().at(0).toByteArray(), frame(1, 0, 1, "p"));
    }

    void requestsFromTheInternalProcessor()
    {
        m_layer->readDataFromInternal(frame(2, 17, 2, "r1"));
        m_layer->readDataFromInternal(frame(2, 18, 2, "r2"));
        QCOMPARE(m_delivered->count(), 2);
        QCOMPARE(m_delivered->at(0).at(0).toByteArray(), QByteArray("r1"));
        QCOMPARE(m_delivered->at(0).at(2).toUInt(), 2u);
        QCOMPARE(m_delivered->at(0).at(3).toUInt(), 2u);
        QCOMPARE(m_sent->count(), 0); // no transport acknowledgement for a request

        m_layer->readDataFromService(QByteArray("a1"), Internal, 2, 3);
        m_layer->readDataFromService(QByteArray("a2"), Internal, 2, 3);
        m_layer->readDataFromService(QByteArray("a3"), Internal, 2, 3); // nothing left to answer
        m_layer->readDataFromService(QByteArray("x"), Internal, 4, 3); // nothing asked of service 4
        QCOMPARE(m_sent->count(), 2);
        QCOMPARE(m_sent->at(0).at(0).toByteArray(), frame(3, 17, 2, "a1"));
        QCOMPARE(m_sent->at(1).at(0).toByteArray(), frame(3, 18, 2, "a2"));
    }

    void openRequestsAreBounded()
    {
        QTest::ignoreMessage(
            QtWarningMsg,
            "TransportLayer: service 2 has 64 unanswered requests, dropping the oldest");
        for (int i = 0; i < 65; ++i)
            m_layer->readDataFromInternal(frame(2, quint8(i & 0x3F), 2, "r"));
        // The first request was dropped: answers pair with requests 1 .. 63, 0.
        m_layer->readDataFromService(QByteArray("a"), Internal, 2, 3);
        QCOMPARE(m_sent->last().at(0).toByteArray(), frame(3, 1, 2, "a"));
    }

    void answersToOwnRequests()
    {
        for (int i = 0; i < 9; ++i)
            sendAndAck(1);
        m_layer->readDataFromService(QByteArray("req"), Internal, 2, 2);
        QCOMPARE(m_sent->last().at(0).toByteArray(), frame(2, 9, 2, "req"));
        m_delivered->clear();
        // An answer for another service ends the transmission but is not delivered.
        m_layer->readDataFromInternal(frame(3, 9, 1, "other"));
        QCOMPARE(m_delivered->count(), 0);
        m_layer->readDataFromInternal(frame(3, 9, 2, "ans"));
        m_layer->readDataFromInternal(frame(3, 9, 2, "ans"));
        QCOMPARE(m_delivered->count(), 1);
        QCOMPARE(m_delivered->at(0).at(0).toByteArray(), QByteArray("ans"));
        QCOMPARE(m_delivered->at(0).at(3).toUInt(), 3u);
    }

    void badFramesAreDropped_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QByteArray corrupt = frame(1, 3, 1, "data");
        corrupt[3] = char(corrupt.at(3) ^ 0x04);
        QTest::newRow("crc mismatch") << corrupt;
        QTest::newRow("truncated") << frame(1, 3, 1, "data").left(6);
        QTest::newRow("crc only") << QByteArray::fromHex("82FFFFFFFF0A");
        QByteArray oneByte("A");
        CrcStd32::add(oneByte);
        QTest::newRow("one byte and crc") << FrameLayer().add(oneByte);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("delimiters") << QByteArray::fromHex("820A");
        QTest::newRow("merged frames") << frame(1, 1, 1, "a").chopped(1) + frame(1, 2, 1, "b");
        QTest::newRow("short garbage") << QByteArray::fromHex("0102");
    }
    void badFramesAreDropped()
    {
        QFETCH(QByteArray, wire);
        m_layer->readDataFromInternal(wire);
        QCOMPARE(m_delivered->count(), 0);
        QCOMPARE(m_sent->count(), 0);
    }

    void reservedClassIsDropped()
    {
        QTest::ignoreMessage(QtWarningMsg,
                             "TransportLayer: dropped packet 4 of reserved class 0 for service 1");
        m_layer->readDataFromInternal(frame(0, 4, 1, "zzz"));
        QCOMPARE(m_delivered->count(), 0);
    }

    void strayAcknowledgement()
    {
        QSignalSpy newData(m_layer, &TransportLayer::newData);
        m_layer->readDataFromService(QByteArray("A"), Internal, 3, 1);
        m_layer->readDataFromInternal(frame(3, 40, 3));
        QCOMPARE(newData.count(), 2);
        m_layer->readDataFromService(QByteArray("B"), Internal, 3, 1);
        QCOMPARE(m_sent->count(), 1); // "A" is still in flight, "B" waits
        m_layer->readDataFromInternal(frame(3, 0, 3));
        QCOMPARE(m_sent->count(), 2);
        QCOMPARE(m_sent->last().at(0).toByteArray(), frame(1, 1, 3, "B"));
    }
};

QTEST_GUILESS_MAIN(tst_TransportLayer)
#include "tst_transportlayer.moc"
