// The web services of a whole remote as its configuration starts them: the facade on
// the sample installation with its HTTP server, WebSocket and UDP interfaces on
// loopback ports, the internal processor, base unit and launcher stand-ins behind
// it, and real clients in front.
#include "messagelog.h"
#include "norvik_link.h"
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
#include <QTcpSocket>
#include <QUdpSocket>
#include <QWebSocket>
#include <QtTest>

using S = SystemEventService::States;

namespace {
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
    Tag* tag(const char* name) const { return m_link->getTags()->get(name); }
    // The internal processor's reset selects the remote, also after a heavily loaded
    // machine let the internal link be declared lost.
    void select()
    {
        if (tag("systemEventServiceState")->getValue().toInt() != int(S::SELECTED))
            m_world.events.sendEvent(SystemEventService::RESET);
        expectState(S::SELECTED);
    }
    void expectState(S state)
    {
        QTRY_COMPARE_WITH_TIMEOUT(tag("systemEventServiceState")->getValue().toInt(), int(state),
                                  5000);
    }

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
};

QTEST_GUILESS_MAIN(tst_WebServices)
#include "tst_webservices.moc"
