// The rotating application log: line format, rotation and restart over existing files.

#include "applog.h"
#include "remoteworld.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_AppLog : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> tmp;

    // The lines of each log file in name order, files as "name:line|line".
    QStringList files() const
    {
        QStringList result;
        for (const QString& name : QDir(tmp->path()).entryList(QDir::Files, QDir::Name)) {
            QFile file(tmp->filePath(name));
            QStringList lines;
            if (file.open(QIODevice::ReadOnly))
                for (const QString& line :
                     QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
                    lines << line.section(';', 3); // the message only
            result << name + ':' + lines.join('|');
        }
        return result;
    }
    static void write(AppLog& log, int from, int to)
    {
        for (int i = from; i <= to; ++i)
            log.write("L", "t", QString::number(i));
    }

private slots:
    void init() { tmp.reset(new QTemporaryDir); }

    void lineFormat()
    {
        AppLog log(tmp->path(), QStringLiteral("B"), 10, 3);
        log.write("Alarm", "boom_angle", QStringLiteral("Angle \u00b0 high"));
        QFile file(tmp->filePath("B_0"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString line = QString::fromUtf8(file.readAll());
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d;"
                                                   "Alarm;boom_angle;Angle \u00b0 high\n$"))
                     .match(line)
                     .hasMatch(),
                 qPrintable(line));
    }

    void rotation()
    {
        AppLog log(tmp->path(), QStringLiteral("B"), 2, 3);
        write(log, 1, 5);
        QCOMPARE(files(), (QStringList { "B_0:1|2", "B_1:3|4", "B_2:5" }));
        write(log, 6, 7);
        QCOMPARE(files(), (QStringList { "B_0:3|4", "B_1:5|6", "B_2:7" }));
        // Fewer than two files are kept as two.
        for (int maxFiles : { 0, 1 }) {
            init();
            AppLog small(tmp->path(), QStringLiteral("B"), 1, maxFiles);
            write(small, 1, 4);
            QCOMPARE(files(), (QStringList { "B_0:3", "B_1:4" }));
        }
    }

    // A restart goes on in the newest file after its lines; with more files
    // than are kept the oldest go and the rest move down. Other names are not
    // the log's own.
    void restartTrimsSurplusFiles()
    {
        for (const char* name : { "B_0", "B_1", "B_2", "B_3", "B_4", "B_5", "B_07", "Bx_9" })
            QVERIFY(
                remoteworld::writeFile(tmp->filePath(name), "x;y;z;" + QByteArray(name) + "\n"));
        AppLog log(tmp->path(), QStringLiteral("B"), 2, 3);
        QCOMPARE(files(),
                 (QStringList { "B_0:B_3", "B_07:B_07", "B_1:B_4", "B_2:B_5", "Bx_9:Bx_9" }));
        log.write("L", "t", "new");
        log.write("L", "t", "next");
        QCOMPARE(files(),
                 (QStringList { "B_0:B_4", "B_07:B_07", "B_1:B_5|new", "B_2:next", "Bx_9:Bx_9" }));
    }
};

QTEST_GUILESS_MAIN(tst_AppLog)
#include "tst_applog.moc"
