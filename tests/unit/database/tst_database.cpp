#include "data.h"
#include "database.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

class tst_Database : public QObject
{
    Q_OBJECT

private slots:
    void appendAndLookup()
    {
        QObject owner;
        Database db;
        QSignalSpy updated(&db, &Database::databaseUpdated);
        auto* a = new Data(QStringLiteral("a"), &owner);
        auto* b = new Data(QStringLiteral("b"), &owner);
        QVERIFY(db.append(a));
        QVERIFY(db.append(b));
        QCOMPARE(updated.count(), 2);
        QCOMPARE(db.size(), 2);
        QCOMPARE(db.at(1), b);
        QCOMPARE(db.get(QStringLiteral("a")), a);
        QCOMPARE(db.get(QStringLiteral("A")), nullptr);
        QCOMPARE(db.getAll(), (QVector<Data*> { a, b }));

        QTest::ignoreMessage(QtWarningMsg, "Database tag a exists, not appended");
        auto* again = new Data(QStringLiteral("a"), &owner);
        QVERIFY(!db.append(again));
        QTest::ignoreMessage(QtWarningMsg, "Database append error, empty tag");
        QVERIFY(!db.append(new Data(QString(), &owner)));
        QCOMPARE(db.size(), 2);
        QCOMPARE(updated.count(), 2);
        QCOMPARE(again->parent(), &owner);

        db.setAllowDuplicates(true);
        QVERIFY(db.append(again));
        QCOMPARE(db.size(), 3);
        QCOMPARE(db.get(QStringLiteral("a")), a);
    }

    void outOfRange_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("negative") << -1;
        QTest::newRow("size") << 1;
        QTest::newRow("far") << 1000;
    }
    void outOfRange()
    {
        QFETCH(int, index);
        Database db;
        Data item(QStringLiteral("x"));
        db.append(&item);
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(
                QStringLiteral("Database index is out of range, index = %1  size = 1").arg(index)));
        QCOMPARE(db.at(index), nullptr);
    }

    void clearDisposesItems()
    {
        Database db;
        QPointer<Data> item = new Data(QStringLiteral("x"));
        QPointer<Data> other = new Data(QStringLiteral("y"), &db);
        db.append(item);
        db.append(other);
        QSignalSpy updated(&db, &Database::databaseUpdated);
        db.clear();
        QCOMPARE(updated.count(), 1);
        QCOMPARE(db.size(), 0);
        QCOMPARE(db.get(QStringLiteral("x")), nullptr);
        QTRY_VERIFY(item.isNull() && other.isNull());
    }
};

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"
