// Faults on the serial line and in the remote's own files, through the facade and the
// stand-ins (base unit on 127.0.0.70 to .74): the remote never shows a value nobody sent,
// comes back when the fault goes, and a machine stop pressed meanwhile reaches the base unit.
#include "cranesetup.h"
#include "messagelog.h"
#include "norvik_link.h"
#include "notificationstoreage.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QLocalSocket>
#include <QtTest>

using S = SystemEventService::States;
using namespace remoteworld;

class tst_SerialFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<StandIns> m_world;
    NorvikLink* m_link = nullptr;
    QList<S> m_states;
    const QByteArray m_tmp = qgetenv("TMPDIR");

    Tag* tag(const char* name) const { return m_link->getTags()->get(QLatin1String(name)); }
    S state() const { return m_states.isEmpty() ? S::NO_RI_Link : m_states.last(); }
    void expectState(S s) { QTRY_COMPARE_WITH_TIMEOUT(state(), s, 5000); }

    // The world with its base unit on 127.0.0.7<host>, `prepare` run on it, then
    // the remote; unless `prepare` breaks the walk, the handshake, the identity
    // and the base-unit link follow, and the remote is armed.
    void bringUp(int host, const std::function<void()>& prepare = {})
    {
        m_world = std::make_unique<StandIns>(QStringLiteral("127.0.0.7%1").arg(host));
        QVERIFY(m_world->isValid());
        if (prepare)
            prepare();
        m_link = new NorvikLink;
        connect(m_link->systemEventService(), &SystemEventService::stateChanged, this,
                [this](S s) { m_states << s; });
        if (host == 1)
            return;
        handshake();
        expectBaseUnitLink();
        m_link->arm();
        expectState(S::ARMED_ENABLED);
        QVERIFY(m_states.contains(S::ARMING));
    }
    // The internal processor starts the handshake and repeats its reset until the remote
    // answers: a reset request queued behind a packet on its last try is lost with it.
    void handshake()
    {
        m_states.clear();
        for (int i = 0; i < 5 && !m_states.contains(S::WAITING); ++i) {
            m_world->events.sendEvent(SystemEventService::RESET);
            waitFor([this] { return m_states.contains(S::WAITING); }, 1000);
        }
        expectState(S::SELECTED); // the control system selects itself
    }
    void expectBaseUnitLink()
    {
        QTRY_COMPARE(tag("ru_identity")->getValue().toUInt(), 4660u);
        QTRY_VERIFY_WITH_TIMEOUT(m_world->baseUnit.isInitialized(), 10000);
    }
    // Presses the machine stop, or breaks its input with `fault`; the base unit hears of it.
    void pressStop(const std::function<void()>& fault = {})
    {
        QSignalSpy pressed(m_link, &NorvikLink::stopPressed);
        QSignalSpy released(m_link, &NorvikLink::stopReleased);
        const int before = m_world->baseUnit.receivedCount(BaseUnitSimulator::E_STOP);
        QVERIFY(fault ? (fault(), true) : writeFile(m_world->stopButton(), "0"));
        QTRY_COMPARE(pressed.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(
            m_world->baseUnit.receivedCount(BaseUnitSimulator::E_STOP) > before, 5000);
        QCOMPARE(m_world->baseUnit.received(BaseUnitSimulator::E_STOP).last().payload,
                 QByteArray(1, '\0'));
        QVERIFY(QDir(m_world->stopButton()).removeRecursively());
        QVERIFY(writeFile(m_world->stopButton(), "1"));
        QTRY_COMPARE(released.count(), 1);
    }

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.info=false"); }
    void cleanup()
    {
        delete m_link;
        m_link = nullptr;
        m_world.reset();
        m_states.clear();
        qputenv("TMPDIR", m_tmp); // the next world's folders go where the first one's went
    }

    // One byte in a hundred damaged both ways for a minute while process data,
    // notifications and the armed remote's requests flow.
    void serialNoise()
    {
        bringUp(0);
        InternalProcessorSim& ip = m_world->ip;
        ProcessDataPeer& process = m_world->process;
        const char* const watched[] = { "pd_frame_counter", "encoder_01", "joystick_01", "state" };
        QHash<QString, QSet<qint64>> sent;
        QHash<QString, QList<qint64>> seen;
        for (const char* name : watched)
            connect(tag(name), &Tag::valueUpdated, this,
                    [&seen, name](const QVariant& v) { seen[name] << v.toLongLong(); });
        QSet<QString> intactNotices;
        QStringList notices;
        connect(m_link, &NorvikLink::newNotification, this,
                [&notices](const QString& text) { notices << text; });
        // A frame counts as sent when its content survived the noise (a damaged
        // start byte, say, leaves it whole). Damaged are the lines as the remote's line
        // discipline cuts them: noise may end a frame early or merge it with the next.
        QByteArray wire, line;
        int damaged = 0;
        InternalProcessorSim::Packet packet;
        connect(&ip, &InternalProcessorSim::frameWritten, this, [&](const QByteArray& bytes) {
            wire = bytes, line += bytes;
            for (int end; (end = line.indexOf('\n')) >= 0; line.remove(0, end + 1))
                damaged += !InternalProcessorSim::parseFrame(line.left(end + 1), &packet);
        });
        MessageLog log;
        ip.setCorruption(0.01, 20261206);
        QElapsedTimer clock;
        clock.start();
        for (int n = 1; clock.elapsed() < 60000; ++n) {
            // Each frame's counter and encoder are its own: a value from a damaged
            // frame can be told from every value that came through.
            const qint64 values[] = { n, qint16(n * 7), n % 2001 - 1000, 2 };
            for (int k = 0; k < 4; ++k)
                QVERIFY(process.setField(QLatin1String(watched[k]), values[k]));
            process.sendFrame();
            for (int k = 0; k < 4 && InternalProcessorSim::parseFrame(wire, &packet); ++k)
                sent[watched[k]] << values[k];
            if (n % 25 == 0) {
                const QString text = QStringLiteral("noise %1").arg(n);
                m_world->notifications.raise(quint16(n), 3, 1, text);
                if (InternalProcessorSim::parseFrame(wire, &packet))
                    intactNotices << text;
            }
            if (n % 50 == 0 && state() == S::NO_RI_Link)
                m_world->events.sendEvent(SystemEventService::RESET);
            else if (n % 50 == 0 && state() == S::SELECTED)
                m_link->arm();
            if (n == 1000)
                pressStop();
            QTest::qWait(20);
        }
        ip.setCorruption(0, 0);
        QVERIFY2(ip.corruptedFramesOut() > 100 && ip.badFramesIn() > 20,
                 qPrintable(QString::number(ip.badFramesIn())));

        // The link comes back and fresh values arrive.
        handshake();
        const qint64 fresh[] = { 65000, -7, 0, 2 };
        for (int k = 0; k < 4; ++k) {
            sent[watched[k]] << fresh[k];
            QVERIFY(process.setField(QLatin1String(watched[k]), fresh[k]));
        }
        process.sendFrame();
        QTRY_COMPARE(tag("pd_frame_counter")->getValue().toInt(), 65000);

        // Nothing but what came through intact was ever shown, and damaged lines were
        // dropped with a log line each, and counted, before any other layer or service
        // could complain about them.
        const int drops = log.messages().filter("TransportLayer: dropped a damaged frame").size();
        QCOMPARE(drops, damaged);
        QCOMPARE(m_link->linkHealth().crcFailures, quint64(drops));
        for (const char* name : watched) {
            QVERIFY2(!seen[name].isEmpty(), name);
            for (qint64 value : qAsConst(seen[name]))
                QVERIFY2(sent[name].contains(value), qPrintable(QString::number(value)));
        }
        QVERIFY(!notices.isEmpty());
        for (const QString& text : qAsConst(notices))
            QVERIFY2(intactNotices.contains(text), qPrintable(text));
        const QRegularExpression linkStack(QStringLiteral(
            "^(TransportLayer: (?!dropped a damaged frame)|SystemEventService|NotificationService|"
            "ConfigurationService: (?!internal link failed during the configuration walk)|"
            "ProcessdataElement|[CG]FallbackService|unhandled event)"));
        for (const QString& line : log.messages())
            QVERIFY2(!linkStack.match(line).hasMatch(), qPrintable(line));
    }

    // The internal processor hangs in the middle of the configuration walk for
    // five seconds, then comes back.
    void processorSilent()
    {
        QList<QPair<qint64, QByteArray>> lines; // read by the processor since the silence
        bool cut = false, quiet = false;
        // The counters against what the processor saw: a line read is a frame sent (and counted
        // before), a data packet read again a retransmission, thrice while silent a failure.
        quint64 read = 0, written = 0, again = 0, failed = 0, run = 0, early = 0;
        QByteArray last;
        InternalProcessorSim::Packet packet;
        bringUp(1, [&] {
            connect(&m_world->ip, &InternalProcessorSim::lineReceived, this,
                    [&](const QByteArray& raw) {
                        lines << qMakePair(m_world->ip.nowMs(), raw), ++read;
                        early += m_link && m_link->linkHealth().framesSent < read;
                        if (!InternalProcessorSim::parseFrame(raw, &packet)
                            || packet.messageClass == 3)
                            return;
                        run = raw == last ? run + 1 : 0;
                        again += run > 0, failed += quiet && run == 2, last = raw;
                    });
            connect(&m_world->ip, &InternalProcessorSim::frameWritten, this, [&] { ++written; });
            connect(&m_world->parameters, &ConfigurationPeer::parameterRequested, this,
                    [&](const QByteArray& key) {
                        if (key == "IRTY" && !cut)
                            m_world->ip.setSilent(cut = quiet = true), lines = { lines.last() };
                    });
        });
        qint64 failedAt = 0;
        connect(m_link->systemEventService(), &SystemEventService::stateChanged, this, [&](S s) {
            failedAt = failedAt || s != S::NO_RI_Link ? failedAt : m_world->ip.nowMs();
        });
        QTest::ignoreMessage(QtWarningMsg,
                             "ConfigurationService: internal link failed during the "
                             "configuration walk, it starts again when the link is back");
        QTRY_VERIFY(failedAt);
        // Three transmissions of the request, the failure 150 ms after the first.
        QVERIFY(lines.size() >= 3);
        QCOMPARE(lines.at(1).second, lines.at(0).second);
        QCOMPARE(lines.at(2).second, lines.at(0).second);
        const qint64 failedAfter = failedAt - lines.first().first;
        QVERIFY2(failedAfter >= 100 && failedAfter < 450, qPrintable(QString::number(failedAfter)));
        QVERIFY(lines.size() == 3 || lines.at(3).second != lines.at(0).second); // no fourth try

        expectBaseUnitLink(); // the identity came before the silence
        pressStop();
        QVERIFY(waitFor([&] { return m_world->ip.nowMs() - lines.first().first > 5000; }, 6000));
        m_world->parameters.clearRequests();
        m_world->parameters.setValue("IENC", 3002);
        m_world->ip.setSilent(quiet = false);
        handshake();
        m_world->notifications.withdraw(1, 2); // a request, answered long before the walk ends
        QTRY_COMPARE(m_world->parameters.requests(), configurationWalkOrder());
        QTRY_COMPARE(tag("encoder_id")->getValue().toUInt(), 3002u);
        const auto counted = [this] {
            const NorvikLink::LinkHealth h = m_link->linkHealth();
            return QList<quint64> { h.framesSent, h.framesReceived, h.crcFailures,
                                    h.retransmissions, h.linkFailures };
        };
        QTRY_COMPARE(counted(), (QList<quint64> { read, written, 0, again, failed }));
        QCOMPARE(early, 0u);
    }

    // The launcher goes away and comes back: what the interface asks meanwhile
    // is logged and lost, the remote connects again and what it asks then arrives.
    void launcherGoneAndBack()
    {
        bringUp(2);
        LauncherSimulator& launcher = m_world->launcher;
        QTRY_COMPARE(launcher.clientCount(), 1);
        QSignalSpy gone(m_link->findChild<QLocalSocket*>(), &QLocalSocket::disconnected);
        launcher.close();
        QTRY_COMPARE(gone.count(), 1);
        MessageLog log;
        m_link->startApp(QStringLiteral("diagnostics_ui"));
        QCOMPARE(log.messages().filter("launcherclient").value(0),
                 "launcherclient: Not connected to NKLauncher - message not sent: appStart "
                     + m_world->sample.appDir("diagnostics") + "/diagnostics_ui");
        pressStop();
        QTRY_VERIFY(log.messages().contains("The server \"NKLauncher\" was not found."));
        QVERIFY(launcher.listen());
        QTRY_COMPARE_WITH_TIMEOUT(launcher.clientCount(), 1, 5000);
        m_link->userLogin(QStringLiteral("op01"));
        QTRY_COMPARE(launcher.commands(),
                     (QList<QPair<QString, QString>> { { "userLogin", "op01" } }));
    }

    // No folder for the history's database: notifications are shown, kept in
    // memory, acknowledged and withdrawn all the same.
    void historyUnwritable()
    {
        MessageLog log;
        bringUp(3, [&] {
            QVERIFY(QDir(m_world->sysroot.path() + "/var/lib").removeRecursively());
            QVERIFY(writeFile(m_world->sysroot.path() + "/var/lib", "a file"));
        });
        QSignalSpy plain(m_link, &NorvikLink::newNotification);
        QSignalSpy popup(m_link, &NorvikLink::newPopupNotification);
        m_world->notifications.raise(31, 3, 1, QStringLiteral("Battery low"));
        m_world->notifications.raisePopup(32, 5, 2, QStringLiteral("Drop detected"));
        QSignalSpy removed(m_link, &NorvikLink::removePopupNotification);
        QTRY_COMPARE(plain.count() + popup.count(), 2);
        QCOMPARE(plain.at(0).at(0).toString() + popup.at(0).at(2).toString(), "Battery low32");
        pressStop();
        m_link->ackNotificationSlot(32);
        QTRY_COMPARE(m_world->notifications.acknowledgements(), QList<quint16> { 32 });
        NotificationStorage* store = m_link->getNotificationStore();
        QCOMPARE(store->getCount(), 2u);
        QCOMPARE(store->getNotificationsQML().first()->property("dbRowId").toULongLong(), 0u);
        m_world->notifications.withdraw(31);
        QTRY_COMPARE(store->getCount(), 1u);
        QCOMPARE(removed.at(0).at(0).toInt(), 31);
        const QString dir = m_world->sysroot.path() + "/var/lib/norviklinklibdata";
        const QString openFailed
            = "Failed to open notification database at: " + dir + "/notification.db";
        QCOMPARE(log.messages().filter("notification database"),
                 QStringList({ "Failed to create notification database directory: " + dir,
                               openFailed, openFailed, openFailed, openFailed }));
    }

    // The machine-stop input unreadable, first gone, then a directory in its place.
    void stopUnreadable()
    {
        bringUp(4);
        MessageLog log;
        pressStop([this] { QFile::remove(m_world->stopButton()); });
        QTRY_VERIFY(m_states.contains(S::STOP) && state() == S::SELECTED);
        pressStop([this] {
            QFile::remove(m_world->stopButton()) && QDir().mkpath(m_world->stopButton());
        });
        QCOMPARE(log.messages().filter("stop button").mid(0, 1),
                 QStringList("Failed to read stop button gpio fd"));
        QVERIFY(log.messages().contains("Failed to read stop button gpio pin"));
    }
};

QTEST_GUILESS_MAIN(tst_SerialFaults)
#include "tst_serialfaults.moc"
