// The facade's parts on real files, sockets and buses: the notification history on a real
// SQLite file in a temporary sysroot; the launcher client against the launcher stand-in over
// a real local socket (TMPDIR points at a private folder, so "NKLauncher" is this test's
// own); WiFi status and set-up against the NetworkManager stand-in, a process of its own on a
// bus daemon of its own (restarted for every test). Its world: "eth0" listed before "wlan0",
// an access point at 73 %, the profiles "Wired connection 1" and "wlan0", both active.

#include "launcherclient.h"
#include "launchermessage.h"
#include "launchersimulator.h"
#include "messagelog.h"
#include "networkmanagerbus.h"
#include "notificationstoreage.h"
#include "tag.h"
#include "tagdatabase.h"
#include "wifiSetupAndStatus.h"

#include <QDBusArgument>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QString ACTIVE_WIFI = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/2");
const QString WIFI_PROFILE = QStringLiteral("/org/freedesktop/NetworkManager/Settings/2");
const qint64 kBaseTime = 1700000000;

// The entries newest first, each as "message|popup|acked|id|severity|reference|row id".
QStringList entries(const NotificationStorage& storage)
{
    QStringList out;
    for (QObject* object : storage.getNotificationsQML()) {
        auto* e = static_cast<NotificationStorageElement*>(object);
        QStringList fields { e->getMessage() };
        for (qint64 n : { qint64(e->getPopup()), qint64(e->getAcked()), qint64(e->getId()),
                          qint64(e->getSeverity()), qint64(e->getReference()),
                          e->property("dbRowId").toLongLong() })
            fields << QString::number(n);
        out << fields.join('|');
    }
    return out;
}
qint64 secs(const NotificationStorage& storage, int i)
{
    return static_cast<NotificationStorageElement*>(storage.getNotificationsQML().value(i))
        ->getDateTime()
        .toSecsSinceEpoch();
}
} // namespace

class tst_FacadeParts : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> m_root; // the remote's "/"
    QTemporaryDir m_tmp;
    std::unique_ptr<LauncherSimulator> m_launcher;
    std::unique_ptr<LauncherClient> m_client;
    int rssi() const { return tags.get(QStringLiteral("g_link_rssi"))->getValue().toInt(); }

    NetworkManagerBus nm;
    TagDatabase tags;
    std::unique_ptr<WifiSetupAndStatus> wifi;

    QString dataDir() const { return m_root->path() + "/var/lib/norviklinklibdata"; }
    // Runs statements through a connection of its own; rows come back as
    // their fields joined by '|'.
    QStringList sql(const QStringList& statements)
    {
        QStringList rows;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tst_direct");
            db.setDatabaseName(dataDir() + "/notification.db");
            if (!db.open())
                qFatal("cannot open the notification db");
            QSqlQuery q(db);
            for (const QString& statement : statements) {
                if (!q.exec(statement))
                    qFatal("%s failed", qPrintable(statement));
                while (q.next()) {
                    QStringList fields;
                    for (int i = 0; i < q.record().count(); ++i)
                        fields << q.value(i).toString();
                    rows << fields.join('|');
                }
            }
        }
        QSqlDatabase::removeDatabase("tst_direct");
        return rows;
    }
    QStringList table() { return sql({ "select rowid, * from notifications order by rowid" }); }
    // The table as the storage creates it, one row per time in row-id order.
    void seed(const QList<qint64>& times)
    {
        QVERIFY(QDir().mkpath(dataDir()));
        QStringList statements { "create table notifications( message TEXT, popup INTEGER, acked "
                                 "INTEGER, notificationid INTEGER, severity INTEGER, datetime "
                                 "TEXT )",
                                 "begin" };
        for (qint64 t : times)
            statements << QString("insert into notifications values ('at %1', 0, 1, 3, 1, %2)")
                              .arg(t - kBaseTime)
                              .arg(t);
        sql(statements << "commit");
    }

private slots:
    void initTestCase()
    {
        qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
        tags.append(new Tag(QStringLiteral("g_link_rssi"), &tags));
    }
    void init()
    {
        m_root.reset(new QTemporaryDir);
        qputenv("NORVIK_SYSROOT", QFile::encodeName(m_root->path()));
        m_launcher = std::make_unique<LauncherSimulator>();
        QVERIFY(m_launcher->listen());
        m_client = std::make_unique<LauncherClient>("NKLauncher");
        QTRY_COMPARE(m_launcher->clientCount(), 1);
        QVERIFY(nm.start());
        wifi = std::make_unique<WifiSetupAndStatus>(&tags, nullptr);
        // A value no poll writes, so that every 0 seen afterwards was written.
        tags.get(QStringLiteral("g_link_rssi"))->setValue(QVariant(-1));
    }
    void cleanup()
    {
        wifi.reset();
        m_client.reset();
        m_launcher.reset();
    }

    // Start-up keeps the 79 newest rows by time and deletes older ones; rows
    // sharing the time of the 79th newest survive. Rows are seeded out of time
    // order (37 is prime to every count), so row ids and time order differ.
    void trimOnStart_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("tied"); // the oldest rows share one time
        QTest::addColumn<int>("rowsLeft");
        QTest::newRow("150 rows: 71 deleted") << 150 << 0 << 79;
        QTest::newRow("ties at the cut survive") << 85 << 10 << 85;
    }
    void trimOnStart()
    {
        QFETCH(int, rows);
        QFETCH(int, tied);
        QFETCH(int, rowsLeft);
        QList<qint64> times;
        QStringList newest;
        for (int i = 0; i < rows; ++i)
            times << kBaseTime + qMax((i * 37) % rows, tied - 1) * 10;
        for (int k = rows - 1; newest.size() < 79; --k)
            newest << QString("at %1").arg(qMax(k, tied - 1) * 10);
        seed(times);
        const int rowId = times.indexOf(kBaseTime + (rows - 1) * 10) + 1;
        NotificationStorage storage;
        QCOMPARE(storage.getCount(), 79u);
        QCOMPARE(entries(storage).replaceInStrings(QRegularExpression("\\|.*"), ""), newest);
        QCOMPARE(entries(storage).first(), QString("%1|0|1|3|1|-1|%2").arg(newest[0]).arg(rowId));
        QCOMPARE(secs(storage, 0), kBaseTime + (rows - 1) * 10);
        QCOMPARE(table().size(), rowsLeft);
        // The row id read at start-up names the entry's own row.
        storage.remove(-1);
        QCOMPARE(table().size(), rowsLeft - 1);
        QVERIFY(!table().join(';').contains('|' + newest.first() + '|'));
    }

    void insertAcknowledgeRemove()
    {
        QTest::ignoreMessage(QtInfoMsg,
                             qPrintable("Created notification database directory: " + dataDir()));
        QScopedPointer<NotificationStorage> storage(new NotificationStorage);
        QCOMPARE(storage->getCount(), 0u);
        QSignalSpy counts(storage.data(), &NotificationStorage::countChanged);
        QSignalSpy added(storage.data(), &NotificationStorage::newNotification);
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        storage->insert("older", NTFY_ID_STOP_ACTIVE, true, 5, NorvikLinkDefines::ALARM);
        storage->insert("other", NTFY_ID_GENERIC, false, 6, NorvikLinkDefines::INFO);
        storage->insert("newer", NTFY_ID_GENERIC, false, 5, NorvikLinkDefines::WARNING);
        const QString stop = QString::number(NTFY_ID_STOP_ACTIVE);
        const QString generic = QString::number(NTFY_ID_GENERIC);
        QCOMPARE(entries(*storage),
                 QStringList({ "newer|0|0|" + generic + "|1|5|3", "other|0|0|" + generic + "|0|6|2",
                               "older|1|0|" + stop + "|2|5|1" }));
        QCOMPARE(counts.count(), 3);
        QCOMPARE(counts.at(2).at(0).toUInt(), 3u);
        QCOMPARE(added.at(2).at(0).value<NotificationStorageElement*>(),
                 storage->getNotificationsQML().first());
        const QStringList first = table().value(0).split('|');
        QCOMPARE(first.mid(0, 6), QStringList({ "1", "older", "1", "0", stop, "2" }));
        QVERIFY2(first.at(6).toLongLong() >= before
                     && first.at(6).toLongLong() <= QDateTime::currentSecsSinceEpoch(),
                 qPrintable(first.at(6)));

        // A shared reference: both are acknowledged, only the newer is removed.
        storage->markAsAcked(5);
        QCOMPARE(entries(*storage),
                 QStringList({ "newer|0|1|" + generic + "|1|5|3", "other|0|0|" + generic + "|0|6|2",
                               "older|1|1|" + stop + "|2|5|1" }));
        storage->remove(5);
        storage->remove(99);
        storage->notificationResetSlot(6);
        QCOMPARE(entries(*storage), QStringList({ "older|1|1|" + stop + "|2|5|1" }));
        QCOMPARE(counts.count(), 5);
        QCOMPARE(sql({ "select message from notifications" }), QStringList { "older" });

        // Acknowledgements are not written: a restart shows the state at insertion. A
        // severity the history does not know loads as an alarm.
        storage.reset();
        sql({ "insert into notifications values ('odd', 0, 0, 3, 9, 1)" });
        QTest::ignoreMessage(
            QtWarningMsg,
            "NotificationStorage: unknown severity 9 in notification db, taken as alarm");
        NotificationStorage restarted;
        QCOMPARE(entries(restarted),
                 QStringList({ "older|1|0|" + stop + "|2|-1|1", "odd|0|0|3|2|-1|2" }));
        QCOMPARE(secs(restarted, 0), first.at(6).toLongLong());
    }

    // Lines from the launcher: heartbeats are echoed, one line is handled per
    // arrival of data (a second waits for the next one, a partial line for
    // its end), and what the client sends is UTF-8 with no terminator.
    void messagesBothWays()
    {
        QSignalSpy received(m_client.get(), &LauncherClient::messageReceived);
        m_launcher->send(QByteArray("  heartbeat  4 2 \r\nheartbeat\n"));
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 4 2"));
        m_launcher->send("userLoggedInIs  john doe\nnotify sec");
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 4 2heartbeat"));
        m_launcher->send("ond\n");
        QTRY_COMPARE(received.count(), 1);
        m_launcher->send(QByteArray("heartbeat 5\0junk\n", 17));
        QTRY_COMPARE(received.count(), 2);
        QCOMPARE(received.at(0), QVariantList({ "userLoggedInIs", "john doe" }));
        QCOMPARE(received.at(1), QVariantList({ "notify", "second" }));
        m_launcher->clearReceived();
        m_launcher->send("heartbeat 6\n");
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 5"));
        m_client->sendMessage(LauncherMessage("userLogin", "\u00c5sa").getMessage());
        m_client->sendMessage(LauncherMessage("appClose", "").getMessage());
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 5userLogin \xc3\x85saappClose"));
    }

    // Bad lines give their warnings and are dropped; the connection carries
    // on, as the heartbeat sent after them shows.
    void badInputDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("warnings"); // starts, in order
        const QString nc = "launchermessage: No valid commands found!";
        const QString ms = "launchermessage: Command is missing!";
        const QString dr = "launcherclient: Message dropped:";
        const QString tl = "launcherclient: Message longer than 4096 bytes dropped";
        QTest::newRow("unknown") << QByteArray("reboot now\n") << QStringList { nc, dr };
        QTest::newRow("binary") << QByteArray("\xff\xfe\x01\x80\n") << QStringList { nc, dr };
        QTest::newRow("blank line") << QByteArray(" \r\n") << QStringList { ms, dr };
        QTest::newRow("1 MiB") << "heartbeat " + QByteArray(1 << 20, '7') + '\n'
                               << QStringList { tl };
        QTest::newRow("longest line") << "notify " + QByteArray(4088, 'y') + '\n' << QStringList();
        QTest::newRow("one byte longer") << "notify " + QByteArray(4089, 'y') + '\n'
                                         << QStringList { tl };
    }
    void badInputDropped()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, warnings);
        QSignalSpy received(m_client.get(), &LauncherClient::messageReceived);
        MessageLog log;
        m_launcher->send(bytes);
        QTRY_COMPARE(log.messages().size() + received.count(), qMax(warnings.size(), 1));
        m_launcher->send("heartbeat 9\n");
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 9"));
        QCOMPARE(log.messages().size(), warnings.size());
        for (int i = 0; i < warnings.size(); ++i)
            QVERIFY2(log.messages().at(i).startsWith(warnings.at(i)),
                     qPrintable(log.messages().at(i)));
        QCOMPARE(received.count(), warnings.isEmpty() ? 1 : 0);
    }

    // A launcher that sends far more than is read is cut off at the backlog limit.
    void floodIsBounded()
    {
        QSignalSpy received(m_client.get(), &LauncherClient::messageReceived);
        QTest::ignoreMessage(QtWarningMsg,
                             "launcherclient: More than 65536 bytes of unread messages, dropped");
        m_launcher->send(QByteArray("notify x\n").repeated(10000));
        QTRY_VERIFY(received.count() >= 1);
        m_launcher->send("heartbeat 1\n");
        QTRY_COMPARE(m_launcher->received(), QByteArray("heartbeat 1"));
        QVERIFY2(received.count() < 10, qPrintable(QString::number(received.count())));
    }

    // Closing the socket ends the connection; the launcher sees its client go.
    void closeEndsTheConnection()
    {
        QSignalSpy disconnected(m_launcher.get(), &LauncherSimulator::clientDisconnected);
        m_client->close();
        QTRY_COMPARE(disconnected.count(), 1);
    }

    void signalStrength()
    {
        // The poll that run() starts follows the access point on its own.
        wifi->run();
        QVERIFY(nm.setStrength(42));
        // Associated or not, with or without a WiFi device: the strength or 0.
        for (const auto& [associated, device, strength] :
             { std::tuple(false, true, 0), { true, true, 42 }, { true, false, 0 } }) {
            QVERIFY(nm.setAssociated(associated) && nm.setWifiDevice(device));
            wifi->checkSignalStrength();
            QCOMPARE(rssi(), strength);
        }

        // Ended while polling: its bus connection closes with it.
        const int connections = nm.connections();
        wifi.reset();
        QTRY_COMPARE(nm.connections(), connections - 1);
    }

    void connectToWifi()
    {
        // U+00E9 is one byte in Latin-1 (E9), two in UTF-8 (C3 A9).
        wifi->connectToWifi(QStringLiteral("Caf\u00e9 net"), QStringLiteral("s3cret pass"));
        auto update = nm.lastUpdate();
        QCOMPARE(update["802-11-wireless"]["ssid"].toByteArray(), QByteArray("Caf\xe9 net"));
        QCOMPARE(update["802-11-wireless-security"]["psk"].toString(), "s3cret pass");
        QCOMPARE(update["802-11-wireless-security"]["key-mgmt"].toString(), "wpa-psk");
        // The rest of the profile goes back as it came, nested D-Bus types included.
        QCOMPARE(update["802-11-wireless"]["mode"].toString(), "infrastructure");
        QCOMPARE(update["connection"]["uuid"].toString(), "0b7e0d6e-6a3c-4f4c-9a63-5c2d4b1e7f10");
        QCOMPARE(qdbus_cast<QList<QList<uint>>>(update["ipv4"]["addresses"]),
                 (QList<QList<uint>> { { 16777343u, 8u, 0u } }));
        QCOMPARE(update.size(), 4);

        // Only the WiFi connection goes down; the profile comes up on any device.
        QCOMPARE(nm.calls(),
                 QStringList({ "DeactivateConnection " + ACTIVE_WIFI,
                               "ActivateConnection " + WIFI_PROFILE + " / /" }));
    }

    void missingProfile()
    {
        QVERIFY(nm.setWifiProfile(false));
        QTest::ignoreMessage(QtWarningMsg, "Could not find wlan0 connection");
        wifi->connectToWifi(QStringLiteral("net"), QStringLiteral("key"));
        QVERIFY(nm.lastUpdate().isEmpty());
        QCOMPARE(nm.calls(), QStringList());
    }

    void busGone()
    {
        // The daemon is gone: 0 and no set-up, quickly.
        nm.stop();
        QElapsedTimer elapsed;
        elapsed.start();
        wifi->checkSignalStrength();
        QCOMPARE(rssi(), 0);
        QTest::ignoreMessage(QtWarningMsg, "Could not find wlan0 connection");
        wifi->connectToWifi(QStringLiteral("net"), QStringLiteral("key"));
        QVERIFY2(elapsed.elapsed() < 5000, qPrintable(QString::number(elapsed.elapsed())));
    }
};

QTEST_GUILESS_MAIN(tst_FacadeParts)
#include "tst_facadeparts.moc"
