#include "applog.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

class tst_AppLog : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> tmp;

    QString path(int n) const { return tmp->filePath(QStringLiteral("B_%1").arg(n)); }
    QStringList lines(int n) const
    {
        QFile file(path(n));
        if (!file.open(QIODevice::ReadOnly))
            return { QStringLiteral("<missing>") };
        QStringList result = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        if (result.last().isEmpty())
            result.removeLast();
        return result;
    }
    // The messages (fourth field) of a file, one per line.
    QStringList messages(int n) const
    {
        QStringList result;
        for (const QString& line : lines(n))
            result.append(line.section(QLatin1Char(';'), 3));
        return result;
    }
    QStringList files() const { return QDir(tmp->path()).entryList(QDir::Files, QDir::Name); }
    void writeFile(int n, const QByteArray& content)
    {
        QFile file(path(n));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

private slots:
    void init() { tmp.reset(new QTemporaryDir); }

    void lineFormat()
    {
        AppLog log(tmp->path(), QStringLiteral("B"), 10, 3);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        log.write(QStringLiteral("Alarm"), QStringLiteral("boom_angle"),
                  QStringLiteral("Angle \u00b0 high"));
        log.write(QStringLiteral("a;b"), QStringLiteral("t"), QStringLiteral("m"));
        const QStringList written = lines(0);
        QCOMPARE(written.size(), 2);
        const QStringList fields = written.at(0).split(QLatin1Char(';'));
        QCOMPARE(fields.size(), 4);
        const QDateTime stamp
            = QDateTime::fromString(fields.at(0), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        QVERIFY2(stamp.isValid() && stamp >= before && stamp <= QDateTime::currentDateTime(),
                 qPrintable(fields.at(0)));
        QCOMPARE(fields.mid(1),
                 (QStringList { "Alarm", "boom_angle", QStringLiteral("Angle \u00b0 high") }));
        // A separator in a field is written as it stands.
        QCOMPARE(written.at(1).split(QLatin1Char(';')).mid(1),
                 (QStringList { "a", "b", "t", "m" }));
    }

    void rotation()
    {
        AppLog log(tmp->path(), QStringLiteral("B"), 2, 3);
        for (int i = 1; i <= 5; ++i)
            log.write("L", "t", QString::number(i));
        QCOMPARE(files(), (QStringList { "B_0", "B_1", "B_2" }));
        QCOMPARE(messages(0), (QStringList { "1", "2" }));
        QCOMPARE(messages(1), (QStringList { "3", "4" }));
        QCOMPARE(messages(2), (QStringList { "5" }));
        log.write("L", "t", "6");
        log.write("L", "t", "7");
        QCOMPARE(files(), (QStringList { "B_0", "B_1", "B_2" }));
        QCOMPARE(messages(0), (QStringList { "3", "4" }));
        QCOMPARE(messages(1), (QStringList { "5", "6" }));
        QCOMPARE(messages(2), (QStringList { "7" }));
    }

    void maxFilesAtLeastTwo_data()
    {
        QTest::addColumn<int>("maxFiles");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("2") << 2;
    }
    void maxFilesAtLeastTwo()
    {
        QFETCH(int, maxFiles);
        AppLog log(tmp->path(), QStringLiteral("B"), 1, maxFiles);
        for (int i = 1; i <= 4; ++i)
            log.write("L", "t", QString::number(i));
        QCOMPARE(files(), (QStringList { "B_0", "B_1" }));
        QCOMPARE(messages(0), (QStringList { "3" }));
        QCOMPARE(messages(1), (QStringList { "4" }));
    }

    void restartContinuesNewestFile()
    {
        {
            AppLog log(tmp->path(), QStringLiteral("B"), 3, 4);
            for (int i = 1; i <= 5; ++i)
                log.write("L", "t", QString::number(i));
        }
        AppLog log(tmp->path(), QStringLiteral("B"), 3, 4);
        log.write("L", "t", "6");
        log.write("L", "t", "7");
        QCOMPARE(messages(1), (QStringList { "4", "5", "6" }));
        QCOMPARE(messages(2), (QStringList { "7" }));
        QCOMPARE(messages(0), (QStringList { "1", "2", "3" }));
    }

    void restartTrimsSurplusFiles()
    {
        for (int n = 0; n <= 5; ++n)
            writeFile(n, QByteArray("old ") + QByteArray::number(n) + "\n");
        writeFile(5, "x;y;z;five-a\nx;y;z;five-b\n");
        // Not ours: other names and numbers with leading zeros stay untouched.
        QFile(tmp->filePath("B_07")).open(QIODevice::WriteOnly);
        QFile(tmp->filePath("Bx_9")).open(QIODevice::WriteOnly);

        AppLog log(tmp->path(), QStringLiteral("B"), 3, 3);
        QCOMPARE(files(), (QStringList { "B_0", "B_07", "B_1", "B_2", "Bx_9" }));
        QCOMPARE(lines(0), QStringList { "old 3" });
        QCOMPARE(lines(1), QStringList { "old 4" });
        log.write("L", "t", "new");
        QCOMPARE(messages(2), (QStringList { "five-a", "five-b", "new" }));
        log.write("L", "t", "next");
        QCOMPARE(messages(2), QStringList { "next" });
        QCOMPARE(lines(0), QStringList { "old 4" });
    }

    void restartWithGaps()
    {
        writeFile(1, "a;b;c;one\n");
        writeFile(6, "a;b;c;six\n");
        AppLog log(tmp->path(), QStringLiteral("B"), 5, 3);
        QCOMPARE(files(), QStringList { "B_2" });
        log.write("L", "t", "more");
        QCOMPARE(messages(2), (QStringList { "six", "more" }));
    }

    void unwritableDirectory()
    {
        AppLog log(tmp->filePath("missing/dir"), QStringLiteral("B"), 2, 3);
        for (int i = 0; i < 5; ++i)
            log.write("L", "t", "lost");
        QVERIFY(!QDir(tmp->filePath("missing")).exists());
    }
};

QTEST_GUILESS_MAIN(tst_AppLog)
#include "tst_applog.moc"
