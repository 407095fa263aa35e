// Faults around a whole remote (the facade on the sample installation, the stand-ins
// around it). In every fault the machine stop is pressed, and it must reach the base unit
// whenever there is a path to it.
#include "backlighthandler.h"
#include "messagelog.h"
#include "norvik_link.h"
#include "rawhttpclient.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QtTest>

#include <deque>

using BU = BaseUnitSimulator;

namespace {
const QByteArray kTimedOut
    = "Connection [ BU 39 ] <--> [ RU 4660 ] ( ORIGIN_TCP ) timed out due to inactivity...";
const QByteArray k413
    = "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
const QByteArray k503
    = "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";
const QByteArray kAsk = "GET /api/1.0/tags/?id=ru_identity HTTP/1.1\r\nConnection: close\r\n\r\n";
} // namespace

class tst_NetworkFaults : public QObject
{
    Q_OBJECT

    StandIns m_world { QStringLiteral("127.0.0.80") };
    BU& m_bu = m_world.baseUnit;
    NorvikLink* m_link = nullptr;
    quint16 m_http = 0;

    Tag* tag(const char* name) const { return m_link->getTags()->get(QString::fromLatin1(name)); }
    int linkStatus() const { return tag("g_link_status")->getValue().toInt(); }
    QByteArrayList commands() const
    {
        QByteArrayList out;
        for (const BU::Received& r : m_bu.received(BU::CMD))
            out << r.payload;
        return out;
    }
    bool press(bool pressed)
    {
        return remoteworld::writeFile(m_world.stopButton(), pressed ? "0" : "1");
    }
    // The machine stop pressed now reaches the base unit within `ms`; then it is released.
    void stopReaches(int ms = 3000)
    {
        const int before = m_bu.receivedCount(BU::E_STOP);
        QSignalSpy released(m_link, &NorvikLink::stopReleased);
        QVERIFY(press(true));
        QTRY_VERIFY_WITH_TIMEOUT(m_bu.receivedCount(BU::E_STOP) > before, ms);
        QVERIFY(press(false));
        QTRY_COMPARE(released.count(), 1);
    }
    void expectLinkUp()
    {
        QTRY_VERIFY_WITH_TIMEOUT(m_bu.isInitialized(), 8000);
        QTRY_COMPARE(linkStatus(), 1); // STATE_OPERATIONAL
    }
    // Milliseconds from a moment on the base unit's clock to its last connection.
    double toLastConnection(qint64 ns) const
    {
        return (m_bu.connectionTimesNs().last() - ns) / 1e6;
    }
    quint64 dropped() const { return m_link->linkHealth().baseUnitDroppedMessages; }
    // The published counters: reconnections are the base unit's connections after the first,
    // and every counter's tag shows what its property does.
    void expectHealthPublished()
    {
        QTRY_COMPARE(m_link->property("baseUnitReconnects").toInt(), m_bu.connectionCount() - 1);
        const char* const published[][2] = { { "framesSent", "link_frames_sent" },
                                             { "framesReceived", "link_frames_received" },
                                             { "crcFailures", "link_crc_failures" },
                                             { "retransmissions", "link_retransmissions" },
                                             { "linkFailures", "link_failures" },
                                             { "baseUnitReconnects", "bu_reconnects" },
                                             { "baseUnitDroppedMessages", "bu_dropped_messages" } };
        for (const auto& pair : published)
            QCOMPARE(tag(pair[1])->getValue(), m_link->property(pair[0]));
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("default.info=false");
        QVERIFY(m_world.isValid());
        m_http = remoteworld::freeLoopbackPort();
        QVERIFY(m_world.setWebServices({ { "restapi/enabled", true },
                                         { "restapi/host", "127.0.0.1" },
                                         { "restapi/port", m_http },
                                         { "restapi/maxThreads", 4 },
                                         { "restapi/readTimeout", 1500 },
                                         { "restapi/cleanupInterval", 100 } }));
        m_link = new NorvikLink;
        m_world.events.sendEvent(SystemEventService::RESET);
        expectLinkUp();
    }
    void cleanupTestCase() { delete m_link; }

    // Switched off and on again: attempts go on about once a second, the stop held
    // meanwhile follows the fresh handshake. Then the base unit cuts its line in the middle
    // of a message: the half message is never taken for one, the next connection's messages
    // decode, and nothing the interface sent goes out twice.
    void baseUnitRestartedAndCut()
    {
        const int connections = m_bu.connectionCount();
        const int inits = m_bu.receivedCount(BU::INIT);
        QSignalSpy refreshed(m_link, &NorvikLink::linkHealthChanged);
        const qint64 startNs = m_bu.elapsedNs();
        m_link->sendCmd(QByteArray("before"));
        QTRY_COMPARE(commands(), QByteArrayList { "before" });
        m_bu.setRunning(false);
        QTRY_COMPARE(linkStatus(), 2); // STATE_NO_LINK
        const quint64 before = dropped();
        m_link->sendCmd(QByteArray("while off"));
        QVERIFY(press(true));
        QTest::qWait(2500); // the stop is seen, attempts go against nobody
        QTRY_COMPARE(dropped(), before + 2); // the command and the stop had no path
        const qint64 restarted = m_bu.elapsedNs();
        const int stops = m_bu.receivedCount(BU::E_STOP);
        m_bu.setRunning(true);
        expectLinkUp();
        QVERIFY(toLastConnection(restarted) < 2500);
        QTRY_COMPARE(m_bu.receivedCount(BU::E_STOP), stops + 1);
        QVERIFY(m_bu.received(BU::E_STOP).last().receivedNs > m_bu.connectionTimesNs().last());
        QSignalSpy released(m_link, &NorvikLink::stopReleased);
        QVERIFY(press(false));
        QTRY_COMPARE(released.count(), 1);

        m_link->sendCmd(QByteArray("cut"));
        QTRY_COMPARE(commands().size(), 2);
        QSignalSpy decoded(m_link, &NorvikLink::recvBinaryCmd);
        const qint64 cut = m_bu.elapsedNs();
        m_bu.cutInMessage(BU::CMD, "half a message", 15);
        stopReaches(6000); // held across the reconnection if it comes too late
        expectLinkUp();
        QCOMPARE(m_bu.connectionCount(), connections + 2);
        QCOMPARE(m_bu.receivedCount(BU::INIT), inits + 2);
        QVERIFY(toLastConnection(cut) > 800 && toLastConnection(cut) < 3500);
        m_bu.sendCommand("whole");
        QTRY_COMPARE(decoded.count(), 1);
        QCOMPARE(decoded.at(0).at(0).toByteArray(), QByteArray("whole"));
        // Given while there was no path: dropped, neither queued nor sent twice.
        QCOMPARE(commands(), (QByteArrayList { "before", "cut" }));
        expectHealthPublished();
        // Refreshed as the counters change, once a second (a coarse timer fires up to 5% early).
        QVERIFY(!refreshed.isEmpty()
                && refreshed.count() <= (m_bu.elapsedNs() - startNs) / 95e7 + 1);
    }

    // Bytes that are no message: dropped with their log line. A message that claims more
    // bytes than ever come holds the stream until the link times out and starts afresh.
    // With the base unit quiet the bytes arrive alone, as one read.
    void baseUnitTalksNonsense_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<QByteArray>("log");
        const QByteArray cmd = BU::encode(BU::CMD, "lost", 0);
        QTest::newRow("garbage") << QByteArray("\x01\x02 no message here \xff") << true
                                 << QByteArray(
                                        "R-Uzad msg stream is out of sync! Origin: ORIGIN_TCP");
        QTest::newRow("unknown id")
            << BU::encode(9, "zz", 0) << false
            << QByteArray("Discarding R-Uzad message with unknown id: 9 | Origin: ORIGIN_TCP");
        QTest::newRow("truncated, then quiet") << cmd.left(14) << true << kTimedOut;
        QByteArray longer = cmd.left(20);
        longer[6] = longer[7] = char(0xFF); // 65535 bytes announced, heartbeats follow
        QTest::newRow("over-long") << longer << false << kTimedOut;
    }
    void baseUnitTalksNonsense()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, quiet);
        QFETCH(QByteArray, log);
        const bool recovers = log == kTimedOut;
        if (bytes.startsWith("LrdA")) // stamped now: an older message would be dropped unseen
            qToLittleEndian(BU::wallClock(), bytes.data() + 8);
        const int connections = m_bu.connectionCount();
        const quint64 before = dropped();
        QSignalSpy decoded(m_link, &NorvikLink::recvBinaryCmd);
        MessageLog messages;
        if (quiet)
            m_bu.setHeartbeatInterval(0);
        m_bu.sendRaw(bytes);
        // The way to the base unit stays open while its stream is garbled.
        stopReaches();
        QCOMPARE(m_bu.connectionCount(), connections);
        const int stops = m_bu.receivedCount(BU::E_STOP);
        QTRY_VERIFY_WITH_TIMEOUT(messages.messages().contains(log), 5000);
        m_bu.setHeartbeatInterval(250);
        QTRY_COMPARE_WITH_TIMEOUT(m_bu.connectionCount(), connections + int(recovers), 5000);
        expectLinkUp();
        m_bu.sendCommand("after");
        QTRY_COMPARE(decoded.count(), 1);
        QCOMPARE(decoded.at(0).at(0).toByteArray(), QByteArray("after"));
        QCOMPARE(m_bu.receivedCount(BU::E_STOP), stops); // released: not sent on handshakes
        QCOMPARE(dropped(), before + 1);
        expectHealthPublished();
    }

    // NetworkManager hung, then gone with its bus daemon: the strength reads 0 (the only
    // sign, nothing is logged) and the facade's thread goes on; once back the signal is
    // read again.
    void systemBusGoneAndBack()
    {
        NetworkManagerBus& nm = m_world.networkManager;
        // The configured network was joined at start-up.
        QCOMPARE(nm.lastUpdate()["802-11-wireless"]["ssid"].toByteArray(),
                 QByteArray("norvik-sample"));
        QVERIFY(nm.setStrength(61));
        QTRY_COMPARE_WITH_TIMEOUT(tag("g_link_rssi")->getValue().toInt(), 61, 5000);
        MessageLog log;
        QVERIFY(nm.hang(4));
        stopReaches(); // every bus call waits a bounded time, not QtDBus's 25 s
        QTRY_COMPARE_WITH_TIMEOUT(tag("g_link_rssi")->getValue().toInt(), 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(tag("g_link_rssi")->getValue().toInt(), 61, 10000);
        nm.stop();
        QTRY_COMPARE_WITH_TIMEOUT(tag("g_link_rssi")->getValue().toInt(), 0, 5000);
        stopReaches();
        QTest::qWait(1500); // more polls against no bus
        QVERIFY(nm.start());
        QVERIFY(nm.setStrength(47));
        QTRY_COMPARE_WITH_TIMEOUT(tag("g_link_rssi")->getValue().toInt(), 47, 5000);
        QCOMPARE(log.messages(), QStringList());
    }

    // A gauge that stops answering: the watchdog clears its values rather than leaving them
    // shown as current (silently, as failed transfers are) while the light sensor and the
    // backlight go on; values resume once it answers. A light sensor that times out
    // publishes nothing until it answers again.
    void i2cDeviceSilent()
    {
        SimulatedI2cBus& bus = m_world.i2c;
        m_link->findChild<QTimer*>("batteryRead")->setInterval(200);
        m_link->findChild<QTimer*>("batteryWatchDog")->setInterval(1000);
        bus.setAverageCurrent(-100);
        bus.setRelativeStateOfCharge(87);
        QTRY_COMPARE_WITH_TIMEOUT(tag("ru_battery")->getValue().toInt(), 87, 4000);
        QTRY_COMPARE(tag("ru_charge_state")->getValue().toInt(), -5);
        QSignalSpy updates(tag("ru_battery"), &Tag::valueUpdated);
        QTest::qWait(1500); // answers keep the watchdog from running out
        QCOMPARE(updates.count(), 0);

        MessageLog log;
        bus.setFault(SimulatedI2cBus::GAUGE, SimulatedI2cBus::NoAcknowledge);
        stopReaches();
        QTRY_COMPARE_WITH_TIMEOUT(tag("ru_battery")->getValue().toInt(), 0, 4000);
        QCOMPARE(tag("ru_charge_state")->getValue().toInt(), 0);
        QCOMPARE(tag("bat_cap")->getValue().toInt(), 0);
        bus.setLightResult(3, 0x456);
        QTRY_COMPARE(tag("light_sensor_value")->getValue().toFloat(), 88.8f);
        QVERIFY(QMetaObject::invokeMethod(m_link->getBacklightHandler(), "setBacklightIntesity",
                                          Q_ARG(QVariant, 1.0)));
        QTRY_COMPARE(bus.brightness(), quint16(0xFFFF));
        QTest::qWait(1500); // the watchdog runs out again: nothing stale comes back
        QCOMPARE(tag("ru_battery")->getValue().toInt(), 0);
        QCOMPARE(log.messages(), QStringList());
        bus.setFault(SimulatedI2cBus::GAUGE, SimulatedI2cBus::NoFault);
        QTRY_COMPARE_WITH_TIMEOUT(tag("ru_battery")->getValue().toInt(), 87, 4000);
        QTRY_COMPARE(tag("ru_charge_state")->getValue().toInt(), -5);

        bus.setFault(SimulatedI2cBus::LIGHT_SENSOR, SimulatedI2cBus::TimeOut);
        bus.setLightResult(0, 0);
        stopReaches();
        bus.setRelativeStateOfCharge(55);
        QTRY_COMPARE(tag("ru_battery")->getValue().toInt(), 55);
        QVERIFY(bus.trace().contains("w 44 00 timeout"));
        QCOMPARE(tag("light_sensor_value")->getValue().toFloat(), 88.8f);
        bus.setFault(SimulatedI2cBus::LIGHT_SENSOR, SimulatedI2cBus::NoFault);
        QTRY_COMPARE(tag("light_sensor_value")->getValue().toFloat(), 0.0f);
    }

    // Slow and silent clients are cut after the read timeout without an answer; past
    // "maxThreads" connections get the 503 text at once; oversize requests the 413 text.
    // A normal client is answered throughout, and the handler threads stay bounded and
    // shrink back when idle.
    void httpAbuse()
    {
        const auto threadCount = [] { return QDir("/proc/self/task").count() - 2; }; // . and ..
        const uint threads = threadCount();
        MessageLog log;
        RawHttpClient silent(m_http);
        RawHttpClient slow(m_http);
        QTimer trickle;
        int sent = 0;
        connect(&trickle, &QTimer::timeout, [&] { slow.socket.write(kAsk.mid(sent++, 1)); });
        trickle.start(300);
        QTRY_VERIFY_WITH_TIMEOUT(silent.closed() && slow.closed(), 5000);
        QVERIFY(silent.received.isEmpty() && slow.received.isEmpty());

        const QList<QPair<QByteArray, QString>> oversize {
            { "GET /" + QByteArray(17000, 'a'), "HttpRequest: received too many bytes" },
            { "GET / HTTP/1.1\r\n" + QByteArray("X-Pad: 0123456789\r\n").repeated(900),
              "HttpRequest: received too many bytes" },
            { "POST /api/1.0/tags HTTP/1.1\r\nContent-Length: 16001\r\n\r\n",
              "HttpRequest: expected body is too large" }
        };
        for (const auto& request : oversize) {
            RawHttpClient client(m_http, request.first);
            QTRY_VERIFY(client.closed());
            QCOMPARE(client.received, k413);
            QVERIFY(log.messages().contains(request.second));
        }

        // A keep-alive client answered and then idle holds its handler like the flood.
        RawHttpClient idle(m_http, QByteArray(kAsk).replace("close", "keep-alive"));
        QTRY_VERIFY(idle.received.contains("\"ru_identity\":4660"));
        std::deque<RawHttpClient> flood;
        for (int i = 0; i < 9; ++i)
            flood.emplace_back(m_http);
        QTRY_COMPARE(
            std::count_if(flood.cbegin(), flood.cend(),
                          [](const RawHttpClient& c) { return c.closed() && c.received == k503; }),
            6L);
        RawHttpClient during(m_http, kAsk);
        QTRY_VERIFY(during.closed());
        QCOMPARE(during.received, k503);
        QCOMPARE(threadCount(), threads + 4);
        stopReaches();
        QTRY_VERIFY_WITH_TIMEOUT(
            idle.closed()
                && std::all_of(flood.cbegin(), flood.cend(), std::mem_fn(&RawHttpClient::closed)),
            5000);
        QVERIFY(idle.received.endsWith("0\r\n\r\n")); // cut without a word
        RawHttpClient after(m_http, kAsk);
        QTRY_VERIFY(after.closed() && after.received.startsWith("HTTP/1.1 200 "));
        QVERIFY(after.received.contains("\"ru_identity\":4660"));
        QTRY_COMPARE(threadCount(), threads + 1); // "minThreads" idle handlers stay
        QTest::qWait(500);
        QCOMPARE(threadCount(), threads + 1);
    }
};

QTEST_GUILESS_MAIN(tst_NetworkFaults)
#include "tst_networkfaults.moc"
