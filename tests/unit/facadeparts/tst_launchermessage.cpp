// Parsing and building the launcher's text messages.

#include "launchermessage.h"

#include <QtTest>

class tst_LauncherMessage : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void build_data();
    void build();
};

void tst_LauncherMessage::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("warning"); // of hasValidCommand(), empty when valid

    QTest::newRow("command only") << "heartbeat"
                                  << "heartbeat"
                                  << ""
                                  << "";
    QTest::newRow("line feed is whitespace") << "heartbeat 42\n"
                                             << "heartbeat"
                                             << "42"
                                             << "";
    QTest::newRow("inner whitespace of data kept") << "userLoggedInIs  john \t doe \r\n"
                                                   << "userLoggedInIs"
                                                   << "john \t doe"
                                                   << "";
    QTest::newRow("leading whitespace skipped") << " \t notify  x"
                                                << "notify"
                                                << "x"
                                                << "";
    QTest::newRow("path data") << "appStart apps/demo/demo"
                               << "appStart"
                               << "apps/demo/demo"
                               << "";
    QTest::newRow("empty") << ""
                           << ""
                           << ""
                           << "launchermessage: Command is missing!";
    QTest::newRow("whitespace only") << " \n"
                                     << ""
                                     << ""
                                     << "launchermessage: Command is missing!";
    QTest::newRow("unknown word") << "reboot now"
                                  << "reboot"
                                  << "now"
                                  << "launchermessage: No valid commands found!";
    QTest::newRow("case matters") << "HeartBeat 1"
                                  << "HeartBeat"
                                  << "1"
                                  << "launchermessage: No valid commands found!";
    QTest::newRow("prefix of a command") << "appStar x"
                                         << "appStar"
                                         << "x"
                                         << "launchermessage: No valid commands found!";
    QTest::newRow("replacement characters")
        << QString::fromUtf8("\xff\xfe") << QString::fromUtf8("\xff\xfe") << ""
        << "launchermessage: No valid commands found!";
}

void tst_LauncherMessage::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, command);
    QFETCH(QString, data);
    QFETCH(QString, warning);

    const LauncherMessage message(text);
    QCOMPARE(message.getCommand(), command);
    QCOMPARE(message.getData(), data);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QCOMPARE(message.hasValidCommand(), warning.isEmpty());
}

void tst_LauncherMessage::build_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("text");

    for (const char* word :
         { "heartbeat", "appStart", "appStartFailed", "appClose", "appCloseAll", "userLogin",
           "userLogOut", "userGetCurrent", "userLoggedInIs", "notify" }) {
        QTest::addRow("%s without data", word) << QString(word) << "" << QString(word);
        QTest::addRow("%s with data", word) << QString(word) << "a b" << QString(word) + " a b";
    }
}

// Every command word is valid, and a built message parses back to itself.
void tst_LauncherMessage::build()
{
    QFETCH(QString, command);
    QFETCH(QString, data);
    QFETCH(QString, text);

    const LauncherMessage built(command, data);
    QVERIFY(built.hasValidCommand());
    QCOMPARE(built.getMessage(), text);
    const LauncherMessage parsed(text);
    QCOMPARE(parsed.getCommand(), command);
    QCOMPARE(parsed.getData(), data);
}

QTEST_GUILESS_MAIN(tst_LauncherMessage)
#include "tst_launchermessage.moc"
