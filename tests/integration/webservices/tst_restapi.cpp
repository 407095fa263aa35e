// The REST API of a whole remote: the facade on the sample installation with its
// HTTP server on a loopback port, the internal processor, base unit and launcher
// stand-ins behind it, and a real HTTP client in front.
#include "messagelog.h"
#include "norvik_link.h"
#include "notificationstoreage.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
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

class tst_RestApi : public QObject
{
    Q_OBJECT

private:
    StandIns m_world { QStringLiteral("127.0.0.64") };
    NorvikLink* m_link = nullptr;
    QNetworkAccessManager m_client;
    int m_port = 0;
    QByteArray m_token;

    void startRemote(const QString& token)
    {
        delete m_link;
        QVERIFY(m_world.setWebServices(
            { { "restapi/enabled", true }, { "restapi/port", 0 }, { "restapi/apiToken", token } }));
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
    void expectState(S state)
    {
        QTRY_COMPARE_WITH_TIMEOUT(tag("systemEventServiceState")->getValue().toInt(), int(state),
                                  5000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_world.isValid());
        startRemote(QString());
        m_world.events.sendEvent(SystemEventService::RESET);
        expectState(S::SELECTED);
    }
    void cleanupTestCase() { delete m_link; }

    void readingTags()
    {
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
        QCOMPARE(call("POST", "/api/1.0/arm").status, 200);
        expectState(S::ARMED_ENABLED);
        QCOMPARE(call("POST", "/api/1.0/x/disarm").status, 200); // only the ending counts
        expectState(S::SELECTED);

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
        startRemote("s3cret-token");
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
        QTRY_VERIFY((answer += client.readAll()).startsWith("HTTP/1.1 503"));
    }
};

QTEST_GUILESS_MAIN(tst_RestApi)
#include "tst_restapi.moc"
