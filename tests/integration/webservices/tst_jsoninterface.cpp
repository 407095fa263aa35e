// The JSON interface on a running facade and the stand-ins, through its real
// UDP and WebSocket transports on loopback: requests reach the internal
// processor and the launcher, facade events and process data leave as exact
// JSON text.
#include "backlighthandler.h"
#include "jsoninterfaceudpsocketserver.h"
#include "jsoninterfacewebsocketserver.h"
#include "messagelog.h"
#include "norvik_link.h"
#include "norviklinkjsoninterface.h"
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
quint16 freePort(QAbstractSocket&& socket)
{
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return socket.localPort();
}
int counterOf(const QByteArray& message)
{
    return QJsonDocument::fromJson(message).object().value("counter").toInt(-1);
}
bool isPeriodic(const QByteArray& message)
{
    return message.endsWith(R"("trigger":"periodicupdate"})");
}
} // namespace

class tst_JsonInterface : public QObject
{
    Q_OBJECT

private:
    StandIns m_world { QStringLiteral("127.0.0.64") };
    NorvikLink* m_link = nullptr;
    QUdpSocket m_peer; // the configured peer: every datagram goes to its port
    QUdpSocket m_client; // where requests come from
    QList<QByteArray> m_received;

    std::unique_ptr<JsonInterfaceUdpSocketServer> udp(quint16* inPort, int interval = 60000)
    {
        *inPort = freePort(QUdpSocket());
        return std::make_unique<JsonInterfaceUdpSocketServer>(
            m_link, QString(), *inPort, m_peer.localPort(), interval, nullptr);
    }
    void send(quint16 port, const QByteArray& datagram)
    {
        m_client.writeDatagram(datagram, QHostAddress::LocalHost, port);
    }
    Tag* tag(const char* name) { return m_link->getTags()->get(QString::fromLatin1(name)); }
    bool requested(const QSignalSpy& spy, quint8 event)
    {
        return std::any_of(spy.begin(), spy.end(), [=](auto& args) { return args.at(0) == event; });
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
        m_world.events.sendEvent(SystemEventService::RESET);
        QTRY_COMPARE(tag("systemEventServiceState")->getValue().toInt(), int(S::SELECTED));
    }
    void init() { m_received.clear(); }
    void cleanupTestCase() { delete m_link; }

    void facadeEventsOut()
    {
        quint16 in;
        auto server = udp(&in);
        server->start();
        m_world.notifications.raise(21, 3, 1, QStringLiteral("Battery low"));
        m_world.notifications.raisePopup(31, 5, 2, QStringLiteral("Drop \"detected\""));
        QTRY_VERIFY(m_received.contains(R"({"msgtype":"event","notification":{"id":3,)"
                                        R"("message":"Battery low","popup":false,)"
                                        R"("reference":21,"severity":1}})"));
        QTRY_VERIFY(m_received.contains(R"({"msgtype":"event","notification":{"id":5,)"
                                        "\"message\":\"Drop \\\"detected\\\"\",\"popup\":true,"
                                        R"("reference":31,"severity":2}})"));
        send(in, request(R"("eventName":"acknotification","notificationAckRef":31)"));
        QTRY_VERIFY(m_world.notifications.acknowledgements().contains(31));

        QTRY_VERIFY_WITH_TIMEOUT(m_world.baseUnit.isInitialized(), 10000);
        m_world.baseUnit.sendCommand(QByteArray("hoist \"A\"\0\x07", 11));
        QTRY_VERIFY(m_received.contains(
            "{\"msgtype\":\"event\",\"recvcmd\":{\"cmd\":\"hoist \\\"A\\\"\"}}"));
    }

    void requestsIn()
    {
        quint16 in;
        auto server = udp(&in);
        server->start();
        QSignalSpy requests(&m_world.events, &SystemEventPeer::requestReceived);
        Tag* state = tag("systemEventServiceState");
        send(in, request(R"("eventName":"arm")"));
        QTRY_VERIFY(requested(requests, SystemEventService::ARM_REQUEST));
        QTRY_COMPARE(state->getValue().toInt(), int(S::ARMED_ENABLED));
        send(in, request(R"("eventName":"disarm")"));
        QTRY_VERIFY(requested(requests, SystemEventService::DISARM_REQUEST));
        QTRY_COMPARE(state->getValue().toInt(), int(S::SELECTED));

        // The value is read as text: a number sets 0.
        send(in, settag("touch_mode", R"("2")"));
        QTRY_COMPARE(tag("touch_mode")->getValue().toInt(), 2);
        send(in, settag("touch_mode", "3"));
        QTRY_COMPARE(tag("touch_mode")->getValue().toInt(), 0);
        send(in, settag("backlightIntensity", R"("0.25")"));
        QTRY_COMPARE(tag("backlightIntensity")->getValue().toDouble(), 0.25);
        send(in, settag("backlightIntensity", "1"));
        QTRY_COMPARE(tag("backlightIntensity")->getValue().toDouble(), 0.0);
        send(in, settag("led3", R"("200")"));
        QTRY_COMPARE(m_link->getLedValue(3), 200);
        send(in, settag("led3", "7"));
        QTRY_COMPARE(m_link->getLedValue(3), 0);

        m_link->setLedValue(2, 0);
        MessageLog log;
        requests.clear();
        const char* const warnings[] = { "Failed to parse JSON object - msg.isEmpty",
                                         "Failed to parse JSON object - msg.isEmpty",
                                         "Failed to parse event JSON object - msgtype - Event",
                                         "Failed to parse event JSON object - unknown object",
                                         "Failed to parse event JSON object - unknown event - " };
        for (const char* warning : warnings)
            QTest::ignoreMessage(QtWarningMsg, warning);
        for (const QByteArray& bad :
             { QByteArray("{}"), QByteArray("[1]"),
               QByteArray(R"({"msgtype":"Event","event":{"eventName":"arm"}})"),
               QByteArray(R"({"msgtype":"event","event":"arm"})"), request(R"("eventName":"Arm")"),
               QByteArray(R"({"msgtype":"event")"), settag("led9", R"("1")"),
               settag("led0", R"("1")"), settag("led2x", R"("9")"), settag("led\u0662", R"("9")") })
            send(in, bad);
        // Last, a request whose datagram goes on past a NUL.
        send(in, settag("led1", R"("42")") + QByteArray("\0{\"x", 4));
        QTRY_COMPARE(m_link->getLedValue(1), 42);
        QCOMPARE(m_link->getLedValue(2), 0);
        QCOMPARE(log.messages().size(), 5);
        QVERIFY(requests.isEmpty());

        send(in, request(R"("eventName":"closeapp")"));
        QTRY_VERIFY(
            m_world.launcher.commands().contains({ QStringLiteral("appClose"), QString() }));
    }

    void triggerPostponesThePeriodicMessage()
    {
        NorvikLinkJsonInterface json(m_link, 1000, nullptr);
        QVERIFY(json.addPeriodicData(QStringLiteral("joystick_01"), true));
        QElapsedTimer clock;
        clock.start();
        QList<QPair<qint64, QByteArray>> sent;
        connect(&json, &NorvikLinkJsonInterface::sendMessage, this, [&](const QString& text) {
            sent.append({ clock.elapsed(), text.toUtf8() });
        });
        QTRY_COMPARE(sent.size(), 1);
        // Two updates half an interval apart, each from a real frame.
        qint64 updated = 0;
        connect(tag("joystick_01"), &Tag::valueUpdated, this, [&] { updated = clock.elapsed(); });
        const auto triggers = [&] {
            return std::count_if(sent.begin(), sent.end(), [](auto& message) {
                return message.second.endsWith(R"("trigger":"joystick_01"})");
            });
        };
        for (int i = 1; i <= 2; ++i) {
            QTest::qWait(400);
            QVERIFY(m_world.process.setJoystick(1, qint16(10 + i)));
            m_world.process.sendFrame();
            QTRY_COMPARE(triggers(), i);
        }
        const int afterTriggers = sent.size();
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), afterTriggers + 1, 3000);
        QVERIFY(isPeriodic(sent.last().second));
        // Coarse timers may fire up to 5 % early.
        QVERIFY2(sent.last().first - updated >= 900,
                 qPrintable(QString::number(sent.last().first - updated)));

        // One counter, modulo 256, advanced once per message.
        for (int i = 0; i < 300; ++i)
            tag("joystick_01")->setValue(QVariant(i));
        for (int i = 1; i < sent.size(); ++i)
            QCOMPARE(counterOf(sent.at(i).second), (counterOf(sent.at(i - 1).second) + 1) % 256);
    }

    void processDataOverBothTransports()
    {
        quint16 in;
        auto server = udp(&in, 200);
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
        QTRY_VERIFY(triggered() < m_received.size());
        QTRY_VERIFY(m_received.size() > triggered() + 1);
        const QByteArray periodic = m_received.at(triggered() + 1);
        QCOMPARE(periodic,
                 "{\"counter\":" + QByteArray::number(counterOf(periodic))
                     + R"(,"msgtype":"processdata","payload":{"backlightIntensity":0.25,)"
                       R"("joystick_01":-250,"led_control_1_to_8":"AP8BAgMEBQY=",)"
                       R"("rc_sw_rev":"R1.2","switch_01":true},"trigger":"periodicupdate"})");

        // Both transports draw from one counter: between two WebSocket
        // messages the faster UDP stream has taken numbers.
        const quint16 port = freePort(QTcpSocket());
        JsonInterfaceWebSocketServer ws(m_link, QString(), port, 500, nullptr);
        QVERIFY(ws.addPeriodicData(QStringLiteral("switch_01"), false));
        QWebSocket a, b;
        QSignalSpy toA(&a, &QWebSocket::textMessageReceived);
        QSignalSpy toB(&b, &QWebSocket::textMessageReceived);
        for (QWebSocket* client : { &a, &b })
            client->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
        QTRY_VERIFY_WITH_TIMEOUT(toA.size() >= 3 && toB.size() >= 3, 8000);
        QList<int> counters;
        for (const QByteArray& message : qAsConst(m_received))
            counters << counterOf(message);
        for (int i = 0; i < toA.size(); ++i) {
            const QByteArray text = toA.at(i).at(0).toString().toUtf8();
            QVERIFY(text.contains(R"("payload":{"switch_01":true})"));
            counters << counterOf(text);
            if (i > 0)
                QVERIFY(quint8(counterOf(text) - counterOf(toA.at(i - 1).at(0).toString().toUtf8()))
                        > 1);
        }
        QCOMPARE(QSet<int>(counters.begin(), counters.end()).size(), counters.size());

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
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(QStringLiteral("JsonInterfaceUdpServer could not bind to 127.0.0.1 %1")
                           .arg(taken.localPort())));
        unbound.start();
        QCOMPARE(errors.size(), 1);
        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::LocalHost));
        QTest::ignoreMessage(
            QtCriticalMsg,
            qPrintable(
                QStringLiteral("JsonInterfaceWebSocketServer failed listening on 127.0.0.1 port %1")
                    .arg(busy.serverPort())));
        JsonInterfaceWebSocketServer deaf(m_link, QString(), busy.serverPort(), 500, nullptr);

        // Destroyed while bound, and while a client is connected.
        quint16 in;
        auto server = udp(&in, 200);
        QTest::ignoreMessage(
            QtInfoMsg,
            qPrintable(QStringLiteral(
                           "Starting JsonInterfaceUdpServer at 127.0.0.1 port %1 listening at %2")
                           .arg(m_peer.localPort())
                           .arg(in)));
        server->start();
        const quint16 port = freePort(QTcpSocket());
        QTest::ignoreMessage(
            QtInfoMsg,
            qPrintable(QStringLiteral("JsonInterfaceWebSocketServer listening on 127.0.0.1 port %1")
                           .arg(port)));
        auto ws
            = std::make_unique<JsonInterfaceWebSocketServer>(m_link, QString(), port, 500, nullptr);
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
