#include "checksum.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

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
    // Each row adds one entry next to a fixed file and says whether it enters the digest.
    void skipRules_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("counted");
        QTest::newRow("keys.csv in a subfolder") << "config/keys.csv" << false;
        QTest::newRow("qmlc suffix") << "ui/Main.qmlc" << false;
        QTest::newRow("file in hidden folder") << "lib/.git/config" << false;
        QTest::newRow("thumbs.db any case") << "img/THUMBS.db" << false;
        QTest::newRow("Keys.csv is another name") << "Keys.csv" << true;
    }
    void skipRules()
    {
        QFETCH(QString, entry);
        QFETCH(bool, counted);
        QTemporaryDir dir;
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
        write(dir.path(), "b.txt", "B");
        write(dir.path(), "a.txt", "A");
        write(dir.path(), "sub/c.qml", "C");
        write(dir.path(), "Z.txt", "Z");
        // Upper case sorts before lower case; a folder's files come where its path sorts.
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("ZABC"));
        // Names are not hashed, only their order counts.
        QVERIFY(QFile::rename(dir.filePath("a.txt"), dir.filePath("c.txt")));
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("ZBAC"));
    }

    // A FIFO without a writer blocks whoever opens it: it must not stop the link's start.
    void fifoSkipped()
    {
        QTemporaryDir dir;
        write(dir.path(), "app.csv", "base;");
        const QByteArray fifo = QFile::encodeName(dir.filePath("pipe"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        auto digest = std::async(std::launch::async,
                                 [&dir] { return RUzad::calculateChecksum(dir.path()); });
        const bool prompt = digest.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!prompt) // releases the blocked reader, so that the test can end
            ::close(::open(fifo.constData(), O_WRONLY | O_NONBLOCK));
        QVERIFY(prompt);
        QCOMPARE(digest.get(), md5("base;"));
    }
};

QTEST_GUILESS_MAIN(tst_RUzadChecksum)
#include "tst_ruzadchecksum.moc"
