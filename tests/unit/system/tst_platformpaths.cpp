#include "platformpaths.h"

#include <QtTest>

class tst_PlatformPaths : public QObject
{
    Q_OBJECT

private slots:
    void paths_data()
    {
        QTest::addColumn<QByteArray>("sysroot");
        QTest::addColumn<QByteArray>("appDir");
        QTest::addColumn<QStringList>("expected"); // systemPath("/etc/ruid"), appPath("/config")
        QTest::newRow("product paths")
            << QByteArray() << QByteArray()
            << QStringList { "/etc/ruid", QCoreApplication::applicationDirPath() + "/config" };
        QTest::newRow("trailing slashes")
            << QByteArray("/tmp/root//") << QByteArray("/opt/remote/")
            << QStringList { "/tmp/root/etc/ruid", "/opt/remote/config" };
        QTest::newRow("root itself")
            << QByteArray("/") << QByteArray("/opt") << QStringList { "/etc/ruid", "/opt/config" };
    }
    void paths()
    {
        QFETCH(QByteArray, sysroot);
        QFETCH(QByteArray, appDir);
        QFETCH(QStringList, expected);
        qputenv("NORVIK_SYSROOT", sysroot);
        qputenv("NORVIK_APP_DIR", appDir);
        QCOMPARE(QStringList(
                     { PlatformPaths::systemPath("/etc/ruid"), PlatformPaths::appPath("/config") }),
                 expected);
    }
};

QTEST_GUILESS_MAIN(tst_PlatformPaths)
#include "tst_platformpaths.moc"
