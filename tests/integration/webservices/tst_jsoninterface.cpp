// The JSON interface on a running facade and the stand-ins, through its real
// UDP and WebSocket transports on loopback: requests reach the internal
// processor, the touch controller, backlight, LEDs and launcher; facade events
// and process data leave as exact JSON text.
#include "backlighthandler.h"
#include "jsoninterfaceudpsocketserver.h"
#include "jsoninterfacewebsocketserver.h"
#include "messagelog.h"
#include "norvik_link.h"
#include "norviklinkjsoninterface.h"
#include "operationgate.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QUdpSocket>
#include <QWebSocket>
#include <QtTest>

#include <memory>

using S = SystemEventService::States;

namespace {
QByteArray request(const QByteArray& members)
{
    return R"({"msgtype":"event","event":{)" + members + "}}";
}
QByteArray settag(const QByteArray& name, const QByteArray& value)
{
    return request(R"("eventName":"settag","name":")" + name + R"(","value":)" + value);
}
int counterOf(const QVariant& message)
{
    return QJsonDocument::fromJson(message.toByteArray()).object().value("counter").toInt(-1);
}
void expectLog(QtMsgType type, const char* text, int port, int other = -1)
{
    const QString message = QString::fromLatin1(text).arg(port);
    QTest::ignoreMessage(type, qPrintable(other < 0 ? message : message.arg(other)));
}
} // namespace

class tst_JsonInterface : public QObject
{
    Q_OBJECT

private:
    StandIns m_world { QStringLiteral("127.0.0.64") };
    NorvikLink* m_link = nullptr;
    QUdpSocket m_peer; // the configured peer: every datagram goes to its port
    QUdpSocket m_client; // requests come from elsewhere
    QList<QByteArray> m_received;
    quint16 m_in = 0;

    std::unique_ptr<JsonInterfaceUdpSocketServer> udp(int interval = 60000)
    {
        m_in = remoteworld::freeLoopbackPort(QUdpSocket());
        return std::make_unique<JsonInterfaceUdpSocketServer>(
            m_link, QString(), m_in, m_peer.localPort(), interval, nullptr);
    }
    void send(const QByteArray& datagram)
    {
        m_client.writeDatagram(datagram, QHostAddress::LocalHost, m_in);
    }
    Tag* tag(const char* name) { return m_link->getTags()->get(QString::fromLatin1(name)); }
    int state() { return tag("systemEventServiceState")->getValue().toInt(); }
    // The internal processor's reset selects the remote, also after the link
    // was declared lost on a heavily loaded machine.
    void select()
    {
        if (state() != int(S::SELECTED))
            m_world.events.sendEvent(SystemEventService::RESET);
        QTRY_COMPARE_WITH_TIMEOUT(state(), int(S::SELECTED), 10000);
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("default.info=false");
        QVERIFY(m_world.isValid());
        QVERIFY(m_peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
        connect(&m_peer, &QUdpSocket::readyRead, this, [this] {
            while (m_peer.hasPendingDatagrams())
                m_received << m_peer.receiveDatagram().data();
        });
        m_link = new NorvikLink;
        select();
    }
    void init() { m_received.clear(); }
    void cleanupTestCase() { delete m_link; }

    void requestsAndEventsOverUdp()
    {
        auto server = udp();
        server->start();
        m_world.notifications.raise(21, 3, 1, QStringLiteral("Battery low"));
        m_world.notifications.raisePopup(31, 5, 2, QStringLiteral("Drop \"detected\""));
        QTRY_VERIFY(m_received.contains(R"({"msgtype":"event","notification":{"id":3,)"
                                        R"("message":"Battery low","popup":false,)"
                                        R"("reference":21,"severity":1}})"));
        QTRY_VERIFY(m_received.contains(R"({"msgtype":"event","notification":{"id":5,)"
                                        "\"message\":\"Drop \\\"detected\\\"\",\"popup\":true,"
                                        R"("reference":31,"severity":2}})"));
        QTRY_VERIFY_WITH_TIMEOUT(m_world.baseUnit.isInitialized(), 10000);
        m_world.baseUnit.sendCommand(QByteArray("hoist \"A\"\0\x07", 11));
        QTRY_VERIFY(m_received.contains(
            "{\"msgtype\":\"event\",\"recvcmd\":{\"cmd\":\"hoist \\\"A\\\"\"}}"));

        select();
        QSignalSpy requests(&m_world.events, &SystemEventPeer::requestReceived);
        send(request(R"("eventName":"arm")"));
        QTRY_COMPARE(state(), int(S::ARMED_ENABLED));
        send(request(R"("eventName":"disarm")"));
        QTRY_COMPARE(state(), int(S::SELECTED));
        QCOMPARE(requests.size(), 2);
        // A burst passes once per interval; the setting behind it marks its end.
        QTest::qWait(OperationGate::intervalMs);
        QElapsedTimer burst;
        burst.start();
        for (int i = 0; i < 10; ++i)
            send(request(R"("eventName":"disarm")"));
        send(settag("led3", R"("77")"));
        QTRY_COMPARE(m_link->getLedValue(3), 77);
        const qint64 took = burst.elapsed();
        QTRY_VERIFY(requests.size() > 2);
        QTest::qWait(200); // room for any other to reach the internal processor
        QVERIFY(requests.size() - 2 <= 1 + took / OperationGate::intervalMs);
        requests.clear();
        send(request(R"("eventName":"acknotification","notificationAckRef":31)"));
        QTRY_VERIFY(m_world.notifications.acknowledgements().contains(31));

        // The value is read as text: a number sets 0.
        const auto value = [this](const QByteArray& name) {
            return name == "led3" ? m_link->getLedValue(3) : tag(name)->getValue().toDouble();
        };
        for (const auto& set : { std::make_tuple("touch_mode", R"("2")", 2.0),
                                 { "touch_mode", "3", 0.0 },
                                 { "backlightIntensity", R"("0.25")", 0.25 },
                                 { "backlightIntensity", "1", 0.0 },
                                 { "led3", R"("200")", 200.0 },
                                 { "led3", "7", 0.0 } }) {
            send(settag(std::get<0>(set), std::get<1>(set)));
            QTRY_COMPARE(value(std::get<0>(set)), std::get<2>(set));
        }

        m_link->setLedValue(2, 0);
        MessageLog log;
        for (const char* warning : { "Failed to parse JSON object - msg.isEmpty",
                                     "Failed to parse JSON object - msg.isEmpty",
                                     "Failed to parse event JSON object - msgtype - Event",
                                     "Failed to parse event JSON object - unknown object",
                                     "Failed to parse event JSON object - unknown event - " })
            QTest::ignoreMessage(QtWarningMsg, warning);
        for (const QByteArray& bad :
             { QByteArray("{}"), QByteArray("[1]"), QByteArray(R"({"msgtype":"Event","event":{}})"),
               QByteArray(R"({"msgtype":"event","event":"arm"})"), request(R"("eventName":"Arm")"),
               QByteArray(R"({"msgtype":"event")"), settag("led9", R"("1")"),
               settag("led0", R"("1")"), settag("led2x", R"("9")"), settag("led\u0662", R"("9")"),
               // A repeated member whose earlier value is a container is dropped whole.
               QByteArray(R"({"msgtype":"event","event":{"eventName":"arm"},"ev\u0065nt":{}})"),
               request(R"("eventName":"settag","name":"led2","value":[],"value":"9")") })
            send(bad);
        // Last, a request whose datagram goes on past a NUL; the last of repeated values counts.
        send(settag("led1", R"("7","value":"42")") + QByteArray("\0{\"x", 4));
        QTRY_COMPARE(m_link->getLedValue(1), 42);
        QCOMPARE(m_link->getLedValue(2), 0);
        QCOMPARE(log.messages().size(), 5);
        QVERIFY(requests.isEmpty());

        send(request(R"("eventName":"closeapp")"));
        QTRY_VERIFY(
            m_world.launcher.commands().contains({ QStringLiteral("appClose"), QString() }));
    }

    void triggerPostponesThePeriodicMessage()
    {
        NorvikLinkJsonInterface json(m_link, 1000, nullptr);
        QVERIFY(json.addPeriodicData(QStringLiteral("joystick_01"), true));
        QElapsedTimer clock;
        clock.start();
        QSignalSpy sent(&json, &NorvikLinkJsonInterface::sendMessage);
        qint64 updated = 0, periodic = 0;
        connect(tag("joystick_01"), &Tag::valueUpdated, this, [&] { updated = clock.elapsed(); });
        connect(&json, &NorvikLinkJsonInterface::sendMessage, this, [&](const QString& text) {
            if (text.endsWith(R"("trigger":"periodicupdate"})"))
                periodic = clock.elapsed();
        });
        QTRY_COMPARE(sent.size(), 1);
        // Two updates from real frames, 400 ms apart within the 1000 ms interval.
        for (int i = 1; i <= 2; ++i) {
            QTest::qWait(400);
            QVERIFY(m_world.process.setJoystick(1, qint16(10 + i)));
            m_world.process.sendFrame();
            QTRY_VERIFY(
                sent.last().at(0).toString().endsWith(QStringLiteral(R"("trigger":"joystick_01"})"))
                && updated > periodic);
        }
        QTRY_VERIFY_WITH_TIMEOUT(periodic > updated, 3000);
        // Coarse timers may fire up to 5 % early.
        QVERIFY2(periodic - updated >= 900, qPrintable(QString::number(periodic - updated)));

        // One counter, modulo 256, advanced once per message.
        for (int i = 0; i < 300; ++i)
            tag("joystick_01")->setValue(QVariant(i));
        for (int i = 1; i < sent.size(); ++i)
            QCOMPARE(counterOf(sent.at(i).at(0)), (counterOf(sent.at(i - 1).at(0)) + 1) % 256);
    }

    void processDataOverBothTransports()
    {
        auto server = udp(200);
        QTest::ignoreMessage(QtWarningMsg, "NorvikLinkJsonHandler: Unknown periodic tag no_tag");
        QVERIFY(!server->addPeriodicData(QStringLiteral("no_tag"), true));
        for (const char* name : { "joystick_01", "led_control_1_to_8", "switch_01", "rc_sw_rev",
                                  "backlightIntensity", "joystick_01" })
            QVERIFY(server->addPeriodicData(QString::fromLatin1(name), name[0] == 'j'));
        tag("led_control_1_to_8")->setValue(QByteArray::fromHex("00ff010203040506"));
        tag("rc_sw_rev")->setValue(QVariant(QStringLiteral("R1.2")));
        m_link->getBacklightHandler()->setBacklightIntesity(0.25);
        server->start();
        QVERIFY(m_world.process.setJoystick(1, -250) && m_world.process.setSwitch(1, true));
        m_world.process.sendFrame();
        // The update is sent once, although the tag was added twice; then the periodic one.
        const auto triggered = [this] {
            return int(std::find_if(m_received.begin(), m_received.end(),
                                    [](auto& m) { return m.endsWith("\"joystick_01\"}"); })
                       - m_received.begin());
        };
        QTRY_VERIFY(m_received.size() > triggered() + 1);
        const QByteArray periodic = m_received.at(triggered() + 1);
        QCOMPARE(periodic,
                 "{\"counter\":" + QByteArray::number(counterOf(periodic))
                     + R"(,"msgtype":"processdata","payload":{"backlightIntensity":0.25,)"
                       R"("joystick_01":-250,"led_control_1_to_8":"AP8BAgMEBQY=",)"
                       R"("rc_sw_rev":"R1.2","switch_01":true},"trigger":"periodicupdate"})");

        // One counter for both transports: between two WebSocket messages the
        // faster UDP stream has drawn numbers, and no number comes twice.
        const quint16 port = remoteworld::freeLoopbackPort();
        JsonInterfaceWebSocketServer ws(m_link, QString(), port, 500, nullptr);
        QVERIFY(ws.addPeriodicData(QStringLiteral("switch_01"), false));
        QWebSocket a, b;
        QSignalSpy toA(&a, &QWebSocket::textMessageReceived);
        QSignalSpy toB(&b, &QWebSocket::textMessageReceived);
        for (QWebSocket* client : { &a, &b })
            client->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
        QTRY_VERIFY_WITH_TIMEOUT(toA.size() >= 3 && toB.size() >= 3, 8000);
        QSet<int> counters;
        for (const QByteArray& message : qAsConst(m_received))
            counters << counterOf(message);
        for (int i = 0; i < toA.size(); ++i) {
            QVERIFY(toA.at(i).at(0).toString().contains(R"("payload":{"switch_01":true})"));
            QVERIFY(!counters.contains(counterOf(toA.at(i).at(0))));
            QVERIFY(i == 0
                    || quint8(counterOf(toA.at(i).at(0)) - counterOf(toA.at(i - 1).at(0))) > 1);
        }

        // One client leaves; the other still gets every message and is heard.
        a.close();
        QTRY_COMPARE(a.state(), QAbstractSocket::UnconnectedState);
        const int heard = toB.size();
        QTRY_VERIFY_WITH_TIMEOUT(toB.size() >= heard + 2, 5000);
        b.sendBinaryMessage(settag("led5", R"("7")") + QByteArray("\0\xff garbage", 10));
        QTRY_COMPARE(m_link->getLedValue(5), 7);
    }

    void failuresAndTeardown()
    {
        QLoggingCategory::setFilterRules("default.info=true");
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress::LocalHost, 0, QUdpSocket::DontShareAddress));
        JsonInterfaceUdpSocketServer unbound(m_link, {}, taken.localPort(), 9, 200, nullptr);
        QSignalSpy errors(&unbound, &JsonInterfaceUdpSocketServer::error);
        expectLog(QtWarningMsg, "JsonInterfaceUdpServer could not bind to 127.0.0.1 %1",
                  taken.localPort());
        unbound.start();
        QCOMPARE(errors.size(), 1);
        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::LocalHost));
        expectLog(QtCriticalMsg,
                  "JsonInterfaceWebSocketServer failed listening on 127.0.0.1 port %1",
                  busy.serverPort());
        JsonInterfaceWebSocketServer deaf(m_link, QString(), busy.serverPort(), 500, nullptr);

        // Destroyed while bound, and while a client is connected.
        auto server = udp(200);
        expectLog(QtInfoMsg, "Starting JsonInterfaceUdpServer at 127.0.0.1 port %1 listening at %2",
                  m_peer.localPort(), m_in);
        server->start();
        const quint16 port = remoteworld::freeLoopbackPort();
        expectLog(QtInfoMsg, "JsonInterfaceWebSocketServer listening on 127.0.0.1 port %1", port);
        auto ws = std::make_unique<JsonInterfaceWebSocketServer>(m_link, "", port, 500, nullptr);
        QLoggingCategory::setFilterRules("default.info=false");
        QWebSocket client;
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
        QTRY_COMPARE(client.state(), QAbstractSocket::ConnectedState);
        QTRY_VERIFY(!m_received.isEmpty());
        server.reset();
        ws.reset();
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(tst_JsonInterface)
#include "tst_jsoninterface.moc"
