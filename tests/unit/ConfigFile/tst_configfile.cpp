#include "configfile.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

// Child mode: a call that breaks addChangeTag's precondition must end the process.
static int assertChild(const QString& path)
{
    ConfigFile file(path);
    file.addChangeTag(QStringLiteral("same"), QStringLiteral("same"), QStringLiteral("x"));
    return 0; // not reached when the assertion handler works
}

class tst_ConfigFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    int fileNo = 0;

    QString writeTable(const QByteArray& content)
    {
        const QString path = tmp.filePath(QStringLiteral("table%1.csv").arg(++fileNo));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    static QByteArray readAll(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void expectInvalidLine(const QString& path, int line)
    {
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(QStringLiteral("Invalid line in %1 line %2").arg(path).arg(line)));
    }

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("columnKeys");
        QTest::addColumn<QStringList>("rowKeys");
        // "row|column|value" triples that getValue must return
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QList<int>>("invalidLines");

        QTest::newRow("header only") << QByteArray("key;a;b\n") << QStringList { "key", "a", "b" }
                                     << QStringList() << QStringList { "x|a|" } << QList<int>();
        QTest::newRow("header and labels")
            << QByteArray("key;a\nKey;A\n") << QStringList { "key", "a" } << QStringList()
            << QStringList() << QList<int>();
        QTest::newRow("short row")
            << QByteArray("key;a;b;c\nK;A;B;C\nr1;1\n") << QStringList { "key", "a", "b", "c" }
            << QStringList { "r1" } << QStringList { "r1|key|r1", "r1|a|1", "r1|b|", "r1|c|" }
            << QList<int>();
        QTest::newRow("long row and empty key skipped")
            << QByteArray("key;a\nK;A\nr1;1;2\n;3\nr2;4\n") << QStringList { "key", "a" }
            << QStringList { "r2" } << QStringList { "r2|a|4", "r1|a|" } << QList<int> { 3, 4 };
        QTest::newRow("separators keep empty fields")
            << QByteArray("key;a;b;c\nK;A;B;C\nr1;;x;\n") << QStringList { "key", "a", "b", "c" }
            << QStringList { "r1" } << QStringList { "r1|a|", "r1|b|x", "r1|c|" } << QList<int>();
        QTest::newRow("values simplified, key untrimmed")
            << QByteArray("key;a\nK;A\n  r1 ;  two\t  words  \n") << QStringList { "key", "a" }
            << QStringList { "  r1 " }
            << QStringList { "  r1 |key|r1", "  r1 |a|two words", "r1|a|" } << QList<int>();
        QTest::newRow("column keys and labels simplified")
            << QByteArray(" key ; col  a \n Key ; A  label ;extra;labels\nr;v\n")
            << QStringList { "key", "col a" } << QStringList { "r" }
            << QStringList { "r|col a|v", "r|key|r" } << QList<int>();
        QTest::newRow("duplicate rows listed twice, later wins")
            << QByteArray("key;a;b\nK;A;B\nr;1;1\nq;5\nr;2\n") << QStringList { "key", "a", "b" }
            << QStringList { "r", "q", "r" } << QStringList { "r|a|2", "r|b|", "q|a|5" }
            << QList<int>();
        QTest::newRow("duplicate columns, later wins")
            << QByteArray("key;a;a\nK;A1;A2\nr;first;second\n") << QStringList { "key", "a", "a" }
            << QStringList { "r" } << QStringList { "r|a|second" } << QList<int>();
        QTest::newRow("CR LF") << QByteArray("key;a\r\nK;A\r\nr1;x\r\nr2;y\r\n")
                               << QStringList { "key", "a" } << QStringList { "r1", "r2" }
                               << QStringList { "r1|a|x", "r2|a|y" } << QList<int>();
        QTest::newRow("NUL ends the line's text")
            << QByteArray("key;a\nK;A\nr1;x\0;too;many;fields\nr2;y\n", 37)
            << QStringList { "key", "a" } << QStringList { "r1", "r2" }
            << QStringList { "r1|a|x", "r2|a|y" } << QList<int>();
        QTest::newRow("UTF-8") << QByteArray("key;unit\nK;U\ntemp;\xc2\xb0"
                                             "C\n")
                               << QStringList { "key", "unit" } << QStringList { "temp" }
                               << QStringList { QStringLiteral("temp|unit|\u00b0C") }
                               << QList<int>();
        QTest::newRow("last line without line feed")
            << QByteArray("key;a\nK;A\nr1;x") << QStringList { "key", "a" } << QStringList { "r1" }
            << QStringList { "r1|a|x" } << QList<int>();
    }
    void parse()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, columnKeys);
        QFETCH(QStringList, rowKeys);
        QFETCH(QStringList, cells);
        QFETCH(QList<int>, invalidLines);

        const QString path = writeTable(content);
        for (int line : invalidLines)
            expectInvalidLine(path, line);
        ConfigFile file(path);

        QCOMPARE(file.getAllColumnKeys(), columnKeys.toVector());
        QCOMPARE(file.getAllTags(), rowKeys.toVector());
        for (const QString& key : rowKeys)
            QVERIFY(file.keyExists(key));
        for (const QString& key : columnKeys)
            QVERIFY(file.columnExists(key));
        QVERIFY(!file.keyExists(QStringLiteral("key")));
        for (const QString& cell : cells) {
            const QStringList parts = cell.split(QLatin1Char('|'));
            QCOMPARE(file.getValue(parts.at(0), parts.at(1)), parts.at(2));
        }
    }

    void labels()
    {
        ConfigFile file(writeTable("key;a;b\n Key  Label ;A;B;ignored\n"));
        const QMap<QString, QString> expected { { "key", "Key Label" },
                                                { "a", "A" },
                                                { "b", "B" } };
        QCOMPARE(file.getAllColumns(), expected);
        ConfigFile noLabels(writeTable("key;a;b\n"));
        QVERIFY(noLabels.getAllColumns().isEmpty());
    }

    void missingFile()
    {
        const QString path = tmp.filePath(QStringLiteral("absent.csv"));
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression(QStringLiteral("^Load Configurations File Error: ")
                                                + QRegularExpression::escape(path) + " .+"));
        ConfigFile file(path);
        QVERIFY(file.getAllTags().isEmpty());
        QVERIFY(file.getAllColumnKeys().isEmpty());
        QVERIFY(!file.keyExists(QString()));
        QCOMPARE(file.getValue("a", "b"), QString());
    }

    void addChangeTag_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("change a value")
            << QByteArray(
                   "key;value;label\nKey;Value;Label\nBUID;39;Base Unit ID\nGFBM;2;Fallback\n")
            << "BUID"
            << "value"
            << "40"
            << QByteArray(
                   "key;value;label\nKey;Value;Label\nBUID;40;Base Unit ID\nGFBM;2;Fallback\n");
        QTest::newRow("new row gets zeros")
            << QByteArray("key;value;label\nKey;Value;Label\nBUID;39;Base Unit ID\n") << "SID1"
            << "label"
            << "WiFi"
            << QByteArray("key;value;label\nKey;Value;Label\nBUID;39;Base Unit ID\nSID1;0;WiFi\n");
        QTest::newRow("short row writes empty fields")
            << QByteArray("key;a;b;c\nK;A;B;C\nr1;1\nr2;x;y;z\n") << "r2"
            << "b"
            << "Y" << QByteArray("key;a;b;c\nK;A;B;C\nr1;1;;\nr2;x;Y;z\n");
        QTest::newRow("rows regenerated simplified, header kept")
            << QByteArray(" key ;a \r\n K ; A \r\n  r1 ;  a   b \r\nr2;c\r\n") << "r2"
            << "a"
            << "d" << QByteArray(" key ;a \n K ; A \nr1;a b\nr2;d\n");
        QTest::newRow("duplicate row written twice")
            << QByteArray("key;a\nK;A\nr;1\nq;2\nr;3\n") << "q"
            << "a"
            << "9" << QByteArray("key;a\nK;A\nr;3\nq;9\nr;3\n");
        QTest::newRow("invalid lines dropped") << QByteArray("key;a\nK;A\nr;1;2\n;x\nq;2\n") << "q"
                                               << "a"
                                               << "3" << QByteArray("key;a\nK;A\nq;3\n");
    }
    void addChangeTag()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, row);
        QFETCH(QString, column);
        QFETCH(QString, value);
        QFETCH(QByteArray, expected);

        const QString path = writeTable(content);
        if (QByteArray(QTest::currentDataTag()) == "invalid lines dropped") {
            expectInvalidLine(path, 3);
            expectInvalidLine(path, 4);
        }
        ConfigFile file(path);
        const bool isNew = !file.keyExists(row);
        if (isNew)
            QTest::ignoreMessage(QtInfoMsg,
                                 qPrintable(QStringLiteral("Makinq new tag: %1 because it does not "
                                                           "exists in file: %2")
                                                .arg(row, path)));
        QVERIFY(file.addChangeTag(row, column, value));
        QCOMPARE(file.getValue(row, column), value);
        QCOMPARE(readAll(path), expected);

        // What was written reads back to the same table.
        ConfigFile reread(path);
        QCOMPARE(reread.getValue(row, column), value);
        QCOMPARE(reread.getAllColumnKeys(), file.getAllColumnKeys());
    }

    void addChangeTagRefused()
    {
        const QByteArray content("key;value\nKey;Value\nBUID;39\n");
        const QString path = writeTable(content);
        ConfigFile file(path);
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(QStringLiteral("Trying to change columnkey: colour that does "
                                      "not exists in file: %1")
                           .arg(path)));
        QVERIFY(!file.addChangeTag("BUID", "colour", "red"));
        QCOMPARE(readAll(path), content);
        QCOMPARE(file.getValue("BUID", "value"), QStringLiteral("39"));

        // A file that lost its label line cannot be rewritten; memory keeps the change.
        QFile::resize(path, 10);
        QVERIFY(!file.addChangeTag("BUID", "value", "41"));
        QCOMPARE(file.getValue("BUID", "value"), QStringLiteral("41"));
        QCOMPARE(readAll(path), content.left(10));
    }

    void addChangeTagSameKeysAsserts()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    { QStringLiteral("--assert-child"), writeTable("same;value\nS;V\n") });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QByteArray out = child.readAll();
        QVERIFY2(out.contains("Fatal") && out.contains("configfile.cpp"), out.constData());
    }

    void removeAllData()
    {
        const QString path = writeTable("key;a\r\nK;A\r\nr1;1\r\nr2;2\r\n");
        ConfigFile file(path);
        QCOMPARE(file.getAllTags().size(), 2);
        QVERIFY(file.removeAllData());
        QCOMPARE(readAll(path), QByteArray("key;a\nK;A\n"));
        QVERIFY(file.getAllTags().isEmpty());
        QCOMPARE(file.getAllColumnKeys(), (QVector<QString> { "key", "a" }));
        QCOMPARE(file.getValue("r1", "a"), QString());

        for (const QByteArray& shortFile : { QByteArray(), QByteArray("key;a\n") }) {
            const QString shortPath = writeTable(shortFile);
            ConfigFile table(shortPath);
            QVERIFY(!table.removeAllData());
            QCOMPARE(readAll(shortPath), shortFile);
        }
    }

    // Broken files: warnings, the rest loads, no crash.
    void garbage()
    {
        QRandomGenerator rng(0x5eed);
        QByteArray noise(64 * 1024, '\0');
        for (char& c : noise)
            c = static_cast<char>(rng.bounded(256));
        static int invalidLines;
        invalidLines = 0;
        const QtMessageHandler previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& msg) {
                  if (msg.startsWith(QLatin1String("Invalid line in")))
                      ++invalidLines;
              });
        ConfigFile binary(writeTable("key;a\nK;A\n" + noise + "\ngood;1\n"));
        qInstallMessageHandler(previous);
        QVERIFY(invalidLines > 0);
        QCOMPARE(binary.getValue("good", "a"), QStringLiteral("1"));

        const QByteArray huge(8 * 1024 * 1024, 'x');
        ConfigFile oneLine(writeTable(huge));
        QCOMPARE(oneLine.getAllColumnKeys().size(), 1);
        QCOMPARE(oneLine.getAllColumnKeys().first().size(), huge.size());
    }

    void largeTables()
    {
        QByteArray wide("key");
        for (int c = 0; c < 5000; ++c)
            wide += ";c" + QByteArray::number(c);
        wide += "\nlabels\nrow";
        for (int c = 0; c < 5000; ++c)
            wide += ';' + QByteArray::number(c);
        wide += '\n';
        ConfigFile manyColumns(writeTable(wide));
        QCOMPARE(manyColumns.getAllColumnKeys().size(), 5001);
        QCOMPARE(manyColumns.getValue("row", "c4999"), QStringLiteral("4999"));

        QByteArray tall("key;a\nK;A\n");
        for (int r = 0; r < 20000; ++r)
            tall += "r" + QByteArray::number(r) + ';' + QByteArray::number(r * 2) + '\n';
        ConfigFile manyRows(writeTable(tall));
        QCOMPARE(manyRows.getAllTags().size(), 20000);
        QCOMPARE(manyRows.getValue("r19999", "a"), QStringLiteral("39998"));
    }

    void unreadable()
    {
        // A directory in place of the file cannot be read as one.
        QVERIFY(QDir(tmp.path()).mkpath("dir.csv"));
        QTest::ignoreMessage(
            QtCriticalMsg, QRegularExpression(QStringLiteral("^Load Configurations File Error: ")));
        ConfigFile file(tmp.filePath("dir.csv"));
        QVERIFY(file.getAllColumnKeys().isEmpty());
        QVERIFY(!file.removeAllData());
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--assert-child") == 0) {
        QCoreApplication app(argc, argv);
        return assertChild(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    tst_ConfigFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_configfile.moc"
