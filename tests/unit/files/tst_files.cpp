// The remote's own files: the semicolon table file (reading good and broken files, and
// writing changes back) and the rotating application log (line format, rotation and
// restart over existing files).

#include "applog.h"
#include "configfile.h"
#include "remoteworld.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_Files : public QObject
{
    Q_OBJECT

private:
    QScopedPointer<QTemporaryDir> tmp; // fresh for every test function
    int fileNo = 0;

    QString writeTable(const QByteArray& content, const QList<int>& invalidLines = {})
    {
        const QString path = tmp->filePath(QString::number(++fileNo));
        if (!remoteworld::writeFile(path, content))
            qFatal("cannot write %s", qPrintable(path));
        for (int line : invalidLines)
            QTest::ignoreMessage(
                QtWarningMsg,
                qPrintable(QString("Invalid line in %1 line %2").arg(path).arg(line)));
        return path;
    }

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

    // Expected: column keys, row keys and "row|column|value" cells, comma-separated.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QList<int>>("invalidLines");
        const auto row = [](const char* name, const QByteArray& content, const char* expected,
                            QList<int> invalid = {}) {
            QTest::newRow(name) << content << QString(expected) << invalid;
        };
        row("header only", "key;a;b\n", "key,a,b /  / x|a|");
        row("short row, empty fields kept", "key;a;b;c\nK;A;B;C\nr1;1\nr2;;x;\n",
            "key,a,b,c / r1,r2 / r1|key|r1,r1|a|1,r1|b|,r2|a|,r2|b|x,r2|c|");
        row("long row and empty key skipped", "key;a\nK;A\nr1;1;2\n;3\nr2;4\n",
            "key,a / r2 / r2|a|4,r1|a|", { 3, 4 });
        row("values simplified, key as it stands",
            " key ; col  a \n Key ; A ;extra\n  r1 ;  two\t  words  \n",
            "key,col a /   r1  /   r1 |key|r1,  r1 |col a|two words,r1|col a|");
        row("duplicate rows listed twice, later wins", "key;a;b\nK;A;B\nr;1;1\nq;5\nr;2\n",
            "key,a,b / r,q,r / r|a|2,r|b|,q|a|5");
        row("no quoting", "key;a;b\nK;A;B\nr;\"x;y\"\n", "key,a,b / r / r|a|\"x,r|b|y\"");
        row("CR LF, no final line feed", "key;a\r\nK;A\r\nr1;x\r\nr2;y",
            "key,a / r1,r2 / r1|a|x,r2|a|y");
        row("NUL ends the line's text", QByteArray("key;a\nK;A\nr1;x\0;too;many\nr2;y\n", 30),
            "key,a / r1,r2 / r1|a|x,r2|a|y");
    }
    void parse()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QFETCH(QList<int>, invalidLines);
        const QStringList parts = expected.split(" / ");
        const QStringList columnKeys = parts.at(0).split(',', Qt::SkipEmptyParts);
        const QStringList rowKeys = parts.at(1).split(',', Qt::SkipEmptyParts);
        ConfigFile file(writeTable(content, invalidLines));
        QCOMPARE(file.getAllColumnKeys(), columnKeys.toVector());
        QCOMPARE(file.getAllTags(), rowKeys.toVector());
        for (const QString& key : rowKeys)
            QVERIFY(file.keyExists(key) && !file.keyExists(key + 'x'));
        for (const QString& key : columnKeys)
            QVERIFY(file.columnExists(key));
        for (const QString& cell : parts.at(2).split(',')) {
            const QStringList c = cell.split('|');
            QCOMPARE(file.getValue(c.at(0), c.at(1)), c.at(2));
        }
    }

    void missingFile()
    {
        for (const QString& path : { tmp->filePath("absent.csv"), tmp->path() }) {
            QTest::ignoreMessage(QtCriticalMsg,
                                 QRegularExpression("^Load Configurations File Error: "
                                                    + QRegularExpression::escape(path) + " .+"));
            ConfigFile missing(path);
            QVERIFY(missing.getAllTags().isEmpty() && missing.getAllColumnKeys().isEmpty());
            QVERIFY(!missing.removeAllData());
        }
    }

    // Rows are written back simplified and in row-key order (a repeated key twice), a new
    // row with zeros; the two header lines stay as they were.
    void writeBack()
    {
        const QString path = writeTable(" k ;a;b\r\n K ; A ;B\r\n  r ;  a   b \r\nq;2;x\n  r ;3\n");
        ConfigFile file(path);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Trying to change columnkey: c "));
        QVERIFY(!file.addChangeTag("q", "c", "9"));
        QVERIFY(file.addChangeTag("q", "a", "9") && file.addChangeTag("n", "b", "new"));
        QCOMPARE(remoteworld::readFile(path),
                 QByteArray(" k ;a;b\n K ; A ;B\nr;3;\nq;9;x\nr;3;\nn;0;new\n"));
        QVERIFY(file.removeAllData());
        QCOMPARE(remoteworld::readFile(path), QByteArray(" k ;a;b\n K ; A ;B\n"));
    }

    void lineFormat()
    {
        AppLog log(tmp->path(), QStringLiteral("B"), 10, 3);
        log.write("Alarm", "boom_angle", QStringLiteral("Angle \u00b0 high"));
        QFile file(tmp->filePath("B_0"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString line = QString::fromUtf8(file.readAll());
        const QRegularExpression format(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d;Alarm;boom_angle;Angle \u00b0 high\n$");
        QVERIFY2(format.match(line).hasMatch(), qPrintable(line));
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

QTEST_GUILESS_MAIN(tst_Files)
#include "tst_files.moc"
