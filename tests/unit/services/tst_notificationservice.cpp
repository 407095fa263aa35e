// NotificationService on its own: payload decoding, the bytes it sends, bad
// payloads, and the popup handler on its own thread.
#include "notificationservice.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <thread>

namespace {
QStringList capturedWarnings;

void captureWarnings(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg)
        capturedWarnings.append(text);
}

NOTIFICATION_MSG_T popup(int reference, const QString& text)
{
    NOTIFICATION_MSG_T msg;
    msg.reference = reference;
    msg.target = 2;
    msg.severity = NorvikLinkDefines::WARNING;
    msg.notificationId = NTFY_ID_STOP_ACTIVE;
    msg.message = text;
    return msg;
}
} // namespace

class tst_NotificationService : public QObject
{
    Q_OBJECT

private:
    NotificationService* m_service = nullptr;
    QSignalSpy* m_sent = nullptr;
    QSignalSpy* m_plain = nullptr;
    QSignalSpy* m_popups = nullptr;
    QSignalSpy* m_resets = nullptr;

    int announced() const { return m_plain->count() + m_popups->count() + m_resets->count(); }

private slots:
    void init()
    {
        m_service = new NotificationService;
        m_sent = new QSignalSpy(m_service, &ServiceBase::readyReadFromService);
        m_plain = new QSignalSpy(m_service, &NotificationService::notificationNew);
        m_popups = new QSignalSpy(m_service, &NotificationService::popupNotificationNew);
        m_resets = new QSignalSpy(m_service, &NotificationService::resetNotification);
    }

    void cleanup()
    {
        delete m_sent;
        delete m_plain;
        delete m_popups;
        delete m_resets;
        delete m_service;
    }

    void decodesNotifications_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("isPopup");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("reference");
        QTest::addColumn<int>("severity");

        const QByteArray shock = QByteArray::fromHex("0005000300000200") + "Shock" + '\0';
        QTest::newRow("shock alarm") << shock << false << "Shock" << 3 << 5 << 2;
        QByteArray shockPopup = shock;
        shockPopup[5] = 2;
        QTest::newRow("shock alarm as popup") << shockPopup << true << "Shock" << 3 << 5 << 2;
        QTest::newRow("warning, reference high byte")
            << QByteArray::fromHex("00FFFF0100000100") + "Stop" + '\0' << false << "Stop" << 1
            << 65535 << 1;
        QTest::newRow("unknown severity is info")
            << QByteArray::fromHex("0001000000000700") + "x" + '\0' << false << "x" << 0 << 1 << 0;
        QTest::newRow("unknown id passed on")
            << QByteArray::fromHex("0002003412010000") << false << "" << 0x1234 << 2 << 0;
        QTest::newRow("text without terminator")
            << QByteArray::fromHex("0003001100000000") + "to the end" << false << "to the end" << 17
            << 3 << 0;
        QTest::newRow("text ends at first zero")
            << QByteArray::fromHex("0004000A00000000") + "armed" + '\0' + "junk" + '\0' << false
            << "armed" << 10 << 4 << 0;
        QTest::newRow("utf-8 text")
            << QByteArray::fromHex("0009000200020100")
                + QString::fromUtf8("Fall erkannt: \xc3\xa4").toUtf8()
            << true << QString::fromUtf8("Fall erkannt: \xc3\xa4") << 2 << 9 << 1;
    }

    void decodesNotifications()
    {
        QFETCH(QByteArray, payload);
        QFETCH(bool, isPopup);
        QFETCH(QString, text);
        QFETCH(int, id);
        QFETCH(int, reference);
        QFETCH(int, severity);

        m_service->readData(payload, Internal, 1);
        QSignalSpy* hit = isPopup ? m_popups : m_plain;
        QCOMPARE(hit->count(), 1);
        QCOMPARE(announced(), 1);
        const QList<QVariant> args = hit->at(0);
        QCOMPARE(args.at(0).toString(), text);
        QCOMPARE(int(args.at(1).value<NOTIFICATION_ID_T>()), id);
        QCOMPARE(args.at(2).toInt(), reference);
        QCOMPARE(int(args.at(3).value<NorvikLinkDefines::NotificationSeverity>()), severity);
        QCOMPARE(m_service->isPopupPending(reference), isPopup);
        QCOMPARE(m_sent->count(), 0); // a class-1 packet needs no answer from the service
    }

    void popupLifecycle()
    {
        const QByteArray popup300 = QByteArray::fromHex("002C010100020200") + "A";
        m_service->readData(popup300, Internal, 1);
        QVERIFY(m_service->isPopupPending(300));

        // A withdrawal is announced; the popup stays pending until acknowledged.
        m_service->readData(QByteArray::fromHex("012C01"), Internal, 1);
        QCOMPARE(m_resets->count(), 1);
        QCOMPARE(m_resets->at(0).at(0).toInt(), 300);
        QVERIFY(m_service->isPopupPending(300));

        m_service->acknowledge(300);
        QVERIFY(!m_service->isPopupPending(300));
        // Acknowledging what is not pending still reaches the internal processor.
        m_service->acknowledge(7);
        QCOMPARE(m_sent->count(), 2);
        QCOMPARE(m_sent->at(0).at(0).toByteArray(), QByteArray::fromHex("022C01"));
        QCOMPARE(m_sent->at(1).at(0).toByteArray(), QByteArray::fromHex("020700"));
        for (const QList<QVariant>& args : qAsConst(*m_sent)) {
            QCOMPARE(args.at(1).value<Link>(), Internal);
            QCOMPARE(args.at(2).toUInt(), 3u);
            QCOMPARE(args.at(3).toUInt(), 1u);
        }
    }

    void audibleRequests_data()
    {
        QTest::addColumn<bool>("isBuzzer");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("motor");
        QTest::addColumn<bool>("longSignal");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("right, long") << false << 2 << int(NorvikLinkDefines::VIBRATE_RIGHT) << true
                                     << QByteArray::fromHex("03006600");
        QTest::newRow("both, short") << false << 1 << int(NorvikLinkDefines::VIBRATE_BOTH) << false
                                     << QByteArray::fromHex("03010100");
        QTest::newRow("left, short") << false << 4 << int(NorvikLinkDefines::VIBRATE_LEFT) << false
                                     << QByteArray::fromHex("03040000");
        QTest::newRow("unknown motor") << false << 1 << 7 << false << QByteArray::fromHex("03");
        QTest::newRow("buzzer, short")
            << true << 3 << 0 << false << QByteArray::fromHex("03000003");
        QTest::newRow("buzzer, long") << true << 2 << 0 << true << QByteArray::fromHex("03000066");
    }

    void audibleRequests()
    {
        QFETCH(bool, isBuzzer);
        QFETCH(int, count);
        QFETCH(int, motor);
        QFETCH(bool, longSignal);
        QFETCH(QByteArray, expected);

        if (isBuzzer)
            m_service->buzzer(count, longSignal);
        else
            m_service->vibrate(count, motor, longSignal);
        QCOMPARE(m_sent->count(), 1);
        QCOMPARE(m_sent->at(0).at(0).toByteArray(), expected);
        QCOMPARE(m_sent->at(0).at(2).toUInt(), 3u);
        QCOMPARE(m_sent->at(0).at(3).toUInt(), 1u);
    }

    void shortPayloadsRejected_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("messageClass");
        QTest::addColumn<QString>("warning");

        QTest::newRow("empty") << QByteArray() << 1 << "NotificationService: empty payload dropped";
        QTest::newRow("withdrawal without high byte")
            << QByteArray::fromHex("012C") << 1
            << "NotificationService: withdrawal of 2 bytes is shorter than 3 bytes, dropped";
        QTest::newRow("notification without ack byte")
            << QByteArray::fromHex("00050003000002") << 1
            << "NotificationService: notification of 7 bytes is shorter than 8 bytes, dropped";
        QTest::newRow("bare id, as a request")
            << QByteArray::fromHex("03") << 2
            << "NotificationService: notification of 1 bytes is shorter than 8 bytes, dropped";
    }

    void shortPayloadsRejected()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, messageClass);
        QFETCH(QString, warning);

        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        // Cut out of a larger buffer: reading past the end would see these bytes.
        const QByteArray backing = payload + QByteArray::fromHex("05000300000200") + "Over";
        m_service->readData(QByteArray::fromRawData(backing.constData(), payload.size()), Internal,
                            quint8(messageClass));
        QCOMPARE(announced(), 0);
        // A request is answered even when its content is refused.
        QCOMPARE(m_sent->count(), messageClass == 2 ? 1 : 0);
    }

    void messageClasses()
    {
        QStringList order;
        connect(m_service, &ServiceBase::readyReadFromService, this,
                [&order](const QByteArray& data, Link, quint8 id, quint8 cls) {
                    order << QStringLiteral("answer %1/%2/%3").arg(id).arg(cls).arg(data.size());
                });
        connect(m_service, &NotificationService::notificationNew, this,
                [&order](const QString& text) { order << text; });

        const QByteArray payload = QByteArray::fromHex("0001000100000000") + "Stop" + '\0';
        m_service->readData(payload, Internal, 3); // an answer: nothing to do
        m_service->readData(payload, Internal, 2);
        QCOMPARE(order, QStringList({ "answer 3/3/0", "Stop" }));
    }

    void popupHandlerShowsOneAtATime()
    {
        emit m_service->handlePopupNotificaiton(popup(11, "first"));
        emit m_service->handlePopupNotificaiton(popup(12, "second"));
        emit m_service->handlePopupNotificaiton(popup(13, "third"));
        QTRY_COMPARE(m_popups->count(), 1);
        QCOMPARE(m_popups->at(0).at(0).toString(), QStringLiteral("first"));
        QCOMPARE(m_popups->at(0).at(2).toInt(), 11);

        // Acknowledgements of popups not on show release nothing.
        emit m_service->popupAckSent(12);
        emit m_service->popupAckSent(99);
        QTest::qWait(200);
        QCOMPARE(m_popups->count(), 1);

        // The acknowledgement may come from any thread; the handler's own
        // thread is blocked in its loop.
        std::thread acker([this] { emit m_service->popupAckSent(11); });
        acker.join();
        QTRY_COMPARE(m_popups->count(), 2);
        QCOMPARE(m_popups->at(1).at(0).toString(), QStringLiteral("second"));

        // A repeated acknowledgement of the shown popup counts once.
        emit m_service->popupAckSent(12);
        emit m_service->popupAckSent(12);
        QTRY_COMPARE(m_popups->count(), 3);
        QTest::qWait(200);
        QCOMPARE(m_popups->count(), 3);
        QCOMPARE(m_popups->at(2).at(2).toInt(), 13);
    }

    void registrations()
    {
        // Queued connections find the types by these names.
        for (const char* name :
             { "NOTIFICATION_MSG_T", "NOTIFICATION_ID_T", "NotificationSeverity" })
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);

        // The user interface creates the service by its module and type name.
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import NotificationService 1.0\nNotificationService {}\n", QUrl());
        QScopedPointer<QObject> created(component.create());
        QVERIFY2(created, qPrintable(component.errorString()));
        QVERIFY(qobject_cast<NotificationService*>(created.data()));
    }

    void destroyedWhileAPopupWaits()
    {
        emit m_service->handlePopupNotificaiton(popup(1, "waiting"));
        QTRY_COMPARE(m_popups->count(), 1);
        capturedWarnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureWarnings);
        cleanup(); // stops and joins the handler thread
        qInstallMessageHandler(previous);
        init();
        QCOMPARE(capturedWarnings, QStringList());

        // Services come and go, most before their handler loop has even started.
        for (int i = 0; i < 5; ++i)
            delete new NotificationService;
    }
};

QTEST_GUILESS_MAIN(tst_NotificationService)
#include "tst_notificationservice.moc"
