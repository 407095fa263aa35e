// Services against byte vectors. The notification service: what it announces, what it
// sends, what it refuses, and its popup handler thread. The two fallback services: the
// R-Uzad tunnel's blocks, confirmations, sessions and aborts, and the service-forward relay.
#include "cfallbackservice.h"
#include "fallbackpeer.h"
#include "gfallbackservice.h"
#include "messagelog.h"
#include "notificationservice.h"
#include "wiretrace.h"

#include <QtTest>

namespace {
const QByteArray shock = QByteArray::fromHex("0005000300000200") + "Shock" + '\0';
struct Traced : NotificationService
{
    WireTrace trace { this };
    Traced()
    {
        trace.note(this, &NotificationService::notificationNew, "plain");
        trace.note(this, &NotificationService::popupNotificationNew, "popup");
        trace.note(this, &NotificationService::resetNotification, "withdraw");
    }
};
struct Tunnel : GFallbackService
{
    WireTrace trace { this };
    Tunnel()
    {
        trace.note(this, &GFallbackService::up, "up");
        trace.note(this, &GFallbackService::down, "down");
        trace.note(this, &GFallbackService::receive, "rx");
        QTest::ignoreMessage(QtInfoMsg, "R-Uzad fallback session established!");
    }
};
} // namespace

class tst_Services : public QObject
{
    Q_OBJECT

private slots:
    void incoming_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("messageClass");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("warning"); // what the service logs for a payload it drops
        // clang-format off
        QTest::newRow("shock alarm") << shock << 1 << QStringList{ "plain Shock 3 5 ALARM" } << "";
        QTest::newRow("unknown severity and id") << QByteArray::fromHex("0001003412010700") + "x" << 1 << QStringList{ "plain x 4660 1 INFO" } << "";
        QTest::newRow("text ends at the first zero") << QByteArray::fromHex("0004000A00000000") + "on" + '\0' + "junk" << 1 << QStringList{ "plain on 10 4 INFO" } << "";
        QTest::newRow("utf-8 text, no terminator") << QByteArray::fromHex("00FFFF0200000100") + "F\xc3\xa4ll" << 1 << QStringList{ QString::fromUtf8("plain F\xc3\xa4ll 2 65535 WARNING") } << "";
        QTest::newRow("withdrawal") << QByteArray::fromHex("012C01") << 1 << QStringList{ "withdraw 300" } << "";
        QTest::newRow("request answered first") << shock << 2 << QStringList{ "tx 3/3:", "plain Shock 3 5 ALARM" } << "";
        QTest::newRow("answer ignored") << shock << 3 << QStringList() << "";
        QTest::newRow("empty") << QByteArray() << 1 << QStringList() << "empty payload dropped";
        QTest::newRow("short withdrawal") << QByteArray::fromHex("012C") << 1 << QStringList() << "withdrawal of 2 bytes is shorter than 3 bytes, dropped";
        QTest::newRow("short notification") << shock.left(7) << 1 << QStringList() << "notification of 7 bytes is shorter than 8 bytes, dropped";
        QTest::newRow("short request answered") << QByteArray::fromHex("03") << 2 << QStringList{ "tx 3/3:" } << "notification of 1 bytes is shorter than 8 bytes, dropped";
        // clang-format on
    }
    void incoming()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, messageClass);
        QFETCH(QString, warning);
        Traced service;
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable("NotificationService: " + warning));
        const QByteArray backing = payload + shock; // read past the end, it gives a notification
        service.readData(QByteArray::fromRawData(backing, payload.size()), Internal, messageClass);
        QTEST(service.trace.log, "expected");
    }

    void outgoing()
    {
        Traced service;
        service.readData(QByteArray::fromHex("002C010100020200") + "A", Internal, 1);
        service.readData(QByteArray::fromHex("012C01"), Internal, 1);
        QVERIFY(service.isPopupPending(300)); // withdrawn, yet waiting for its acknowledgement
        service.acknowledge(300);
        QVERIFY(!service.isPopupPending(300));
        service.acknowledge(7); // not pending, told to the internal processor all the same
        service.vibrate(2, NorvikLinkDefines::VIBRATE_RIGHT, true);
        service.vibrate(1, NorvikLinkDefines::VIBRATE_BOTH, false);
        service.vibrate(4, NorvikLinkDefines::VIBRATE_LEFT, false);
        service.vibrate(1, 7, false);
        service.buzzer(3, false);
        service.buzzer(2, true);
        // clang-format off
        QCOMPARE(service.trace.log, QStringList({ "popup A 1 300 ALARM", "withdraw 300", "tx 3/1:022c01", "tx 3/1:020700",
            "tx 3/1:03006600", "tx 3/1:03010100", "tx 3/1:03040000", "tx 3/1:03", "tx 3/1:03000003", "tx 3/1:03000066" }));
        // clang-format on
    }

    // The next popup only after the shown one is acknowledged; the service
    // stops the handler's thread wherever its loop waits.
    void popupHandler()
    {
        MessageLog warnings;
        auto* service = new Traced;
        for (int ref : { 11, 12 })
            emit service->handlePopupNotificaiton({ MESSAGE_ID_MESSAGE, ref, NTFY_ID_STOP_ACTIVE, 2,
                                                    NorvikLinkDefines::WARNING, 0, "p" });
        QTRY_COMPARE(service->trace.log, QStringList("popup p 1 11 WARNING"));
        emit service->popupAckSent(11);
        QTRY_COMPARE(service->trace.log.last(), QString("popup p 1 12 WARNING"));
        delete service;
        for (int i = 0; i < 5; ++i)
            delete new NotificationService; // most before their loop has started
        QCOMPARE(warnings.messages(), QStringList());
    }

    // A 600-byte message goes out in blocks, one per confirmation. While it
    // is buffered only a command is taken, and that goes out at once.
    void tunnelBlocks()
    {
        Tunnel tunnel;
        QByteArray sent;
        QObject::connect(&tunnel, &ServiceBase::readyReadFromService,
                         [&sent](const QByteArray& block) { sent += block; });
        const QByteArray first = FallbackPeer::ruzadMessage(FallbackPeer::ruzadPeriodicData, 588);
        const QByteArray command = FallbackPeer::ruzadMessage(FallbackPeer::ruzadCmd, 28);
        tunnel.send(first);
        tunnel.send(FallbackPeer::ruzadMessage(FallbackPeer::ruzadHeartbeat, 28));
        tunnel.send(command);
        for (int i = 0; i < 3; ++i)
            tunnel.readData({}, Internal, 1); // the last two find nothing to send
        QCOMPARE(tunnel.trace.log,
                 QStringList(
                     { "up", "tx 5/1:<252 bytes>", "tx 5/1:<252 bytes>", "tx 5/1:<136 bytes>" }));
        QCOMPARE(sent, first + command);
    }

    // Received data starts the inactivity timeout: abort, and the buffer is lost.
    void sessions()
    {
        Tunnel tunnel;
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("of 11 bytes is shorter than its 12"));
        tunnel.send(FallbackPeer::ruzadMessage(FallbackPeer::ruzadCmd, 0).left(11));
        QTest::ignoreMessage(QtWarningMsg, "Got data, but no session was active!");
        tunnel.readData("stray", Internal, 2); // a request is answered all the same
        tunnel.reset(); // aborts and reports down even without a session
        tunnel.send(FallbackPeer::ruzadMessage(FallbackPeer::ruzadPeriodicData, 288));
        tunnel.readData("answer", Internal, 1);
        QTest::ignoreMessage(QtInfoMsg, "R-Uzad fallback session removed!");
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.trace.log.size(), 8, 10000);
        QTest::ignoreMessage(QtWarningMsg, "Got data, but no session was active!");
        tunnel.readData({}, Internal, 1);
        QCOMPARE(tunnel.trace.log,
                 QStringList({ "tx 5/3:", "tx 5/1:", "down", "up", "tx 5/1:<252 bytes>",
                               "rx 616e73776572", "tx 5/1:", "down" }));
    }

    void serviceForward()
    {
        CFallbackService relay;
        WireTrace trace(&relay);
        trace.note(&relay, &CFallbackService::cFallbackTx, "to manager");
        relay.readData("\xa1", Internal, 1);
        relay.readData("\xb2", Internal, 2); // a request is answered first
        relay.readData("\xc3", Internal, 3); // an answer needs nothing
        QTest::ignoreMessage(QtWarningMsg,
                             "CFallbackService: empty service-forward payload dropped");
        relay.readData(QByteArray(), Internal, 2);
        relay.cFallbackRx(QByteArray::fromHex("00ff10"));
        QCOMPARE(trace.log,
                 QStringList(
                     { "to manager a1", "tx 4/3:", "to manager b2", "tx 4/3:", "tx 4/1:00ff10" }));
    }
};

QTEST_GUILESS_MAIN(tst_Services)
#include "tst_services.moc"
