// The data model: tag decoding against known byte vectors, the databases, the
// tag tables and applications with their users on trees the test writes.

#include "app.h"
#include "appconfig.h"
#include "appdatabase.h"
#include "configfile.h"
#include "platformpaths.h"
#include "remoteworld.h"
#include "tagdatabase.h"
#include "user.h"
#include "userdatabase.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}
void configure(Tag& tag, tagDataType type, int byteSize, int startBit = 0, int bitSize = 0)
{
    tag.setDataType(type);
    tag.setByteSize(byteSize);
    tag.setStartBit(startBit);
    tag.setBitSize(bitSize);
}
void expectWarning(const QString& text)
{
    QTest::ignoreMessage(QtWarningMsg, qPrintable(text));
}
} // namespace

class tst_Database : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString apps() const { return m_root.path() + "/Applications"; }
    static void useApp(const QString& dir) { qputenv("NORVIK_APP_DIR", QFile::encodeName(dir)); }
    void put(const QString& relative, const QByteArray& content)
    {
        QVERIFY(remoteworld::writeFile(QDir::cleanPath(m_root.path() + '/' + relative), content));
    }
    // Loads the tables of the application "app"; those the test did not write are reported.
    void load(TagDatabase& db)
    {
        useApp(apps() + "/app");
        for (const char* table :
             { "/../.config/remoteInternalInputTags.csv",
               "/../.config/remoteInternalOutputTags.csv", "/../.config/baseToRemoteStatusTags.csv",
               "/../.config/remoteInternalTags.csv", "/../.config/remoteInternalConfigTags.csv",
               "/config/ECOutputTags.csv", "/config/EGOutputTags.csv" })
            if (!QFile::exists(apps() + "/app" + table))
                expectWarning("Could not find the configuration file: " + apps() + "/app" + table);
        db.prePopulate();
    }
    // Link, label, unit, type, the four numbers, the six limits and the value.
    static QString describe(const Tag* t)
    {
        QStringList f { QString::number(t->getHostLink()), t->getLabel(), t->getUnitLabel(),
                        QString::number(t->getDataType()) };
        for (int n : { t->getStartByte(), t->getByteSize(), t->getStartBit(), t->getBitSize() })
            f << QString::number(n);
        for (float x :
             { t->getMinimumValue(), t->getMaximumValue(), t->getMinimumWarningValue(),
               t->getMaximumWarningValue(), t->getMinimumAlarmValue(), t->getMaximumAlarmValue() })
            f << QString::number(x);
        const QVariant v = t->getValue();
        const bool raw = v.userType() == QMetaType::QByteArray;
        return f.join(';') + ';' + v.typeName() + ':'
            + (raw ? v.toByteArray().toHex() : v.toString());
    }

    // An installable application: manifest, executable and configuration table.
    void install(const QString& dir, const QByteArray& executable, const QByteArray& type)
    {
        put("Applications/" + dir + "/manifest.csv",
            "key;value\nKey;Value\nexecutable;" + executable + "\niconPath;icon.png\n");
        put("Applications/" + dir + '/' + executable, "#!/bin/sh\n");
        put("Applications/" + dir + "/config/app.csv",
            "norvik_config_key;value;label\nKey;Value;Label\nname;" + dir.toUtf8() + ";Name\ntype;"
                + type + ";Type\nAPSR;1.4.2;Version\nBUID;39;Base Unit ID\n");
    }
    static QStringList executables(const AppDatabase& db)
    {
        QStringList names;
        for (QObject* item : db.toList())
            names.append(qobject_cast<App*>(item)->getExecutableName());
        return names;
    }

private slots:
    void init() { QDir(m_root.path()).removeRecursively(); }

    // Every tag starts at int 42 here; rows that expect 42 keep the old value.
    void decode_data()
    {
        QTest::addColumn<tagDataType>("type");
        QTest::addColumn<QVector<int>>("layout");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<QString>("warning");
        const auto row
            = [](const char* name, tagDataType type, QVector<int> layout, const QByteArray& bytes,
                 const QVariant& expected, QString warning = {}) {
                  QTest::newRow(name) << type << layout << bytes << expected << warning;
              };
        const QString size = "Unsupported tag size for t data type ";
        row("UINT 1", TDBT_UINT, { 1, 0, 0 }, hex("fe"), 254u);
        row("UINT 2 little-endian", TDBT_UINT, { 2, 0, 0 }, hex("0201"), 258u);
        row("BE_UINT 2", TDBT_BE_UINT, { 2, 0, 0 }, hex("0201"), 513u);
        row("UINT bit field", TDBT_UINT, { 2, 4, 3 }, hex("f000"), 7u);
        row("BE_UINT bit field", TDBT_BE_UINT, { 2, 4, 3 }, hex("f000"), 0u);
        row("UINT startBit unused without bitSize", TDBT_UINT, { 1, 4, 0 }, hex("f1"), 241u);
        row("UINT bitSize 32 keeps all", TDBT_UINT, { 4, 0, 32 }, hex("ffffffff"), 0xffffffffu);
        row("UINT bitSize past 32", TDBT_UINT, { 4, 8, 40 }, hex("ffffffff"), 0xffffffu);
        row("UINT startBit 32 gives 0", TDBT_UINT, { 4, 32, 1 }, hex("ffffffff"), 0u);
        row("UINT size 3 gives 0", TDBT_UINT, { 3, 0, 0 }, hex("111111"), 0u, size + "UINT");
        row("BE_UINT short slice", TDBT_BE_UINT, { 4, 0, 0 }, hex("01"), 0x01000000u);
        row("INT 2 little-endian", TDBT_INT, { 2, 0, 0 }, hex("fffe"), -257);
        row("BE_INT 2", TDBT_BE_INT, { 2, 0, 0 }, hex("fffe"), -2);
        row("INT 4 minimum", TDBT_INT, { 4, 0, 0 }, hex("00000080"), INT_MIN);
        row("INT bit field negative", TDBT_INT, { 1, 0, 4 }, hex("0f"), -1);
        row("INT bit field shifted", TDBT_INT, { 2, 4, 8 }, hex("0008"), -128);
        row("BE_INT bit field", TDBT_BE_INT, { 2, 8, 4 }, hex("0e00"), -2);
        row("INT startBit 64 gives 0", TDBT_INT, { 4, 64, 1 }, hex("ffffffff"), 0);
        row("INT bit field past the slice", TDBT_INT, { 1, 4, 8 }, hex("f0"), 15);
        row("INT size 3", TDBT_INT, { 3, 0, 0 }, hex("111111"), 42, size + "INT");
        row("REAL 4", TDBT_REAL, { 4, 0, 0 }, hex("0000c03f"), 1.5f);
        row("BE_REAL 4", TDBT_BE_REAL, { 4, 0, 0 }, hex("c0100000"), -2.25f);
        row("REAL 8", TDBT_REAL, { 8, 0, 0 }, hex("0000000000000840"), 3.0);
        row("BE_REAL short slice", TDBT_BE_REAL, { 8, 0, 0 }, hex("3ff0"), 1.0);
        row("REAL size 3", TDBT_REAL, { 3, 0, 0 }, hex("11"), 42, size + "REAL");
        row("STRING to first zero", TDBT_STRING, { 4, 0, 0 }, hex("41420043"), QString("AB"));
        row("RAW", TDBT_RAW, { 3, 0, 0 }, hex("00ff10"), hex("00ff10"));
        row("BOOLEAN bit 9", TDBT_BOOLEAN, { 2, 9, 0 }, hex("0002"), true);
        row("BE_BOOLEAN bit 9", TDBT_BE_BOOLEAN, { 2, 9, 0 }, hex("0200"), true);
        row("BOOLEAN bit 31", TDBT_BOOLEAN, { 4, 31, 0 }, hex("00000080"), true);
        row("BE_BOOLEAN bit past the slice", TDBT_BE_BOOLEAN, { 2, 40, 0 }, hex("ffff"), false);
        row("BOOLEAN bit past the slice", TDBT_BOOLEAN, { 2, 16, 0 }, hex("0000ff"), false);
        row("BOOLEAN size 3", TDBT_BOOLEAN, { 3, 0, 0 }, hex("11"), 42, size + "TDBT_BOOLEAN");
        row("type not set", TDBT_NOT_SET, { 2, 0, 0 }, hex("0102"), 42,
            "setTagValue - type error for t - setValue: 01 02 current value: QVariant(int, 42) "
            "dataType: 0");
    }
    void decode()
    {
        QFETCH(tagDataType, type);
        QFETCH(QVector<int>, layout);
        QFETCH(QByteArray, bytes);
        QFETCH(QVariant, expected);
        QFETCH(QString, warning);
        Tag tag(QStringLiteral("t"));
        tag.setValue(QVariant(42));
        configure(tag, type, layout[0], layout[1], layout[2]);
        QSignalSpy spy(&tag, &Tag::valueUpdated);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        tag.setValue(bytes);
        QCOMPARE(tag.getRawData(), bytes);
        QCOMPARE(tag.getValue().userType(), expected.userType());
        QCOMPARE(tag.getValue(), expected);
        QCOMPARE(spy.count(), expected == QVariant(42) ? 0 : 1);
    }

    void signalsOnRealChangesOnly()
    {
        Tag tag(QStringLiteral("t"));
        configure(tag, TDBT_UINT, 1, 0, 4);
        QSignalSpy spy(&tag, &Tag::valueUpdated);
        tag.setValue(hex("05"));
        tag.setValue(hex("05"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0), QVariant(5u));
        // Only bits outside the field change: raw bytes kept, no signal.
        tag.setValue(hex("f5"));
        QCOMPARE(tag.getRawData(), hex("f5"));
        tag.setValue(QVariant(5)); // equal after conversion: no change
        QCOMPARE(spy.count(), 1);
        tag.setValue(QVariant(9));
        QCOMPARE(spy.count(), 2);
        // The same bytes again do not restore the decoded value.
        tag.setValue(hex("f5"));
        QCOMPARE(tag.getValue(), QVariant(9));
        QCOMPARE(spy.count(), 2);

        // Slices may point into a frame buffer that is reused afterwards.
        configure(tag, TDBT_RAW, 2);
        char frame[] = { 1, 2 };
        tag.setValue(QByteArray::fromRawData(frame, 2));
        frame[0] = 7;
        QCOMPARE(tag.getRawData(), hex("0102"));
        QCOMPARE(tag.getValue().toByteArray(), hex("0102"));

        tag.insertState(QVariant(2), QStringLiteral("armd"));
        tag.insertState(QVariant(2), QStringLiteral("armed"));
        tag.setValue(QVariant(2u));
        QCOMPARE(tag.getState(), QStringLiteral("armed"));
    }

    void loadTables()
    {
        put("Applications/app/../.config/remoteInternalInputTags.csv",
            "name;label;startByte;byteSize;startBit;bitSize;minValue;maxValue;minWarningValue;"
            "maxWarningValue;minAlarmValue;maxAlarmValue;unitLabel;dataType;groups\nLabels\n"
            "joy;Joystick 1;8;2;3;4;-1000;1000;-700;700;-850;850;%;INT;joystick\n"
            "wide;W;70000;x;;;-1.5e2;abc;;;;;;uint\nled;;0;3;;;;;;;;;;RAW\n"
            "ip;;;;;;;;;;;;;STRING\nflag;;;;;;;;;;;;;BE_BOOLEAN\nu;;;;;;;;;;;;;BE_UINT\n");
        put("Applications/app/config/ECOutputTags.csv",
            "name;label;dataType\nN;L;T\njoy;Dup;UINT\n"
            "boom;Boom;BE_REAL\nboom;Again;REAL\n");
        // The first definition of a name wins, across tables and within one.
        QTest::ignoreMessage(QtWarningMsg, "Database tag joy exists, not appended");
        QTest::ignoreMessage(QtWarningMsg, "Database tag boom exists, not appended");
        TagDatabase db;
        load(db);
        QCOMPARE(db.size(), 7);
        QCOMPARE(db.get("joy")->parent(), &db);
        // Numbers are kept to 16 bits, what is no number reads 0 and type names are
        // case-sensitive. An initial value equal to integer 0 leaves it as it is.
        QCOMPARE(describe(db.get("joy")),
                 "0;Joystick 1;%;3;8;2;3;4;-1000;1000;-700;700;-850;850;int:0");
        QCOMPARE(describe(db.get("wide")), "0;W;;0;4464;0;0;0;-150;0;0;0;0;0;int:0");
        QCOMPARE(describe(db.get("led")), "0;;;8;0;3;0;0;0;0;0;0;0;0;QByteArray:000000");
        QCOMPARE(describe(db.get("ip")), "0;;;7;0;0;0;0;0;0;0;0;0;0;QString:");
        QCOMPARE(describe(db.get("flag")), "0;;;10;0;0;0;0;0;0;0;0;0;0;int:0");
        QCOMPARE(describe(db.get("u")), "0;;;2;0;0;0;0;0;0;0;0;0;0;int:0");
        QCOMPARE(describe(db.get("boom")), "2;Again;;5;0;0;0;0;0;0;0;0;0;0;int:0");
        QCOMPARE(db.get("led")->getRawData(), QByteArray(3, '\0'));
    }

    void processDataAndClear()
    {
        put("Applications/app/../.config/remoteInternalInputTags.csv",
            "name;startByte;byteSize;startBit;bitSize;dataType\nN;S;B;SB;BS;T\n"
            "state;0;1;0;0;UINT\nstop;1;1;0;0;BOOLEAN\nmode;1;1;4;2;UINT\n"
            "counter;2;2;0;0;BE_UINT\njoy;4;2;0;0;INT\nsteps;6;1;0;4;INT\n"
            "tail;9;2;0;0;RAW\nbeyond;30;2;0;0;BE_UINT\nlower;0;1;0;0;uint\n");
        put("Applications/app/config/ECOutputTags.csv",
            "n;startByte;byteSize;dataType\n\nout;0;1;UINT\n");
        TagDatabase db;
        load(db);
        QVector<QSharedPointer<QSignalSpy>> spies;
        for (int i = 0; i < db.size(); ++i)
            spies.append(QSharedPointer<QSignalSpy>::create(db.at(i), &Tag::valueUpdated));
        const auto changed = [&] {
            QStringList names;
            for (int i = 0; i < spies.size(); ++i)
                if (spies.at(i)->count())
                    names.append(db.at(i)->getTag());
            for (const auto& spy : spies)
                spy->clear();
            return names;
        };
        const QRegularExpression typeError("^setTagValue - type error for lower ");

        // What lies after the frame in memory is not the frame's.
        const QByteArray memory = QByteArray::fromHex("0221010218fc0e000009aaaa");
        QByteArray frame = QByteArray::fromRawData(memory.constData(), 10);
        QTest::ignoreMessage(QtWarningMsg, typeError);
        db.processProsessData(frame);
        QCOMPARE(changed(),
                 QStringList({ "state", "stop", "mode", "counter", "joy", "steps", "tail" }));
        QStringList values;
        for (const char* name : { "state", "stop", "mode", "counter", "joy", "steps" })
            values << db.get(name)->getValue().toString();
        QCOMPARE(values, QStringList({ "2", "true", "2", "258", "-1000", "-2" }));
        // A frame shorter than a tag: the missing bytes read as 0.
        QCOMPARE(db.get("tail")->getRawData(), QByteArray::fromHex("0900"));
        QCOMPARE(db.get("beyond")->getRawData(), QByteArray(2, '\0'));
        // Tags of other links are not fed, even where the frame covers their bytes.
        QCOMPARE(db.get("out")->getRawData(), QByteArray());

        db.processProsessData(frame);
        QCOMPARE(changed(), QStringList());
        frame[1] = 0x20; // the stop bit only; the mode bits stay
        db.processProsessData(frame);
        QCOMPARE(changed(), QStringList { "stop" });
        QTest::ignoreMessage(QtWarningMsg, typeError);
        db.processProsessData(QByteArray());
        QCOMPARE(db.get("tail")->getRawData(), QByteArray(2, '\0'));

        QSignalSpy spy(db.get("out"), &Tag::valueUpdated);
        db.setValueSlot(QStringLiteral("out"), 65535);
        db.setValueSlot(QStringLiteral("no_such_tag"), 3);
        QCOMPARE(db.get("out")->getValue(), QVariant(65535));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(db.get("STATE"), nullptr);
        QTest::ignoreMessage(QtWarningMsg,
                             "TagDatabase: index is out of range, index = 10 size = 10");
        QCOMPARE(db.at(10), nullptr);

        // Tags appended later are found and fed; after clear() no frame reaches a disposed one.
        spies.clear();
        db.clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(db.get("state"), nullptr);
        db.processProsessData(frame);
        auto* late = new Tag("late", &db);
        configure(*late, TDBT_UINT, 1);
        late->setStartByte(5);
        late->setHostLink(Tag::RIIT);
        QVERIFY(db.append(late));
        QCOMPARE(db.get("late"), late);
        db.processProsessData(QByteArray::fromHex("000000000009"));
        QCOMPARE(late->getValue(), QVariant(9u));
    }
    void discoveryAndUsers()
    {
        install("crane", "crane_ui", "controlSystem");
        put("Applications/crane/config/keys.csv",
            "norvik_config_key;value;label;scale\nK;V;L;S\n"
            "BUID;77;Other Base Unit\nAJS1;1190;Joystick 1;0.5\n");
        put("Applications/crane/config/users.csv",
            "user_key;firstName;lastName;password;color\nK;F;L;P;C\n"
            "op01;Anna;Berg;1234;#1E88E5\nsvc01;Sven;Lind;S3rvice;\n");
        install("crane_copy", "crane_ui", "controlSystem"); // same executable again
        install("diag", "diag_ui", "utility");
        put("Applications/diag/config/users.csv",
            "user_key;firstName;lastName;password;color\nK;F;L;P;C\n"
            "op01;Annika;Bergman;pw;#FFFFFF\nop09;Anna;Berg;;\n");
        QVERIFY(QDir(apps()).mkpath("a_no_manifest/config"));
        install("b_no_executable", "run", "x");
        QVERIFY(QFile::remove(apps() + "/b_no_executable/run"));
        install("c_no_app_csv", "run", "x");
        QVERIFY(QFile::remove(apps() + "/c_no_app_csv/config/app.csv"));
        QVERIFY(QFile::link(apps() + "/crane", apps() + "/e_link"));
        put("Applications/f_file", "not a directory");
        expectWarning("No manifest.csv found in a_no_manifest");
        expectWarning("No executable in " + apps() + "/b_no_executable");
        expectWarning("No app.csv in " + apps() + "/c_no_app_csv /config/");
        // The key table repeats a configuration key: the configuration table wins.
        expectWarning("Database tag BUID exists, not appended");
        expectWarning("App: could not load config file: " + apps() + "/crane_copy/config/keys.csv");
        expectWarning("App: could not load config file: " + apps() + "/diag/config/keys.csv");
        useApp(apps() + "/crane");
        AppDatabase db;
        db.prePopulate();
        QCOMPARE(executables(db), (QStringList { "crane_ui", "crane_ui", "diag_ui" }));
        QCOMPARE(db.getApplicationsDirectory().absolutePath(), apps());
        App* crane = db.getThisApp();
        QCOMPARE(crane, db.toList().at(0));
        App* copy = qobject_cast<App*>(db.at(1));
        App* diag = qobject_cast<App*>(db.at(2));
        QCOMPARE(QStringList({ crane->getName(), crane->getType(), crane->getVersion(),
                               crane->getIconPath() }),
                 QStringList({ "crane", "controlSystem", "1.4.2", apps() + "/crane/icon.png" }));
        QCOMPARE(crane->getConfig("BUID")->getValue(), QStringLiteral("39"));
        QCOMPARE(crane->getConfig("AJS1")->getField("scale"), QStringLiteral("0.5"));
        QCOMPARE(crane->getKeyFile()->getValue("BUID", "value"), QStringLiteral("77"));
        QCOMPARE(copy->getKeyFile(), nullptr);
        QVERIFY(!crane->hasPassword());

        expectWarning("UserDatabase initiate: couldn't find the file " + apps()
                      + "/crane_copy/config/users.csv");
        UserDatabase users(&db);
        QCOMPARE(users.size(), 3);
        // One user across applications: named by the first table, one password per application.
        User* anna = qobject_cast<User*>(users.at(0));
        QCOMPARE(anna->getTag() + anna->getFirstName() + anna->getColor(), "op01Anna#1E88E5");
        QCOMPARE(anna->getPasswords(), (QVector<QString> { "1234", "pw" }));
        QVERIFY(anna->hasAccessToApplication(crane) && anna->hasAccessToApplication(diag));
        QVERIFY(!anna->hasAccessToApplication(copy));
        User* other = qobject_cast<User*>(users.at(2));
        QVERIFY(!other->hasAnyPassword() && other->isPasswordCorrect(diag, ""));
        QVERIFY(users.getUser("svc01")->isPasswordCorrect(crane, "S3rvice"));
        QVERIFY(!users.getUser("svc01")->isPasswordCorrect(crane, "s3rvice"));
        QVERIFY(!anna->isPasswordCorrect(diag, "1234"));
        QCOMPARE(users.getUserByName("Anna", "Berg"), (QVector<User*> { anna, other }));

        // A rescan keeps the objects that users and the facade still refer to.
        QPointer<App> gone = diag;
        QVERIFY(QDir(apps() + "/diag").removeRecursively());
        expectWarning("No manifest.csv found in a_no_manifest");
        expectWarning("No executable in " + apps() + "/b_no_executable");
        expectWarning("No app.csv in " + apps() + "/c_no_app_csv /config/");
        db.prePopulate();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(db.getThisApp(), crane);
        QCOMPARE(executables(db), (QStringList { "crane_ui", "crane_ui" }));
        QVERIFY(!gone.isNull());
        QVERIFY(anna->hasAccessToApplication(gone));
    }

    void desktopFallback()
    {
        QTemporaryDir dir;
        useApp(dir.path() + "//");
        expectWarning("No parent directory \"Applications\", assuming this is running "
                      "application on Desktop.");
        expectWarning("App: could not load config file: " + dir.path() + "/config/app.csv");
        expectWarning("App: could not load config file: " + dir.path() + "/config/keys.csv");
        AppDatabase db;
        db.prePopulate();
        QCOMPARE(db.size(), 1);
        App* self = db.getThisApp();
        QCOMPARE(self->getExecutableName(), QCoreApplication::applicationName());
        QCOMPARE(self->getDirectory(), dir.path());
        QCOMPARE(self->getConfigFile(), nullptr);

        useApp(dir.path() + "/gone");
        expectWarning("Unable to find the current application directory.");
        db.prePopulate();
        QCOMPARE(db.size(), 0);

        // Paths below the sysroot and the application folder, trailing slashes or not.
        qputenv("NORVIK_SYSROOT", "/tmp/root//");
        useApp("/opt/remote/");
        QCOMPARE(PlatformPaths::systemPath("/etc/ruid") + PlatformPaths::appPath("/config"),
                 QString("/tmp/root/etc/ruid/opt/remote/config"));
        qputenv("NORVIK_SYSROOT", "/");
        qunsetenv("NORVIK_APP_DIR");
        QCOMPARE(PlatformPaths::systemPath("/etc/ruid") + PlatformPaths::appPath("/config"),
                 "/etc/ruid" + QCoreApplication::applicationDirPath() + "/config");
    }
};

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"
