#include "app.h"
#include "appdatabase.h"
#include "sampleinstall.h"
#include "user.h"
#include "userdatabase.h"

#include <QtTest>

class tst_UserDatabase : public QObject
{
    Q_OBJECT

private:
    static App* app(const AppDatabase& db, const char* executable)
    {
        for (QObject* item : db.toList()) {
            auto* a = qobject_cast<App*>(item);
            if (a->getExecutableName() == QLatin1String(executable))
                return a;
        }
        return nullptr;
    }

private slots:
    void usersAcrossApplications()
    {
        SampleInstall sample;
        sample.useApp(QStringLiteral("crane"));
        AppDatabase apps;
        apps.prePopulate();
        App* crane = app(apps, "crane_ui");
        App* diagnostics = app(apps, "diagnostics_ui");
        App* settings = app(apps, "settings_ui");
        UserDatabase users(&apps);

        QStringList keys;
        for (Data* user : users.getAll())
            keys.append(user->getTag());
        QCOMPARE(keys, (QStringList { "op01", "op02", "svc01", "op03" }));
        QCOMPARE(users.getCurrentUser(), nullptr);

        User* anna = users.getUser("op01");
        QCOMPARE(anna->getFirstName(), QStringLiteral("Anna"));
        QCOMPARE(anna->getLastName(), QStringLiteral("Berg"));
        QCOMPARE(anna->getColor(), QStringLiteral("#1E88E5"));
        QCOMPARE(anna->getApps()->size(), 2);
        QCOMPARE(anna->getPasswords(), (QVector<QString> { "1234", "" }));
        QVERIFY(anna->hasAccessToApplication(crane));
        QVERIFY(anna->hasAccessToApplication(settings));
        QVERIFY(!anna->hasAccessToApplication(diagnostics));
        QVERIFY(anna->hasPassword(crane));
        QVERIFY(!anna->hasPassword(settings));
        QVERIFY(!anna->hasPassword(diagnostics));
        QVERIFY(anna->hasAnyPassword());
        QVERIFY(!users.getUser("op02")->hasAnyPassword());
        // Applications stay owned by the application database.
        QCOMPARE(crane->parent(), &apps);

        User* service = users.getUser("svc01");
        QVERIFY(service->isPasswordCorrect(crane, "S3rvice"));
        QVERIFY(service->isPasswordCorrect(diagnostics, "diag-pass"));
        QVERIFY(!service->isPasswordCorrect(diagnostics, "S3rvice"));
        QVERIFY(!service->isPasswordCorrect(crane, "s3rvice"));
        QVERIFY(!service->isPasswordCorrect(crane, "S3rvice "));
        QVERIFY(!service->isPasswordCorrect(settings, ""));
        QVERIFY(anna->isPasswordCorrect(settings, ""));
        QVERIFY(!anna->isPasswordCorrect(nullptr, ""));

        QCOMPARE(users.getUserByName("Anna", "Berg"), QVector<User*> { anna });
        QVERIFY(users.getUserByName("anna", "Berg").isEmpty());
        QCOMPARE(users.getUser("nobody"), nullptr);
        users.setCurrentUser(service);
        QCOMPARE(users.getCurrentUser(), service);
        anna->setColor("#000000");
        QCOMPARE(anna->getColor(), QStringLiteral("#000000"));
    }

    void firstTableNamesTheUser()
    {
        SampleInstall sample;
        QVERIFY(sample.writeFile("Applications/settings/config/users.csv",
                                 "user_key;firstName;lastName;password;color\nK;F;L;P;C\n"
                                 "op01;Annika;Bergman;pw;#FFFFFF\n"
                                 "op01;Again;Same;pw2;#FFFFFF\n"
                                 "op09;Anna;Berg;;\n"));
        QVERIFY(QFile::remove(sample.appDir("diagnostics") + "/config/users.csv"));
        sample.useApp(QStringLiteral("crane"));
        AppDatabase apps;
        apps.prePopulate();
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("UserDatabase initiate: couldn't find the file "
                                        + sample.appDir("diagnostics") + "/config/users.csv"));
        // The repeated row of one table grants nothing new.
        QTest::ignoreMessage(QtWarningMsg, "User already has access to this application.");
        UserDatabase users(&apps);
        User* anna = users.getUser("op01");
        QCOMPARE(anna->getFirstName(), QStringLiteral("Anna"));
        QCOMPARE(anna->getColor(), QStringLiteral("#1E88E5"));
        // Rows with the same key collapse in the table: the later row's password counts.
        QCOMPARE(anna->getPasswords(), (QVector<QString> { "1234", "pw2" }));
        QCOMPARE(users.getUserByName("Anna", "Berg").size(), 2);
        QVERIFY(!users.getUser("svc01")->hasAccessToApplication(app(apps, "diagnostics_ui")));
    }
};

QTEST_GUILESS_MAIN(tst_UserDatabase)
#include "tst_userdatabase.moc"
