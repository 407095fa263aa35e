// The notification service against byte vectors: what it announces, what it
// sends, what it refuses, and its popup handler thread.
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
} // namespace

class tst_NotificationService : public QObject
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
};

QTEST_GUILESS_MAIN(tst_NotificationService)
#include "tst_notificationservice.moc"
