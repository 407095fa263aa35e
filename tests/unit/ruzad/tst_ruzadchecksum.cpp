#include "checksum.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_RUzadChecksum : public QObject
{
    Q_OBJECT

    static void write(const QString& root, const QString& rel, const QByteArray& content)
    {
        const QString path = root + QLatin1Char('/') + rel;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    static QByteArray md5(const QByteArray& data)
    {
        return QCryptographicHash::hash(data, QCryptographicHash::Md5);
    }

private slots:
    void onlySkippedEntries()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        write(dir.path(), "keys.csv", "secret");
        write(dir.path(), "main.qmlc", "compiled");
        write(dir.path(), ".cache/inside.txt", "hidden dir");
        write(dir.path(), "Thumbs.DB", "clutter");
        QDir(dir.path()).mkpath("empty/sub");
        QCOMPARE(RUzad::calculateChecksum(dir.path()).toHex(),
                 QByteArray("d41d8cd98f00b204e9800998ecf8427e"));
    }

    // Each row adds one entry next to a fixed file and says whether it enters the digest.
    void skipRules_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("counted");
        QTest::newRow("keys.csv") << "keys.csv" << false;
        QTest::newRow("keys.csv in a subfolder") << "config/keys.csv" << false;
        QTest::newRow("qmlc suffix") << "ui/Main.qmlc" << false;
        QTest::newRow("dot file") << ".directory" << false;
        QTest::newRow("file in hidden folder") << "lib/.git/config" << false;
        QTest::newRow("thumbs.db any case") << "img/THUMBS.db" << false;
        QTest::newRow("Keys.csv is another name") << "Keys.csv" << true;
        QTest::newRow("keys.csv.bak") << "keys.csv.bak" << true;
        QTest::newRow("qml source") << "ui/Main.qml" << true;
        QTest::newRow("dot inside name") << "tags.v2.csv" << true;
    }
    void skipRules()
    {
        QFETCH(QString, entry);
        QFETCH(bool, counted);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        write(dir.path(), "app.csv", "base;");
        write(dir.path(), entry, "extra;");
        const QByteArray expected = counted
            ? (QStringLiteral("app.csv") < entry ? md5("base;extra;") : md5("extra;base;"))
            : md5("base;");
        QCOMPARE(RUzad::calculateChecksum(dir.path()).toHex(), expected.toHex());
    }

    void sortedPathOrder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        write(dir.path(), "b.txt", "B");
        write(dir.path(), "a.txt", "A");
        write(dir.path(), "sub/c.qml", "C");
        write(dir.path(), "Z.txt", "Z");
        // Upper case sorts before lower case; a folder's files come where its path sorts.
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("ZABC"));

        // Same sorted position: same digest, names are not hashed.
        QVERIFY(QFile::rename(dir.filePath("a.txt"), dir.filePath("aa.txt")));
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("ZABC"));
        // A new position changes the order of the feed.
        QVERIFY(QFile::rename(dir.filePath("aa.txt"), dir.filePath("c.txt")));
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("ZBAC"));
        // And content changes the digest.
        write(dir.path(), "c.txt", "A2");
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("ZBA2C"));
    }

    void addToHashContinuesRunningDigest()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        write(dir.path(), "x", "payload");
        QCryptographicHash hash(QCryptographicHash::Md5);
        hash.addData("prefix");
        RUzad::addToHash(QFileInfo(dir.path()), hash);
        QCOMPARE(hash.result(), md5("prefixpayload"));
    }

    void missingDirectory()
    {
        QCOMPARE(RUzad::calculateChecksum("/nonexistent/app").toHex(),
                 QByteArray("d41d8cd98f00b204e9800998ecf8427e"));
    }
};

QTEST_GUILESS_MAIN(tst_RUzadChecksum)
#include "tst_ruzadchecksum.moc"
