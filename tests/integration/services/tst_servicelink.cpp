// Services 3, 4 and 5 talking to the internal processor stand-in through the
// real transport, serial port and pseudo-terminal. Every test runs twice:
// with the stack on the test's thread, and on a service thread of its own as
// on the remote, reached only through queued connections.
#include "cfallbackservice.h"
#include "fallbackpeer.h"
#include "gfallbackservice.h"
#include "internalprocessorsim.h"
#include "notificationpeer.h"
#include "notificationservice.h"
#include "transport_layer.h"
#include "tsan.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using Packet = InternalProcessorSim::Packet;

namespace {
constexpr quint8 idHeartbeat = FallbackPeer::ruzadHeartbeat;
constexpr quint8 idCmd = FallbackPeer::ruzadCmd;
constexpr quint8 idPeriodicData = FallbackPeer::ruzadPeriodicData;
constexpr int sessionTimeoutMarginMs = 10000;
} // namespace

// The transport and the three services, dispatched by service id as the
// service layer does. build() and teardown() run on the host's thread.
class ServiceHost : public QObject
{
    Q_OBJECT

public:
    TransportLayer* transport = nullptr;
    NotificationService* notification = nullptr;
    CFallbackService* cFallback = nullptr;
    GFallbackService* gFallback = nullptr;

public slots:
    void build()
    {
        transport = new TransportLayer(this);
        notification = new NotificationService(this);
        cFallback = new CFallbackService(this);
        gFallback = new GFallbackService(this);
        for (ServiceBase* service :
             { static_cast<ServiceBase*>(notification), static_cast<ServiceBase*>(cFallback),
               static_cast<ServiceBase*>(gFallback) }) {
            connect(service, &ServiceBase::readyReadFromService, transport,
                    &TransportLayer::readDataFromService);
        }
        connect(transport, &TransportLayer::readyRead, this, &ServiceHost::dispatch);
        NORVIK_TSAN_RELEASE(this); // the caller reads the pointers after the blocking call
    }

    void teardown()
    {
        delete notification;
        delete cFallback;
        delete gFallback;
        delete transport;
        notification = nullptr;
        cFallback = nullptr;
        gFallback = nullptr;
        transport = nullptr;
        NORVIK_TSAN_RELEASE(this);
    }

private slots:
    void dispatch(QByteArray data, Link fromLink, quint8 serviceId, quint8 messageClass)
    {
        if (serviceId == SERV_ID_NOTIFICATION)
            notification->readData(data, fromLink, messageClass);
        else if (serviceId == SERV_ID_CFALLBACK)
            cFallback->readData(data, fromLink, messageClass);
        else if (serviceId == SERV_ID_GFALLBACK)
            gFallback->readData(data, fromLink, messageClass);
    }
};

// Stands where the facade and the base-unit manager sit: requests go out as
// signals, the services' signals come back as signals of this object.
class Peers : public QObject
{
    Q_OBJECT

signals:
    void acknowledge(int reference);
    void vibrate(int numOfVibrations, int whichMotor, bool longSignal);
    void buzzer(int numOfBuzzes, bool longSignal);
    void sendFallback(const QByteArray& data);
    void sendServiceForward(const QByteArray& data);

    void notificationNew(QString message, NOTIFICATION_ID_T id, int reference,
                         NorvikLinkDefines::NotificationSeverity severity);
    void popupNotificationNew(QString message, NOTIFICATION_ID_T id, int reference,
                              NorvikLinkDefines::NotificationSeverity severity);
    void resetNotification(int ref);
    void fallbackUp();
    void fallbackDown();
    void fallbackReceive(const QByteArray& data);
    void receiveServiceForward(const QByteArray& data);
};

class tst_ServiceLink : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_sysroot = nullptr;
    InternalProcessorSim* m_sim = nullptr;
    NotificationPeer* m_notifyPeer = nullptr;
    FallbackPeer* m_fallbackPeer = nullptr;
    QThread* m_thread = nullptr;
    ServiceHost* m_host = nullptr;
    Peers* m_peers = nullptr;

    void wire()
    {
        NotificationService* n = m_host->notification;
        connect(m_peers, &Peers::acknowledge, n, &NotificationService::acknowledge);
        connect(m_peers, &Peers::vibrate, n, &NotificationService::vibrate);
        connect(m_peers, &Peers::buzzer, n, &NotificationService::buzzer);
        connect(n, &NotificationService::notificationNew, m_peers, &Peers::notificationNew);
        connect(n, &NotificationService::popupNotificationNew, m_peers,
                &Peers::popupNotificationNew);
        connect(n, &NotificationService::resetNotification, m_peers, &Peers::resetNotification);

        GFallbackService* g = m_host->gFallback;
        connect(m_peers, &Peers::sendFallback, g, &GFallbackService::send);
        connect(g, &GFallbackService::up, m_peers, &Peers::fallbackUp);
        connect(g, &GFallbackService::down, m_peers, &Peers::fallbackDown);
        connect(g, &GFallbackService::receive, m_peers, &Peers::fallbackReceive);

        CFallbackService* c = m_host->cFallback;
        connect(m_peers, &Peers::sendServiceForward, c, &CFallbackService::cFallbackRx);
        connect(c, &CFallbackService::cFallbackTx, m_peers, &Peers::receiveServiceForward);
    }

    // The answer the stand-in received for its request `number` on `serviceId`.
    QList<Packet> answersTo(quint8 serviceId, quint8 number) const
    {
        QList<Packet> out;
        for (const Packet& p : m_sim->received())
            if (p.messageClass == 3 && p.serviceId == serviceId && p.packetNumber == number)
                out.append(p);
        return out;
    }

    static QList<int> sizes(const QList<QByteArray>& blocks)
    {
        QList<int> out;
        for (const QByteArray& b : blocks)
            out.append(b.size());
        return out;
    }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("serviceThread");
        QTest::newRow("same thread") << false;
        QTest::newRow("service thread") << true;
    }

    void init()
    {
        m_sysroot = new QTemporaryDir;
        qputenv("NORVIK_SYSROOT", m_sysroot->path().toLocal8Bit());
        m_sim = new InternalProcessorSim;
        QVERIFY(m_sim->open(m_sysroot->path()));
        m_notifyPeer = new NotificationPeer(m_sim, m_sim);
        m_fallbackPeer = new FallbackPeer(m_sim, m_sim);

        m_host = new ServiceHost;
        QFETCH_GLOBAL(bool, serviceThread);
        if (serviceThread) {
            m_thread = new QThread;
            m_host->moveToThread(m_thread);
            m_thread->start();
            QVERIFY(QMetaObject::invokeMethod(m_host, "build", Qt::BlockingQueuedConnection));
            NORVIK_TSAN_ACQUIRE(m_host);
        } else {
            m_host->build();
        }
        m_peers = new Peers;
        wire();
    }

    void cleanup()
    {
        delete m_peers;
        if (m_thread) {
            QMetaObject::invokeMethod(m_host, "teardown", Qt::BlockingQueuedConnection);
            NORVIK_TSAN_ACQUIRE(m_host);
            m_thread->quit();
            m_thread->wait();
            delete m_thread;
            m_thread = nullptr;
        }
        delete m_host;
        delete m_sim;
        delete m_sysroot;
    }

    void notificationsBothWays()
    {
        QSignalSpy plain(m_peers, &Peers::notificationNew);
        QSignalSpy popups(m_peers, &Peers::popupNotificationNew);
        QSignalSpy resets(m_peers, &Peers::resetNotification);

        m_notifyPeer->raise(5, NTFY_ID_RU_SHOCK_DETECTED, NorvikLinkDefines::ALARM, "Shock");
        const quint8 request
            = m_notifyPeer->raisePopup(300, NTFY_ID_ARM_FAIL_NO_BU_COM, NorvikLinkDefines::WARNING,
                                       QString::fromUtf8("Kein Funk \xe2\x9a\xa0"), 2);
        m_notifyPeer->withdraw(5);

        QTRY_COMPARE(resets.count(), 1);
        QCOMPARE(plain.count(), 1);
        QCOMPARE(plain.at(0).at(0).toString(), QStringLiteral("Shock"));
        QCOMPARE(plain.at(0).at(1).value<NOTIFICATION_ID_T>(), NTFY_ID_RU_SHOCK_DETECTED);
        QCOMPARE(plain.at(0).at(2).toInt(), 5);
        QCOMPARE(plain.at(0).at(3).value<NorvikLinkDefines::NotificationSeverity>(),
                 NorvikLinkDefines::ALARM);
        QCOMPARE(popups.count(), 1);
        QCOMPARE(popups.at(0).at(0).toString(), QString::fromUtf8("Kein Funk \xe2\x9a\xa0"));
        QCOMPARE(popups.at(0).at(1).value<NOTIFICATION_ID_T>(), NTFY_ID_ARM_FAIL_NO_BU_COM);
        QCOMPARE(popups.at(0).at(2).toInt(), 300);
        QCOMPARE(popups.at(0).at(3).value<NorvikLinkDefines::NotificationSeverity>(),
                 NorvikLinkDefines::WARNING);
        QCOMPARE(resets.at(0).at(0).toInt(), 5);
        // The popup request was answered with its own packet number.
        QTRY_COMPARE(answersTo(3, request).size(), 1);
        QCOMPARE(answersTo(3, request).at(0).payload, QByteArray());

        emit m_peers->acknowledge(300);
        emit m_peers->vibrate(2, NorvikLinkDefines::VIBRATE_RIGHT, true);
        emit m_peers->vibrate(1, NorvikLinkDefines::VIBRATE_BOTH, false);
        emit m_peers->buzzer(3, false);
        QTRY_COMPARE(m_notifyPeer->audibleRequests().size(), 3);
        QCOMPARE(m_notifyPeer->acknowledgements(), QList<quint16> { 300 });
        QCOMPARE(
            m_notifyPeer->audibleRequests(),
            QList<QByteArray>({ QByteArray::fromHex("03006600"), QByteArray::fromHex("03010100"),
                                QByteArray::fromHex("03000003") }));
        QCOMPARE(m_notifyPeer->unexpected(), QList<QByteArray>());
    }

    void brokenNotificationsDropped()
    {
        QSignalSpy plain(m_peers, &Peers::notificationNew);
        QSignalSpy resets(m_peers, &Peers::resetNotification);
        QTest::ignoreMessage(
            QtWarningMsg,
            "NotificationService: withdrawal of 2 bytes is shorter than 3 bytes, dropped");
        QTest::ignoreMessage(
            QtWarningMsg,
            "NotificationService: notification of 5 bytes is shorter than 8 bytes, dropped");
        m_notifyPeer->sendRaw(QByteArray::fromHex("0107"));
        const quint8 request = m_notifyPeer->sendRaw(QByteArray::fromHex("0009000100"), 2);
        m_notifyPeer->raise(10, NTFY_ID_ARMED_OK, NorvikLinkDefines::INFO, "Armed");

        // The good one behind the broken ones still arrives, and the broken
        // request got its answer all the same.
        QTRY_COMPARE(plain.count(), 1);
        QCOMPARE(plain.at(0).at(0).toString(), QStringLiteral("Armed"));
        QCOMPARE(resets.count(), 0);
        QTRY_COMPARE(answersTo(3, request).size(), 1);
    }

    void tunnelBlocksAndCommands()
    {
        QSignalSpy up(m_peers, &Peers::fallbackUp);
        const QByteArray first = FallbackPeer::ruzadMessage(idPeriodicData, 588);
        const QByteArray second = FallbackPeer::ruzadMessage(idPeriodicData, 588, 7);
        const QByteArray command = FallbackPeer::ruzadMessage(idCmd, 288);

        emit m_peers->sendFallback(first);
        QTRY_COMPARE(m_fallbackPeer->blocks().size(), 1);
        QCOMPARE(up.count(), 1);
        // Nothing more without a confirmation.
        QTest::qWait(300);
        QCOMPARE(m_fallbackPeer->blocks().size(), 1);
        m_fallbackPeer->confirm();
        QTRY_COMPARE(m_fallbackPeer->blocks().size(), 2);
        m_fallbackPeer->confirm(2); // a confirmation sent as a request is answered too
        QTRY_COMPARE(m_fallbackPeer->blocks().size(), 3);
        QCOMPARE(sizes(m_fallbackPeer->blocks()), QList<int>({ 252, 252, 96 }));

        // Second message: a heartbeat behind it is dropped, a command overtakes
        // the wait for the confirmation.
        emit m_peers->sendFallback(second);
        emit m_peers->sendFallback(FallbackPeer::ruzadMessage(idHeartbeat, 0));
        emit m_peers->sendFallback(command);
        QTRY_COMPARE(m_fallbackPeer->blocks().size(), 5);
        m_fallbackPeer->setAutoConfirm(0);
        m_fallbackPeer->confirm();
        QTRY_COMPARE(m_fallbackPeer->blocks().size(), 7);
        QCOMPARE(sizes(m_fallbackPeer->blocks()), QList<int>({ 252, 252, 96, 252, 252, 252, 144 }));
        QCOMPARE(m_fallbackPeer->tunnelBytes(), first + second + command);
        QCOMPARE(up.count(), 1);
        QCOMPARE(m_fallbackPeer->aborts(), 0);
    }

    void tunnelSessionTimesOut()
    {
        QSignalSpy received(m_peers, &Peers::fallbackReceive);
        QSignalSpy down(m_peers, &Peers::fallbackDown);
        m_fallbackPeer->setAutoConfirm(0);

        emit m_peers->sendFallback(FallbackPeer::ruzadMessage(idCmd, 20));
        QTRY_COMPARE(m_fallbackPeer->blocks().size(), 1);
        m_fallbackPeer->sendTunnelData(FallbackPeer::ruzadMessage(idPeriodicData, 8));
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toByteArray(), FallbackPeer::ruzadMessage(idPeriodicData, 8));
        QCOMPARE(down.count(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(down.count(), 1, sessionTimeoutMarginMs);
        QTRY_COMPARE(m_fallbackPeer->aborts(), 1);

        // Without a session tunnel data is dropped. The notification behind
        // it on the line shows when it has been dealt with.
        QSignalSpy plain(m_peers, &Peers::notificationNew);
        QTest::ignoreMessage(QtWarningMsg, "Got data, but no session was active!");
        m_fallbackPeer->sendTunnelData("late");
        m_notifyPeer->raise(1, NTFY_ID_GENERIC, NorvikLinkDefines::INFO, "after");
        QTRY_COMPARE(plain.count(), 1);
        QCOMPARE(received.count(), 1);
    }

    void serviceForwardBothWays()
    {
        QSignalSpy toManager(m_peers, &Peers::receiveServiceForward);
        const QByteArray fromBase = QByteArray::fromHex("0a0b0c0d0e");
        const QByteArray fromProcessor = QByteArray::fromHex("820a0090ff");

        emit m_peers->sendServiceForward(fromBase);
        m_fallbackPeer->sendServiceForward(fromProcessor);
        const quint8 request = m_fallbackPeer->sendServiceForward("request", 2);
        QTRY_COMPARE(toManager.count(), 2);
        QCOMPARE(toManager.at(0).at(0).toByteArray(), fromProcessor);
        QCOMPARE(toManager.at(1).at(0).toByteArray(), QByteArray("request"));
        QTRY_COMPARE(answersTo(4, request).size(), 1);
        QTRY_COMPARE(m_fallbackPeer->serviceForward(), QList<QByteArray> { fromBase });
    }
};

QTEST_GUILESS_MAIN(tst_ServiceLink)
#include "tst_servicelink.moc"
