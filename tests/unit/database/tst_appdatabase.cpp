#include "app.h"
#include "appconfig.h"
#include "appdatabase.h"
#include "configfile.h"
#include "sampleinstall.h"
#include "user.h"
#include "userdatabase.h"
#include "warninglog.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace {
QStringList executables(const AppDatabase& db)
{
    QStringList names;
    for (QObject* item : db.toList())
        names.append(qobject_cast<App*>(item)->getExecutableName());
    return names;
}
} // namespace

class tst_AppDatabase : public QObject
{
    Q_OBJECT

private slots:
    void sample()
    {
        SampleInstall sample;
        QVERIFY(sample.isValid());
        sample.useApp(QStringLiteral("crane"));
        AppDatabase db;
        {
            WarningLog log;
            db.prePopulate();
            UserDatabase users(&db);
            QVERIFY2(WarningLog::messages().isEmpty(),
                     qPrintable(WarningLog::messages().join('\n')));
        }

        QCOMPARE(executables(db), (QStringList { "crane_ui", "diagnostics_ui", "settings_ui" }));
        QCOMPARE(db.getApplicationsDirectory().absolutePath(), sample.applicationsDir());
        App* crane = db.getThisApp();
        QVERIFY(crane);
        QCOMPARE(crane, db.toList().first());
        QCOMPARE(crane->getDirectory(), sample.appDir("crane"));
        QCOMPARE(crane->getName(), QStringLiteral("Crane Control"));
        QCOMPARE(crane->getType(), QStringLiteral("controlSystem"));
        QCOMPARE(crane->getVersion(), QStringLiteral("1.4.2"));
        QCOMPARE(crane->getIconPath(), sample.appDir("crane") + "/icon.png");
        QVERIFY(QFileInfo(crane->getIconPath()).isFile());
        QVERIFY(!crane->hasPassword());
        QVERIFY(crane->getConfigFile() && crane->getKeyFile());
        QCOMPARE(crane->getConfigFile()->parent(), crane);

        for (const auto& [key, value] :
             QVector<QPair<QString, QString>> { { "BUID", "39" },
                                                { "GFBM", "2" },
                                                { "GSIP", "127.0.0.1" },
                                                { "SID1", "norvik-sample" },
                                                { "WPA1", "sample-passphrase" },
                                                { "AJS1", "1190" } }) {
            AppConfig* entry = crane->getConfig(key);
            QVERIFY2(entry, qPrintable(key));
            QCOMPARE(entry->getValue(), value);
            QCOMPARE(entry->getField(QStringLiteral("value")), value);
        }
        QCOMPARE(crane->getConfig("BUID")->getLabel(), QStringLiteral("Base Unit ID"));
        QCOMPARE(crane->getConfig("BUID")->getField("norvik_config_key"), QStringLiteral("BUID"));
        // The interface reaches the entries through the meta-object system.
        AppConfig* viaMeta = nullptr;
        QVERIFY(QMetaObject::invokeMethod(crane, "getConfig", Q_RETURN_ARG(AppConfig*, viaMeta),
                                          Q_ARG(QString, "GSIP")));
        QCOMPARE(viaMeta, crane->getConfig("GSIP"));
        App* thisApp = nullptr;
        QVERIFY(QMetaObject::invokeMethod(&db, "getThisApp", Q_RETURN_ARG(App*, thisApp)));
        QCOMPARE(thisApp, crane);
        QTest::ignoreMessage(QtWarningMsg, "App error - no config for: XXXX");
        QCOMPARE(crane->getConfig("XXXX"), nullptr);

        // Another application as the running one.
        sample.useApp(QStringLiteral("settings"));
        db.prePopulate();
        QCOMPARE(db.getThisApp()->getExecutableName(), QStringLiteral("settings_ui"));
    }

    void skippedDirectories()
    {
        SampleInstall sample;
        const QString apps = sample.applicationsDir();
        const QByteArray manifest = "key;value\nKey;Value\nexecutable;run\niconPath;icon.png\n";
        QVERIFY(QDir(apps).mkpath("a_no_manifest/config"));
        QVERIFY(sample.writeFile("Applications/b_no_executable/manifest.csv", manifest));
        QVERIFY(sample.writeFile("Applications/b_no_executable/config/app.csv", "k;value\nK;V\n"));
        QVERIFY(sample.writeFile("Applications/c_no_app_csv/manifest.csv", manifest));
        QVERIFY(sample.writeFile("Applications/c_no_app_csv/run", "#!/bin/sh\n"));
        QVERIFY(sample.writeFile("Applications/d_empty_executable/manifest.csv",
                                 "key;value\nKey;Value\n"));
        QVERIFY(
            sample.writeFile("Applications/d_empty_executable/config/app.csv", "k;value\nK;V\n"));
        // A second directory naming the same executable as "crane".
        QVERIFY(SampleInstall::copyTree(sample.appDir("crane"), apps + "/crane_copy"));
        QVERIFY(QFile::link(sample.appDir("crane"), apps + "/e_link"));
        QVERIFY(sample.writeFile("Applications/f_file", "not a directory"));

        QTest::ignoreMessage(QtWarningMsg, "No manifest.csv found in a_no_manifest");
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("No executable in " + apps + "/b_no_executable"));
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("No app.csv in " + apps + "/c_no_app_csv /config/"));
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("No executable in " + apps + "/d_empty_executable"));
        sample.useApp(QStringLiteral("crane_copy"));
        AppDatabase db;
        db.prePopulate();
        QCOMPARE(executables(db),
                 (QStringList { "crane_ui", "crane_ui", "diagnostics_ui", "settings_ui" }));
        QCOMPARE(db.getThisApp(), db.toList().at(1));
        QCOMPARE(db.getThisApp()->getDirectory(), apps + "/crane_copy");
    }

    void desktopFallback()
    {
        QTemporaryDir dir;
        qputenv("NORVIK_APP_DIR", dir.path().toLocal8Bit());
        QTest::ignoreMessage(QtWarningMsg,
                             "No parent directory \"Applications\", assuming this is running "
                             "application on Desktop.");
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable("App: could not load config file: " + dir.path() + "/config/app.csv"));
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable("App: could not load config file: " + dir.path() + "/config/keys.csv"));
        AppDatabase db;
        db.prePopulate();
        QCOMPARE(db.size(), 1);
        App* self = db.getThisApp();
        QCOMPARE(self->getExecutableName(), QCoreApplication::applicationName());
        QCOMPARE(self->getDirectory(), dir.path());
        QCOMPARE(self->getConfigFile(), nullptr);
        QCOMPARE(self->getKeyFile(), nullptr);
        QCOMPARE(db.getApplicationsDirectory().absolutePath(), dir.path());

        qputenv("NORVIK_APP_DIR", QByteArray(dir.path().toLocal8Bit() + "/gone"));
        QTest::ignoreMessage(QtWarningMsg, "Unable to find the current application directory.");
        db.prePopulate();
        QCOMPARE(db.size(), 0);
        QCOMPARE(db.getThisApp(), nullptr);
        qunsetenv("NORVIK_APP_DIR");
    }

    void configAndKeyTables()
    {
        SampleInstall sample;
        // The key table repeats a configuration key: the configuration table wins.
        QVERIFY(sample.writeFile("Applications/crane/config/keys.csv",
                                 "norvik_config_key;value;label;scale\nKey;Value;Label;Scale\n"
                                 "BUID;77;Other Base Unit\nAJS1;1190;Joystick 1;0.5\n"));
        QVERIFY(QFile::remove(sample.appDir("diagnostics") + "/config/keys.csv"));
        sample.useApp(QStringLiteral("crane"));
        QTest::ignoreMessage(QtWarningMsg, "Database tag BUID exists, not appended");
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("App: could not load config file: "
                                        + sample.appDir("diagnostics") + "/config/keys.csv"));
        AppDatabase db;
        db.prePopulate();
        App* crane = db.getThisApp();
        QCOMPARE(crane->getConfig("BUID")->getValue(), QStringLiteral("39"));
        QCOMPARE(crane->getConfig("AJS1")->getField("scale"), QStringLiteral("0.5"));
        QCOMPARE(crane->getKeyFile()->getValue("BUID", "value"), QStringLiteral("77"));
        App* diagnostics = qobject_cast<App*>(db.at(1));
        QCOMPARE(diagnostics->getKeyFile(), nullptr);
        QVERIFY(diagnostics->getConfigFile());
        QCOMPARE(diagnostics->getType(), QStringLiteral("utility"));
    }

    // A rescan keeps the objects that users and the running-application holders refer to.
    void rescanKeepsObjects()
    {
        SampleInstall sample;
        sample.useApp(QStringLiteral("crane"));
        AppDatabase db;
        db.prePopulate();
        UserDatabase users(&db);
        QPointer<App> crane = db.getThisApp();
        QPointer<App> diagnostics = qobject_cast<App*>(db.at(1));
        QSignalSpy updated(&db, &Database::databaseUpdated);

        QVERIFY(QDir(sample.appDir("diagnostics")).removeRecursively());
        db.prePopulate();
        QVERIFY(updated.count() > 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(db.getThisApp(), crane.data());
        QCOMPARE(executables(db), (QStringList { "crane_ui", "settings_ui" }));
        QVERIFY(!diagnostics.isNull());
        User* service = users.getUser("svc01");
        QVERIFY(service->hasAccessToApplication(diagnostics));
        QCOMPARE(service->getApps()->at(1), diagnostics.data());
        QVERIFY(service->isPasswordCorrect(crane, QStringLiteral("S3rvice")));
    }
};

QTEST_GUILESS_MAIN(tst_AppDatabase)
#include "tst_appdatabase.moc"
