// The transport layer talking to the internal processor stand-in over a
// real pseudo-terminal: acknowledgements, retransmission, failure and
// request pairing as they happen on the line.
#include "internalprocessorsim.h"
#include "transport_layer.h"

#include <QTemporaryDir>
#include <QtTest>

using Packet = InternalProcessorSim::Packet;

class tst_LinkStack : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_sysroot = nullptr;
    InternalProcessorSim* m_sim = nullptr;
    TransportLayer* m_layer = nullptr;
    QSignalSpy* m_delivered = nullptr;
    QSignalSpy* m_failed = nullptr;

    QList<Packet> receivedOfClass(quint8 cls) const
    {
        QList<Packet> out;
        for (const Packet& p : m_sim->received())
            if (p.messageClass == cls)
                out.append(p);
        return out;
    }

private slots:
    void init()
    {
        m_sysroot = new QTemporaryDir;
        qputenv("NORVIK_SYSROOT", m_sysroot->path().toLocal8Bit());
        m_sim = new InternalProcessorSim;
        QVERIFY(m_sim->open(m_sysroot->path()));
        m_layer = new TransportLayer;
        m_delivered = new QSignalSpy(m_layer, &TransportLayer::readyRead);
        m_failed = new QSignalSpy(m_layer, &TransportLayer::internalLinkFailed);
    }

    void cleanup()
    {
        delete m_delivered;
        delete m_failed;
        delete m_layer;
        delete m_sim;
        delete m_sysroot;
    }

    void packetsFlowOneAtATime()
    {
        for (int i = 0; i < 20; ++i)
            m_layer->readDataFromService(QByteArray::number(i), Internal, quint8(i % 6), 1);
        // A late acknowledgement on a loaded machine may legitimately cause a
        // retransmission; what matters is the order and that each packet
        // waits for the previous one.
        const auto distinct = [this] {
            QList<Packet> out;
            for (const Packet& p : receivedOfClass(1))
                if (out.isEmpty() || out.last().packetNumber != p.packetNumber)
                    out.append(p);
            return out;
        };
        QTRY_COMPARE_WITH_TIMEOUT(distinct().size(), 20, 10000);
        const QList<Packet> got = distinct();
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(int(got[i].packetNumber), i);
            QCOMPARE(got[i].payload, QByteArray::number(i));
        }
        QCOMPARE(m_failed->count(), 0);
    }

    void acknowledgementOnTheWire()
    {
        QSignalSpy lines(m_sim, &InternalProcessorSim::lineReceived);
        for (int i = 0; i < 5; ++i)
            m_sim->sendPacket(1, 2, "skip"); // requests use up simulator numbers 0..4
        m_sim->sendPacket(3, 1, QByteArray::fromHex("0102"));
        QTRY_COMPARE(m_delivered->count(), 6);
        QTRY_COMPARE(lines.count(), 1);
        QCOMPARE(lines.at(0).at(0).toByteArray(), QByteArray::fromHex("82C503590316050A"));
        QCOMPARE(m_delivered->last().at(0).toByteArray(), QByteArray::fromHex("0102"));
        QCOMPARE(m_delivered->last().at(2).toUInt(), 3u);
        QCOMPARE(m_delivered->last().at(3).toUInt(), 1u);
    }

    void unansweredPacketFailsTheLink()
    {
        m_sim->setWithholdAcks(true);
        m_layer->readDataFromService(QByteArray("lost"), Internal, 3, 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_failed->count(), 1, 5000);
        const QList<Packet> tries = receivedOfClass(1);
        QCOMPARE(tries.size(), 3);
        for (const Packet& p : tries)
            QCOMPARE(p.payload, QByteArray("lost"));
        const qint64 spread = tries[2].receivedAtMs - tries[0].receivedAtMs;
        QVERIFY2(spread >= 90 && spread < 2000, qPrintable(QString::number(spread)));

        // The next packet goes out normally once the stand-in answers again.
        m_sim->setWithholdAcks(false);
        m_layer->readDataFromService(QByteArray("next"), Internal, 3, 1);
        QTRY_VERIFY(receivedOfClass(1).size() >= 4);
        QCOMPARE(receivedOfClass(1).at(3).payload, QByteArray("next"));
        QTest::qWait(200);
        QCOMPARE(m_failed->count(), 1);
    }

    void lateAcknowledgementWithinTheWindow()
    {
        m_sim->setAckDelayMs(70); // after the first retransmission, well before failure
        m_layer->readDataFromService(QByteArray("slow"), Internal, 3, 1);
        QTRY_VERIFY(receivedOfClass(1).size() >= 2);
        QTest::qWait(300);
        QCOMPARE(m_failed->count(), 0);
        QVERIFY(receivedOfClass(1).size() <= 3);
    }

    void requestsPairInBothDirections()
    {
        // The library asks; the stand-in answers with the request's number.
        m_sim->setRequestHandler(2, [](const Packet& request) {
            return std::optional<QByteArray>(request.payload + "-answer");
        });
        m_layer->readDataFromService(QByteArray("VERS"), Internal, 2, 2);
        QTRY_COMPARE(m_delivered->count(), 1);
        QCOMPARE(m_delivered->at(0).at(0).toByteArray(), QByteArray("VERS-answer"));
        QCOMPARE(m_delivered->at(0).at(3).toUInt(), 3u);

        // The stand-in asks; a service answers through the layer.
        connect(m_layer, &TransportLayer::readyRead, m_layer,
                [this](QByteArray data, Link, quint8 serviceId, quint8 cls) {
                    if (cls == 2)
                        m_layer->readDataFromService(data.toUpper(), Internal, serviceId, 3);
                });
        const quint8 number = m_sim->sendPacket(2, 2, "param");
        QTRY_VERIFY(!receivedOfClass(3).isEmpty());
        const Packet answer = receivedOfClass(3).constFirst();
        QCOMPARE(answer.packetNumber, number);
        QCOMPARE(answer.serviceId, quint8(2));
        QCOMPARE(answer.payload, QByteArray("PARAM"));
    }

    void damagedInputIsIgnored()
    {
        m_sim->corruptNextFrames(1);
        m_sim->sendPacket(1, 1, "broken");
        m_sim->writeRaw(QByteArray::fromHex("00FF9090900A"));
        m_sim->writeRaw(InternalProcessorSim::frame(1, 9, 1, "cut").left(5) + '\n');
        m_sim->setTrickle(3, 2);
        m_sim->sendPacket(1, 1, "good");
        QTRY_COMPARE(m_delivered->count(), 1);
        QCOMPARE(m_delivered->at(0).at(0).toByteArray(), QByteArray("good"));
        QTRY_COMPARE(receivedOfClass(3).size(), 1); // only the good one was acknowledged
        QTest::qWait(100);
        QCOMPARE(m_delivered->count(), 1);
        QCOMPARE(receivedOfClass(3).size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_LinkStack)
#include "tst_linkstack.moc"
