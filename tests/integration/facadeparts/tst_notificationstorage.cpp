// The notification history on a real SQLite file in a temporary sysroot.

#include "notificationstoreage.h"
#include "tempsysroot.h"
#include "warninglog.h"

#include <QDateTime>
#include <QDir>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
struct Row
{
    qint64 rowId = 0;
    QString message;
    int popup = 0;
    int acked = 0;
    int notificationId = 0;
    int severity = 0;
    QString datetime;
};

const qint64 kBaseTime = 1700000000; // ten digits, like every time stored today

// Runs fn with a private connection to the database file, outside the
// storage's own connection.
template<typename Fn> bool withDb(const QString& path, Fn fn)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tst_direct");
        db.setDatabaseName(path);
        ok = db.open() && fn(db);
        db.close();
    }
    QSqlDatabase::removeDatabase("tst_direct");
    return ok;
}

QList<Row> tableRows(const QString& path)
{
    QList<Row> rows;
    withDb(path, [&rows](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (!q.exec("select rowid, message, popup, acked, notificationid, severity, datetime "
                    "from notifications order by rowid"))
            return false;
        while (q.next())
            rows.append({ q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt(),
                          q.value(3).toInt(), q.value(4).toInt(), q.value(5).toInt(),
                          q.value(6).toString() });
        return true;
    });
    return rows;
}

QStringList messagesOf(const QList<QObject*>& list)
{
    QStringList out;
    for (QObject* o : list)
        out << static_cast<NotificationStorageElement*>(o)->getMessage();
    return out;
}

NotificationStorageElement* at(const NotificationStorage& storage, int i)
{
    return static_cast<NotificationStorageElement*>(storage.getNotificationsQML().value(i));
}
} // namespace

class tst_NotificationStorage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void trimOnStart_data();
    void trimOnStart();
    void loadedEntriesKeepTheirRowId();
    void insertWritesTheTable();
    void acknowledgeAndRemoveByReference();
    void unusableDirectoryKeepsHistoryInMemory();
    void brokenRowsAndFailedTrim();

private:
    QString dataDir() const { return m_root->path() + "/var/lib/norviklinklibdata"; }
    QString dbPath() const { return dataDir() + "/notification.db"; }

    // Creates the table the way the storage does and fills it; 'times' in
    // insertion (row id) order.
    void seed(const QList<qint64>& times)
    {
        QVERIFY(QDir().mkpath(dataDir()));
        QVERIFY(withDb(dbPath(), [&times](QSqlDatabase& db) {
            QSqlQuery q(db);
            if (!q.exec("create table notifications( message TEXT, popup INTEGER, acked INTEGER, "
                        "notificationid INTEGER, severity INTEGER, datetime TEXT )"))
                return false;
            db.transaction();
            for (qint64 t : times) {
                q.prepare("insert into notifications values (:m, 0, 1, 3, 1, :t)");
                q.bindValue(":m", QString("at %1").arg(t - kBaseTime));
                q.bindValue(":t", t);
                if (!q.exec())
                    return false;
            }
            return db.commit();
        }));
    }

    std::unique_ptr<TempSysroot> m_root;
};

void tst_NotificationStorage::init()
{
    m_root = std::make_unique<TempSysroot>();
    QVERIFY(m_root->isValid());
}

void tst_NotificationStorage::cleanup()
{
    m_root.reset();
}

// Start-up keeps the 79 newest rows (by time) and deletes older ones; rows
// sharing the time of the 79th newest survive. Rows are inserted out of time
// order, so row ids and time order differ.
void tst_NotificationStorage::trimOnStart_data()
{
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QStringList>("expectedLoaded"); // newest first
    QTest::addColumn<int>("expectedRowsLeft");

    const auto shuffled = [](int n, int tieCount) {
        QList<qint64> times;
        for (int i = 0; i < n; ++i) {
            const int k = (i * 37) % n; // a permutation for the n used below
            times << kBaseTime + qMax(k, tieCount - 1) * 10;
        }
        return times;
    };
    const auto newest = [](int n, int count) {
        QStringList names;
        for (int k = n - 1; k >= 0 && names.size() < count; --k)
            names << QString("at %1").arg(k * 10);
        return names;
    };

    QTest::newRow("empty table") << QList<qint64>() << QStringList() << 0;
    QTest::newRow("one row") << QList<qint64> { kBaseTime } << QStringList { "at 0" } << 1;
    QTest::newRow("79 rows: all kept") << shuffled(79, 0) << newest(79, 79) << 79;
    QTest::newRow("80 rows: oldest deleted") << shuffled(80, 0) << newest(80, 79) << 79;
    QTest::newRow("150 rows: 71 deleted") << shuffled(150, 0) << newest(150, 79) << 79;

    // 85 rows, the ten oldest at one time: the 79th newest shares it.
    QStringList tied = newest(85, 75);
    for (int i = 0; i < 4; ++i)
        tied << "at 90";
    QTest::newRow("ties at the cut survive") << shuffled(85, 10) << tied << 85;
}

void tst_NotificationStorage::trimOnStart()
{
    QFETCH(QList<qint64>, times);
    QFETCH(QStringList, expectedLoaded);
    QFETCH(int, expectedRowsLeft);

    seed(times);
    for (int start = 1; start <= 2; ++start) {
        NotificationStorage storage;
        QCOMPARE(messagesOf(storage.getNotificationsQML()), expectedLoaded);
        QCOMPARE(storage.getCount(), quint32(expectedLoaded.size()));
        QCOMPARE(storage.property("count").toUInt(), quint32(expectedLoaded.size()));

        const QList<Row> rows = tableRows(dbPath());
        QCOMPARE(rows.size(), expectedRowsLeft);
        for (QObject* o : storage.getNotificationsQML()) {
            auto* e = static_cast<NotificationStorageElement*>(o);
            QCOMPARE(e->getReference(), -1);
            QVERIFY(e->getAcked());
            QVERIFY(!e->getPopup());
            QCOMPARE(e->getId(), NTFY_ID_RU_SHOCK_DETECTED);
            QCOMPARE(e->getSeverity(), NorvikLinkDefines::WARNING);
            const qint64 secs = kBaseTime + e->getMessage().mid(3).toLongLong();
            QCOMPARE(e->getDateTime().toSecsSinceEpoch(), secs);
        }
        // The second start finds nothing more to delete.
    }
}

// The row id read at start-up names the element's own row: removing loaded
// entries deletes exactly their rows. Row ids run against time order here.
void tst_NotificationStorage::loadedEntriesKeepTheirRowId()
{
    seed({ kBaseTime + 50, kBaseTime + 40, kBaseTime + 30, kBaseTime + 20, kBaseTime + 10 });
    {
        // Leave a gap in the row ids.
        QVERIFY(withDb(dbPath(), [](QSqlDatabase& db) {
            return QSqlQuery(db).exec("delete from notifications where rowid = 2");
        }));
    }
    const QList<Row> before = tableRows(dbPath());
    QCOMPARE(before.size(), 4);

    NotificationStorage storage;
    QCOMPARE(messagesOf(storage.getNotificationsQML()),
             QStringList({ "at 50", "at 30", "at 20", "at 10" }));
    for (QObject* o : storage.getNotificationsQML()) {
        auto* e = static_cast<NotificationStorageElement*>(o);
        const auto row = std::find_if(before.begin(), before.end(),
                                      [e](const Row& r) { return r.message == e->getMessage(); });
        QVERIFY(row != before.end());
        QCOMPARE(e->getDbRowId(), quint64(row->rowId));
        QCOMPARE(e->property("dbRowId").toULongLong(), quint64(row->rowId));
    }

    // remove(-1) takes the newest loaded entry each time.
    storage.remove(-1);
    storage.remove(-1);
    QCOMPARE(messagesOf(storage.getNotificationsQML()), QStringList({ "at 20", "at 10" }));
    QStringList left;
    for (const Row& r : tableRows(dbPath()))
        left << r.message;
    QCOMPARE(left, QStringList({ "at 20", "at 10" }));
}

void tst_NotificationStorage::insertWritesTheTable()
{
    QTest::ignoreMessage(QtInfoMsg,
                         qPrintable("Created notification database directory: " + dataDir()));
    auto storage = std::make_unique<NotificationStorage>();
    QVERIFY(QFile::exists(dbPath()));
    QSignalSpy counts(storage.get(), &NotificationStorage::countChanged);
    QSignalSpy added(storage.get(), &NotificationStorage::newNotification);

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    storage->insert("Stop active", NTFY_ID_STOP_ACTIVE, true, 7, NorvikLinkDefines::ALARM);
    storage->insert("Shock", NTFY_ID_RU_SHOCK_DETECTED, false, 8, NorvikLinkDefines::INFO);
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    QCOMPARE(counts.count(), 2);
    QCOMPARE(counts.at(0).at(0).toUInt(), 1u);
    QCOMPARE(counts.at(1).at(0).toUInt(), 2u);
    QCOMPARE(added.count(), 2);
    QCOMPARE(messagesOf(storage->getNotificationsQML()), QStringList({ "Shock", "Stop active" }));
    QCOMPARE(added.at(1).at(0).value<NotificationStorageElement*>(), at(*storage, 0));

    const QList<Row> rows = tableRows(dbPath());
    QCOMPARE(rows.size(), 2);
    const Row& stop = rows.at(0);
    QCOMPARE(stop.message, QString("Stop active"));
    QCOMPARE(stop.popup, 1);
    QCOMPARE(stop.acked, 0);
    QCOMPARE(stop.notificationId, int(NTFY_ID_STOP_ACTIVE));
    QCOMPARE(stop.severity, int(NorvikLinkDefines::ALARM));
    QVERIFY2(stop.datetime.toLongLong() >= before && stop.datetime.toLongLong() <= after,
             qPrintable(stop.datetime));
    QCOMPARE(at(*storage, 1)->getDbRowId(), quint64(stop.rowId));
    QCOMPARE(at(*storage, 0)->getDbRowId(), quint64(rows.at(1).rowId));

    // Acknowledgements are not written: a restart shows the state at insertion.
    storage->markAsAcked(7);
    storage.reset();
    NotificationStorage restarted;
    QCOMPARE(restarted.getCount(), 2u);
    QSet<QString> seen;
    for (QObject* o : restarted.getNotificationsQML()) {
        auto* e = static_cast<NotificationStorageElement*>(o);
        seen << e->getMessage();
        QVERIFY(!e->getAcked());
        QCOMPARE(e->getReference(), -1);
        QCOMPARE(e->getPopup(), e->getMessage() == "Stop active");
        QVERIFY(e->getDateTime().toSecsSinceEpoch() >= before);
    }
    QCOMPARE(seen, QSet<QString>({ "Stop active", "Shock" }));
}

void tst_NotificationStorage::acknowledgeAndRemoveByReference()
{
    NotificationStorage storage;
    storage.insert("older", NTFY_ID_GENERIC, false, 5, NorvikLinkDefines::INFO);
    storage.insert("other", NTFY_ID_GENERIC, false, 6, NorvikLinkDefines::INFO);
    storage.insert("newer", NTFY_ID_GENERIC, true, 5, NorvikLinkDefines::WARNING);

    storage.markAsAcked(5);
    QCOMPARE(at(storage, 0)->getAcked(), true);
    QCOMPARE(at(storage, 1)->getAcked(), false);
    QCOMPARE(at(storage, 2)->getAcked(), true);

    QSignalSpy counts(&storage, &NotificationStorage::countChanged);
    storage.remove(5);
    QCOMPARE(messagesOf(storage.getNotificationsQML()), QStringList({ "other", "older" }));
    QCOMPARE(counts.count(), 1);
    QCOMPARE(counts.at(0).at(0).toUInt(), 2u);

    storage.remove(99); // unknown reference: nothing changes
    QCOMPARE(counts.count(), 1);
    QCOMPARE(storage.getCount(), 2u);

    storage.notificationResetSlot(6);
    QCOMPARE(messagesOf(storage.getNotificationsQML()), QStringList({ "older" }));
    QCOMPARE(storage.getCount(), 1u);

    const QList<Row> rows = tableRows(dbPath());
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).message, QString("older"));
}

// Without a usable directory the history still works in memory.
void tst_NotificationStorage::unusableDirectoryKeepsHistoryInMemory()
{
    QVERIFY(QDir().mkpath(m_root->path() + "/var"));
    QFile blocker(m_root->path() + "/var/lib");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const QByteArray openFailed = "Failed to open notification database at: " + dbPath().toUtf8();
    WarningLog log;
    NotificationStorage storage;
    storage.insert("kept", NTFY_ID_GENERIC, false, 3, NorvikLinkDefines::INFO);
    QCOMPARE(storage.getCount(), 1u);
    QCOMPARE(at(storage, 0)->getDbRowId(), quint64(0));
    storage.remove(3);
    QCOMPARE(storage.getCount(), 0u);

    QCOMPARE(log.messages(),
             QStringList({ "Failed to create notification database directory: " + dataDir(),
                           openFailed, openFailed, openFailed }));
}

// A table that refuses deletes keeps its old rows with a warning; a stored
// severity outside the known ones loads as an alarm.
void tst_NotificationStorage::brokenRowsAndFailedTrim()
{
    QList<qint64> times;
    for (int i = 0; i < 81; ++i)
        times << kBaseTime + i;
    seed(times);
    QVERIFY(withDb(dbPath(), [](QSqlDatabase& db) {
        QSqlQuery q(db);
        return q.exec("update notifications set severity = 9 where datetime = '1700000080'")
            && q.exec("create trigger keep before delete on notifications "
                      "begin select raise(abort, 'kept'); end");
    }));

    WarningLog log;
    NotificationStorage storage;
    QCOMPARE(storage.getCount(), 79u);
    QCOMPARE(at(storage, 0)->getMessage(), QString("at 80"));
    QCOMPARE(at(storage, 0)->getSeverity(), NorvikLinkDefines::ALARM);
    QCOMPARE(at(storage, 1)->getSeverity(), NorvikLinkDefines::WARNING);
    QCOMPARE(tableRows(dbPath()).size(), 81);
    QCOMPARE(log.messages(),
             QStringList({ "NotificationStorage: unknown severity 9 in notification db, taken as "
                           "alarm",
                           "Failed to delete rows in notification db" }));
}

QTEST_GUILESS_MAIN(tst_NotificationStorage)
#include "tst_notificationstorage.moc"
