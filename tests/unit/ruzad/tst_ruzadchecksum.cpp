#include "checksum.h"
#include "remoteworld.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

class tst_RUzadChecksum : public QObject
{
    Q_OBJECT

    static QByteArray md5(const QByteArray& data)
    {
        return QCryptographicHash::hash(data, QCryptographicHash::Md5);
    }

private slots:
    // Key tables, compiled QML, hidden folders and thumbnails are left out of the digest;
    // the order is the paths' sorted order, upper case before lower case, and a folder's
    // files come where its path sorts. Names are not hashed, only their order counts.
    void skipRulesAndOrder()
    {
        QTemporaryDir dir;
        for (const char* skipped :
             { "config/keys.csv", "ui/Main.qmlc", "lib/.git/config", "img/THUMBS.db" })
            QVERIFY(remoteworld::writeFile(dir.filePath(skipped), "skipped;"));
        QVERIFY(remoteworld::writeFile(dir.filePath("b.txt"), "B"));
        QVERIFY(remoteworld::writeFile(dir.filePath("a.txt"), "A"));
        QVERIFY(remoteworld::writeFile(dir.filePath("sub/c.qml"), "C"));
        QVERIFY(remoteworld::writeFile(dir.filePath("Keys.csv"), "K"));
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("KABC"));
        QVERIFY(QFile::rename(dir.filePath("a.txt"), dir.filePath("c.txt")));
        QCOMPARE(RUzad::calculateChecksum(dir.path()), md5("KBAC"));
    }

    // A FIFO without a writer blocks whoever opens it: it must not stop the link's start.
    void fifoSkipped()
    {
        QTemporaryDir dir;
        QVERIFY(remoteworld::writeFile(dir.filePath("app.csv"), "base;"));
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
