#include "platformpaths.h"

#include <QtTest>

class tst_PlatformPaths : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        qunsetenv("NORVIK_SYSROOT");
        qunsetenv("NORVIK_APP_DIR");
    }

    void systemPath_data()
    {
        QTest::addColumn<QString>("sysroot");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no sysroot") << QString() << "/dev/ttymxc0"
                                    << "/dev/ttymxc0";
        QTest::newRow("sysroot") << "/tmp/root"
                                 << "/dev/ttymxc0"
                                 << "/tmp/root/dev/ttymxc0";
        QTest::newRow("trailing slash") << "/tmp/root//"
                                        << "/etc/ruid"
                                        << "/tmp/root/etc/ruid";
        QTest::newRow("root itself") << "/"
                                     << "/etc/ruid"
                                     << "/etc/ruid";
    }
    void systemPath()
    {
        QFETCH(QString, sysroot);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        if (!sysroot.isNull())
            qputenv("NORVIK_SYSROOT", sysroot.toLocal8Bit());
        QCOMPARE(PlatformPaths::systemPath(path), expected);
    }

    void appDir()
    {
        QCOMPARE(PlatformPaths::appDir(), QCoreApplication::applicationDirPath());
        qputenv("NORVIK_APP_DIR", "/opt/remote/");
        QCOMPARE(PlatformPaths::appDir(), QStringLiteral("/opt/remote"));
        QCOMPARE(PlatformPaths::appPath("/config/webservices.cfg"),
                 QStringLiteral("/opt/remote/config/webservices.cfg"));
        QCOMPARE(PlatformPaths::appPath("Applications"),
                 QStringLiteral("/opt/remote/Applications"));
    }
};

QTEST_GUILESS_MAIN(tst_PlatformPaths)
#include "tst_platformpaths.moc"
