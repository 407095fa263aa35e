// The notification history on a real SQLite file in a temporary sysroot.

#include "notificationstoreage.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {
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

class tst_NotificationStorage : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> m_root; // the remote's "/"

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
    void init()
    {
        m_root.reset(new QTemporaryDir);
        qputenv("NORVIK_SYSROOT", QFile::encodeName(m_root->path()));
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
};

QTEST_GUILESS_MAIN(tst_NotificationStorage)
#include "tst_notificationstorage.moc"
