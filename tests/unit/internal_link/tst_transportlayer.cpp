// The internal link's layers: framing and CRC, and the transport layer on its own with
// frames in through a slot, out through a signal.
#include "crcstd32.h"
#include "frame_layer.h"
#include "internalprocessorsim.h"
#include "transport_layer.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

static const auto frame = [](quint8 c, quint8 n, quint8 id, QByteArray p = {}) {
    return InternalProcessorSim::frame(c, n, id, p);
};

struct Stack
{
    QTemporaryDir sysroot; // without a device
    bool env = qputenv("NORVIK_SYSROOT", sysroot.path().toLocal8Bit());
    TransportLayer layer;
    QSignalSpy sent { &layer, &TransportLayer::sendOnInternal };
    QSignalSpy delivered { &layer, &TransportLayer::readyRead };
    QSignalSpy failed { &layer, &TransportLayer::internalLinkFailed };
};

class tst_TransportLayer : public QObject
{
    Q_OBJECT

    std::unique_ptr<Stack> s;

    QByteArray sent(int i) const { return s->sent.at(i).at(0).toByteArray(); }
    void send(const QByteArray& data, quint8 service, quint8 cls)
    {
        s->layer.readDataFromService(data, Internal, service, cls);
    }
    void receive(const QByteArray& wire) { s->layer.readDataFromInternal(wire); }
    // Class-1 packets, each acknowledged at once, to advance the packet counter.
    void sendAndAck(int times)
    {
        for (int i = 0; i < times; ++i) {
            send("x", 1, 1);
            receive(frame(3, quint8(sent(s->sent.count() - 1).at(1)) & 0x3F, 1));
        }
    }

private slots:
    void init() { s.reset(new Stack); }
    void cleanup() { s.reset(); }

    void wireVectorsOnePacketInFlight()
    {
        send(QByteArray::fromHex("01"), 0, 1);
        send(QByteArray::fromHex("00"), 0, 2);
        QCOMPARE(s->sent.count(), 1);
        QCOMPARE(sent(0), QByteArray::fromHex("82400001C58E41770A"));
        receive(frame(3, 0, 0)); // a plain acknowledgement: not delivered
        QCOMPARE(sent(1), QByteArray::fromHex("828100005AEA92070A"));
        receive(frame(3, 1, 0, "v")); // the answer to the request
        QCOMPARE(s->delivered.count(), 1);
        QVERIFY(!s->failed.wait(250) && s->failed.isEmpty()); // no retry, no failure
        QCOMPARE(s->sent.count(), 2);
    }

    // Three tries 50 ms apart, then failure; queued requests go too: late answers reach no one.
    void retransmissionAndFailure()
    {
        QElapsedTimer clock;
        QVector<qint64> at;
        connect(&s->layer, &TransportLayer::sendOnInternal, this,
                [&] { at.append(clock.elapsed()); });
        clock.start();
        send("A", 2, 2);
        send("B", 2, 2);
        QTRY_COMPARE_WITH_TIMEOUT(s->failed.count(), 1, 5000);
        QCOMPARE(s->sent.count(), 3);
        for (int i = 1; i < 3; ++i) {
            QCOMPARE(sent(i), frame(2, 0, 2, "A"));
            QVERIFY2(at[i] - at[i - 1] >= 45 && at[i] - at[i - 1] < 1000,
                     qPrintable(QString::number(at[i] - at[i - 1])));
        }
        receive(frame(3, 0, 2, "late"));
        receive(frame(3, 1, 2, "late"));
        send("C", 3, 1); // the link carries on
        QCOMPARE(sent(3), frame(1, 2, 3, "C"));
        QCOMPARE(s->delivered.count() + s->failed.count(), 1);
    }

    // Neither a packet queued nor a stray answer during the third try fails the link.
    void thirdTryRunsItsCourse()
    {
        for (bool strayAnswer : { false, true }) {
            s.reset(new Stack);
            connect(&s->layer, &TransportLayer::sendOnInternal, this, [&] {
                if (s->sent.count() == 3 && strayAnswer)
                    receive(frame(3, 40, 3));
                if (s->sent.count() == 3)
                    send("B", 3, 1), receive(frame(3, 0, 3));
            });
            send("A", 3, 1);
            QTRY_COMPARE_WITH_TIMEOUT(s->sent.count(), 4, 5000);
            QCOMPARE(sent(3), frame(1, 1, 3, "B"));
            receive(frame(3, 1, 3));
            QVERIFY(!s->failed.wait(250) && s->failed.isEmpty());
        }
    }

    void requestsAndAnswersPair()
    {
        // The internal processor asks: answers go out at once, with its numbers.
        receive(frame(2, 17, 2, "r1"));
        receive(frame(2, 18, 2, "r2"));
        QCOMPARE(s->delivered.at(1),
                 (QVariantList { QByteArray("r2"), s->delivered.at(1).at(1), 2, 2 }));
        for (const char* answer : { "a1", "a2", "a3" }) // a3: nothing left to answer
            send(answer, 2, 3);
        send("x", 4, 3); // nothing asked of service 4
        QCOMPARE(s->sent.count(), 2);
        QCOMPARE(sent(0) + sent(1), frame(3, 17, 2, "a1") + frame(3, 18, 2, "a2"));
        // We ask after the counter wrapped: one answer, the matching one, is delivered.
        sendAndAck(64 + 9);
        send("req", 2, 2);
        QCOMPARE(sent(s->sent.count() - 1), frame(2, 9, 2, "req"));
        receive(frame(3, 9, 1, "other"));
        receive(frame(3, 9, 2)); // an empty answer still names its service
        receive(frame(3, 9, 2));
        QCOMPARE(s->delivered.count(), 3);
        QCOMPARE(s->delivered.at(2),
                 (QVariantList { QByteArray(), s->delivered.at(1).at(1), 2, 3 }));
    }

    void stuffing()
    {
        const auto hex = [](const QByteArray& text) { return QByteArray::fromHex(text); };
        // Both ways: the three special bytes, nothing, bytes that only look special.
        const QByteArrayList both = { "820A9041", "829002908A9010410A", "",
                                      "820A",     "02108A0D11130300FF", "8202108A0D11130300FF0A" };
        for (int i = 0; i < both.size(); i += 2) {
            QCOMPARE(FrameLayer().add(hex(both[i])), hex(both[i + 1]));
            QCOMPARE(FrameLayer().remove(hex(both[i + 1])), hex(both[i]));
        }
        // Delimiters dropped anywhere; an escape takes any byte, at the end a zero.
        const QByteArrayList tolerated
            = { "41820A420A82", "4142", "4190", "4180", "90419082", "C102" };
        for (int i = 0; i < tolerated.size(); i += 2)
            QCOMPARE(FrameLayer().remove(hex(tolerated[i])), hex(tolerated[i + 1]));
    }

    // The check value is appended big-endian; the CRC goes whether it matched or not.
    void crcCheckValueAndDamage()
    {
        QByteArray message("123456789");
        CrcStd32::add(message);
        QCOMPARE(message.mid(9), QByteArray::fromHex("0376E6E7"));
        QByteArray broken = message;
        broken[4] = char(broken.at(4) ^ 0x10);
        QVERIFY(!CrcStd32::checkAndRemove(broken) && broken.size() == 9);
        QVERIFY(CrcStd32::checkAndRemove(message) && message == "123456789");
        QByteArray empty, three("abc");
        CrcStd32::add(empty);
        CrcStd32::remove(three);
        QCOMPARE(empty + three, QByteArray::fromHex("FFFFFFFF616263"));
    }

    // The sliced CRC against a bit-at-a-time one on random data, every tail length.
    void crcMatchesDefinition()
    {
        QRandomGenerator rng(20261205);
        for (int length = 0; length < 4200; length += (length < 64 ? 1 : 1021)) {
            QByteArray data(length, Qt::Uninitialized);
            quint32 crc = 0xFFFFFFFFu;
            for (char& c : data) {
                crc ^= quint32(quint8(c = char(rng.bounded(256)))) << 24;
                for (int bit = 0; bit < 8; ++bit)
                    crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            }
            QCOMPARE(CrcStd32::calculate(data.constData(), data.size()), crc);
        }
    }
};

QTEST_GUILESS_MAIN(tst_TransportLayer)
#include "tst_transportlayer.moc"
