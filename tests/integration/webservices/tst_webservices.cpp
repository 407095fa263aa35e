// The web services of a whole remote as its configuration starts them: the facade on
// the sample installation with its HTTP server, WebSocket and UDP interfaces on
// loopback ports, the internal processor, base unit and launcher stand-ins behind
// it, and real clients in front. Then the JSON interface on that facade through its
// own UDP and WebSocket servers: requests reach the internal processor, the touch
// controller, backlight, LEDs and launcher; facade events and process data leave as
// exact JSON text.
#include "backlighthandler.h"
#include "jsoninterfaceudpsocketserver.h"
#include "jsoninterfacewebsocketserver.h"
#include "messagelog.h"
#include "norvik_link.h"
#include "norviklinkjsoninterface.h"
#include "notificationstoreage.h"
#include "operationgate.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
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
struct Reply
{
    int status = 0;
    QByteArray reason;
    QByteArray body;
    QJsonObject payload() const
    {
        return QJsonDocument::fromJson(body).object().value("payload").toObject();
    }
};

// Swallows the calls the HTTP handlers queue for the facade's thread, so a
// request is held waiting for the facade.
class HoldFacadeCalls : public QObject
{
public:
    bool held = false;
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        if (event->type() != QEvent::MetaCall
            || qstrcmp(receiver->metaObject()->className(), "MainThreadCall") != 0)
            return false;
        held = true;
        return true;
    }
};
} // namespace

class tst_WebServices : public QObject
{
    Q_OBJECT

private:
    StandIns m_world { QStringLiteral("127.0.0.66") };
    NorvikLink* m_link = nullptr;
    QNetworkAccessManager m_client;
    int m_port = 0;
    QByteArray m_token;

    QUdpSocket m_udpPeer; // where the UDP interface sends
    quint16 m_webSocketPort = 0;

    void startRemote(const QString& token, QVariantMap keys = {})
    {
        delete m_link;
        m_link = nullptr;
        keys.insert(
            { { "restapi/enabled", true }, { "restapi/port", 0 }, { "restapi/apiToken", token } });
        QVERIFY(m_world.setWebServices(keys));
        QLoggingCategory::setFilterRules("default.info=true");
        MessageLog log;
        m_link = new NorvikLink;
        QLoggingCategory::setFilterRules("default.info=false");
        m_port = 0;
        const QRegularExpression started("^Starting REST API server on 127.0.0.1 port (\\d+)$");
        for (const QString& line : log.messages(true))
            if (started.match(line).hasMatch())
                m_port = started.match(line).captured(1).toInt();
        QVERIFY(m_port > 0);
        // Rows commented out are not even looked up.
        QVERIFY(!log.messages().join('\n').contains("Unknown periodic tag"));
        m_token = token.toUtf8();
    }
    Reply call(const QByteArray& method, const QString& path, const QByteArray& body = {})
    {
        QNetworkRequest request(QUrl(QString("http://127.0.0.1:%1%2").arg(m_port).arg(path)));
        if (!m_token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + m_token);
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        QNetworkReply* reply = m_client.sendCustomRequest(request, method, body);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!finished.wait(10000))
            qWarning() << "no answer to" << method << path;
        reply->deleteLater();
        return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                 reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray(),
                 reply->readAll() };
    }
    QUdpSocket m_peer; // the configured peer: every datagram goes to its port
    QUdpSocket m_sender; // requests come from elsewhere
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
        m_sender.writeDatagram(datagram, QHostAddress::LocalHost, m_in);
    }
    Tag* tag(const char* name) const { return m_link->getTags()->get(name); }
    int state() const { return tag("systemEventServiceState")->getValue().toInt(); }
    // The internal processor's reset selects the remote, also after a heavily loaded
    // machine let the internal link be declared lost.
    void select()
    {
        if (state() != int(S::SELECTED))
            m_world.events.sendEvent(SystemEventService::RESET);
        expectState(S::SELECTED);
    }
    void expectState(S s) { QTRY_COMPARE_WITH_TIMEOUT(state(), int(s), 10000); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_world.isValid());
        // Rows of the periodic-data list: an empty trigger cell and "1" send at once on a
        // change, "0" only periodically; "#" and "//" rows are left out.
        QVERIFY(remoteworld::writeFile(m_world.sample.appDir("crane") + "/config/periodicdata.csv",
                                       "norvik_link_tag;trigger;comment\nTag;Trigger;Comment\n"
                                       "tagDataValid;;\njoystick_01;0;\nstate;1;\n"
                                       "#touch_mode;1;\n//ru_battery;1;\n"));
        QVERIFY(m_udpPeer.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QVERIFY(m_peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
        connect(&m_peer, &QUdpSocket::readyRead, this, [this] {
            while (m_peer.hasPendingDatagrams())
                m_received << m_peer.receiveDatagram().data();
        });
        m_webSocketPort = remoteworld::freeLoopbackPort(); // for the WebSocket interface
        QVERIFY(m_webSocketPort != 0);
        // Intervals below the floors of 500 ms (WebSocket) and 200 ms (UDP).
        startRemote(QString(),
                    { { "websockets/enabled", true },
                      { "websockets/port", m_webSocketPort },
                      { "websockets/interval", 100 },
                      { "udpserver/enabled", true },
                      { "udpserver/inport", 0 },
                      { "udpserver/outport", m_udpPeer.localPort() },
                      { "udpserver/interval", 50 } });
        select();
    }
    void init() { m_received.clear(); }
    void cleanupTestCase() { delete m_link; }

    void jsonInterfacesFromTheConfiguration()
    {
        QWebSocket client;
        QList<QPair<qint64, QJsonObject>> received; // arrival time, message
        QElapsedTimer clock;
        clock.start();
        connect(&client, &QWebSocket::textMessageReceived, this, [&](const QString& text) {
            received.append({ clock.elapsed(), QJsonDocument::fromJson(text.toUtf8()).object() });
        });
        client.open(QUrl(QString("ws://127.0.0.1:%1").arg(m_webSocketPort)));
        const auto periodic = [&received] {
            QList<QPair<qint64, QJsonObject>> out;
            for (const auto& message : received)
                if (message.second.value("trigger") == "periodicupdate")
                    out.append(message);
            return out;
        };
        QTRY_VERIFY_WITH_TIMEOUT(periodic().size() >= 3, 5000);
        QCOMPARE(periodic().first().second.value("payload").toObject().keys(),
                 QStringList({ "joystick_01", "state", "tagDataValid" }));
        // Timers may fire up to 5 % early.
        QVERIFY(periodic().at(2).first - periodic().at(1).first >= 450);

        // A change of a trigger tag (empty cell) sends at once; of a "0" tag, it does not.
        received.clear();
        tag("joystick_01")->setValue(QVariant(55));
        tag("tagDataValid")->setValue(QVariant(7));
        QTRY_VERIFY(!received.isEmpty());
        QCOMPARE(received.first().second.value("trigger").toString(), QString("tagDataValid"));
        QTRY_VERIFY_WITH_TIMEOUT(!periodic().isEmpty(), 2000);
        QCOMPARE(received.size(), 2);
        QCOMPARE(periodic().first().second.value("payload").toObject().value("joystick_01"), 55);

        // UDP: process data to the configured peer, no faster than every 200 ms.
        while (m_udpPeer.hasPendingDatagrams())
            m_udpPeer.receiveDatagram();
        QList<qint64> arrivals;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (m_udpPeer.hasPendingDatagrams())
                    if (QJsonDocument::fromJson(m_udpPeer.receiveDatagram().data())
                            .object()
                            .value("trigger")
                        == "periodicupdate")
                        arrivals.append(clock.elapsed());
                return arrivals.size() >= 3;
            }(),
            5000);
        QVERIFY(arrivals.at(2) - arrivals.at(1) >= 180);
    }

    void readingTags()
    {
        QTRY_COMPARE_WITH_TIMEOUT(tag("ru_identity")->getValue().toUInt(), 4660u, 10000);
        m_link->setLedValue(2, 255);
        QTRY_VERIFY(!tag("led_control_1_to_8")->getRawData().isEmpty());
        const Reply all = call("GET", "/api/1.0/tags");
        QCOMPARE(all.status, 200);
        QCOMPARE(all.payload().size(), m_link->getTags()->size());
        QCOMPARE(all.payload().value("ru_identity").toInt(), 4660);
        QCOMPARE(all.payload().value("led_control_1_to_8").toString().toLatin1(),
                 tag("led_control_1_to_8")->getRawData().toBase64());

        const Reply listed = call("GET", "/api/1.0/tags/?id=ru_identity,,state");
        QCOMPARE(listed.status, 200);
        QCOMPARE(listed.payload().keys(), QStringList({ "ru_identity", "state" }));

        const Reply unknown = call("GET", "/api/1.0/tags/?id=x,y");
        QCOMPARE(unknown.status, 403);
        QCOMPARE(unknown.reason, QByteArray("Invalid tag: x,y"));
        QVERIFY(unknown.body.isEmpty());
        // The valid part of a partly invalid request still comes.
        const Reply partly = call("GET", "/api/1.0/tags/?id=x,state");
        QCOMPARE(partly.status, 403);
        QCOMPARE(partly.reason, QByteArray("Invalid tag: x"));
        QCOMPARE(partly.payload().keys(), QStringList({ "state" }));

        QCOMPARE(call("GET", "/api/1.0/nothing").reason, QByteArray("Invalid request"));

        // The server ends the answer: chunked on a keep-alive connection.
        QTcpSocket raw;
        raw.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        raw.write("GET /api/1.0/tags/?id=state HTTP/1.1\r\n\r\n");
        QByteArray answer;
        QTRY_VERIFY((answer += raw.readAll()).endsWith("\r\n0\r\n\r\n"));
        QVERIFY(answer.contains("Transfer-Encoding: chunked"));
    }

    void readingAlarms()
    {
        m_world.notifications.raise(31, 3, 0, "Battery at 50 %");
        m_world.notifications.raise(32, 4, 1, "Battery low");
        m_world.notifications.raise(33, 5, 2, "Tilt alarm");
        QTRY_VERIFY(m_link->getNotificationStore()->getCount() >= 3);
        const QJsonArray all = call("GET", "/api/1.0/alarms").payload().value("alarms").toArray();
        QCOMPARE(all.size(), int(m_link->getNotificationStore()->getCount()));

        const Reply warnings = call("GET", "/api/1.0/alarms/?id=warning,alarm,warning");
        QCOMPARE(warnings.status, 200);
        // Entries of these severities from before this test are listed as well.
        QJsonArray listed;
        for (const QJsonValue& entry : warnings.payload().value("alarms").toArray())
            if (entry.toObject().value("reference").toInt() > 30)
                listed.append(entry);
        QCOMPARE(listed.size(), 3);
        const QJsonObject warning = listed.at(0).toObject();
        QCOMPARE(warning.value("msg").toString(), QString("Battery low"));
        QCOMPARE(warning.value("reference").toInt(), 32);
        QCOMPARE(warning.value("severity").toInt(), 1);
        QCOMPARE(warning.value("id").toInt(), 4);
        QCOMPARE(warning.value("acked").toBool(), false);
        QCOMPARE(warning.value("popup").toBool(), false);
        QDateTime when
            = QDateTime::fromString(warning.value("when").toString(), "yyyy-MM-dd HH:mm:ss");
        when.setTimeSpec(Qt::UTC);
        QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        QCOMPARE(listed.at(1).toObject().value("reference").toInt(), 33);
        QCOMPARE(listed.at(2), listed.at(0));

        const Reply critical = call("GET", "/api/1.0/alarms/?id=critical");
        QCOMPARE(critical.status, 403);
        QCOMPARE(critical.reason, QByteArray("Invalid severity: critical"));
    }

    void operations()
    {
        select();
        QCOMPARE(call("POST", "/api/1.0/arm").status, 200);
        expectState(S::ARMED_ENABLED);
        QCOMPARE(call("POST", "/api/1.0/x/disarm").status, 200); // only the ending counts
        expectState(S::SELECTED);
        // Repeated back to back, an operation passes at most once per interval.
        QTest::qWait(OperationGate::intervalMs);
        QSignalSpy requests(&m_world.events, &SystemEventPeer::requestReceived);
        QElapsedTimer burst;
        burst.start();
        int passed = 0, bursts = 0, after = 0; // a warning opens each burst, a note ends it
        MessageLog log;
        QLoggingCategory::setFilterRules("default.info=true");
        for (int i = 0, last = 200; i < 8; ++i) {
            const Reply reply = call("POST", "/api/1.0/disarm");
            passed += reply.status == 200;
            QVERIFY(reply.status == 200 || reply.reason == "Too many requests");
            bursts += reply.status != 200 && last == 200;
            after += reply.status == 200 && last != 200;
            last = reply.status;
        }
        QVERIFY(passed >= 1 && passed <= 1 + burst.elapsed() / OperationGate::intervalMs);
        QCOMPARE(log.messages().filter("more often than once per 100 ms").size(), bursts);
        QCOMPARE(log.messages(true).filter("disarm requests: ").size(), after);
        QLoggingCategory::setFilterRules("default.info=false");
        QTRY_COMPARE(requests.size(), passed);

        QCOMPARE(call("POST", "/api/1.0/acknotify", R"({"reference":32})").status, 200);
        QTRY_VERIFY(m_world.notifications.acknowledgements().contains(32));
        const Reply noReference = call("POST", "/api/1.0/acknotify", R"({"reference":0})");
        QCOMPARE(noReference.status, 403);
        QCOMPARE(noReference.reason, QByteArray("Invalid reference"));

        QTRY_VERIFY_WITH_TIMEOUT(m_world.baseUnit.isInitialized(), 10000);
        QCOMPARE(call("POST", "/api/1.0/sendcmd", R"({"cmd":"LIFT"})").status, 200);
        QTRY_VERIFY(!m_world.baseUnit.received(BaseUnitSimulator::CMD).isEmpty());
        QVERIFY(
            m_world.baseUnit.received(BaseUnitSimulator::CMD).last().payload.startsWith("LIFT"));
        QCOMPARE(call("POST", "/api/1.0/sendcmd", "not json").reason, QByteArray("No cmd"));
        // Refused as a whole: the parser would leak the repeated member's array.
        QCOMPARE(call("POST", "/api/1.0/sendcmd", R"({"cmd":[1],"cmd":"LIFT"})").reason,
                 QByteArray("No cmd"));

        QCOMPARE(call("PUT", "/api/1.0/tags?id=touch_mode", R"({"touch_mode":"2"})").status, 200);
        QTRY_COMPARE(tag("touch_mode")->getValue().toInt(), 2);
        QCOMPARE(call("PUT", "/api/1.0/tags?id=touch_mode", R"({"touch_mode":1})").status, 200);
        QTRY_COMPARE(tag("touch_mode")->getValue().toInt(), 1);
        QCOMPARE(call("PUT", "/api/1.0/tags?id=state", R"({"state":2})").reason,
                 QByteArray("Invalid tag: state"));
        QCOMPARE(call("PUT", "/api/1.0/tags", R"({"touch_mode":1})").reason,
                 QByteArray("Invalid tag: "));
        QCOMPARE(call("PUT", "/api/1.0/arm").reason, QByteArray("Invalid request"));
        QCOMPARE(call("POST", "/api/1.0/tags").reason, QByteArray("Invalid request"));

        const Reply other = call("DELETE", "/api/1.0/tags");
        QCOMPARE(other.status, 200);
        QVERIFY(other.body.isEmpty());

        QCOMPARE(call("POST", "/api/1.0/closeapp").status, 200);
        QTRY_VERIFY(
            m_world.launcher.commands().contains(qMakePair(QString("appClose"), QString())));
    }

    void staticFilesBesideTheApi()
    {
        const Reply page = call("GET", "/index.html");
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("/api/1.0/tags"));
        const Reply posted = call("POST", "/index.html", "x");
        QCOMPARE(posted.status, 200);
        QVERIFY(posted.body.isEmpty());
    }

    void tokenAndShutdown()
    {
        QTest::ignoreMessage(
            QtInfoMsg,
            QRegularExpression(
                "^WebSockets JsonInterface disabled in .*/crane/config/webservices.cfg$"));
        QTest::ignoreMessage(
            QtInfoMsg,
            QRegularExpression(
                "^UdpSocket JsonInterface disabled in .*/crane/config/webservices.cfg$"));
        startRemote("s3cret-token",
                    { { "websockets/enabled", false }, { "udpserver/enabled", false } });
        QCOMPARE(call("GET", "/api/1.0/tags/?id=state").status, 200);
        m_token = "s3cret-tokem";
        QCOMPARE(call("GET", "/api/1.0/tags/?id=state").status, 401);
        m_token.clear();
        QCOMPARE(call("POST", "/api/1.0/arm").status, 401);
        QCOMPARE(call("GET", "/index.html").status, 200);

        // A request waiting for the facade when the remote shuts down is answered 503
        // and the shutdown does not wait for it.
        m_token = "s3cret-token";
        HoldFacadeCalls hold;
        QCoreApplication::instance()->installEventFilter(&hold);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        client.write("GET /api/1.0/tags HTTP/1.1\r\nAuthorization: Bearer s3cret-token\r\n\r\n");
        QTRY_VERIFY(hold.held);
        delete m_link;
        m_link = nullptr;
        QCoreApplication::instance()->removeEventFilter(&hold);
        QByteArray answer;
        QTRY_VERIFY2((answer += client.readAll()).startsWith("HTTP/1.1 503"), answer.constData());
    }

    void requestsAndEventsOverUdp()
    {
        // The remote again, with only its REST API: the JSON interfaces below are the
        // test's own, and they alone draw from the interfaces' one message counter.
        startRemote(QString(), { { "websockets/enabled", false }, { "udpserver/enabled", false } });
        select();
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

QTEST_GUILESS_MAIN(tst_WebServices)
#include "tst_webservices.moc"
