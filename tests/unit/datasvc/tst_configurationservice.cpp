// The configuration service driven packet by packet: the parameter walk with
// its values and version texts, and the answers to the internal processor's
// requests from the application's tables.
#include "app.h"
#include "configurationservice.h"
#include "datasvcfixture.h"

#include <QtTest>

class tst_ConfigurationService : public SampleTagsTest
{
    Q_OBJECT

private:
    // The payloads of the service's emissions of one class.
    static QList<QByteArray> sent(const QSignalSpy& spy, quint8 messageClass)
    {
        QList<QByteArray> out;
        for (const QList<QVariant>& args : spy) {
            if (args.at(3).toUInt() == messageClass) {
                out.append(args.at(0).toByteArray());
                [&] {
                    QCOMPARE(args.at(1).value<Link>(), Internal);
                    QCOMPARE(args.at(2).toUInt(), 2u);
                }();
            }
        }
        return out;
    }

    App* app(const QString& name) { return new App(name + "_ui", m_sample->appDir(name), this); }

private slots:
    void walkStoresEachValue_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("tagName");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QVariant>("expected");
        const QByteArray example = QByteArray::fromHex("07010401");
        QTest::newRow("RCSR version text") << "RCSR"
                                           << "rc_sw_rev" << example << QVariant("1.4");
        QTest::newRow("ECSR version text with b0") << "ECSR"
                                                   << "ec_sw_rev" << example << QVariant("1.4.7");
        QTest::newRow("HWRV version text")
            << "HWRV"
            << "hw_rev" << QByteArray::fromHex("FF000C02") << QVariant("2.12");
        QTest::newRow("HWID unsigned") << "HWID"
                                       << "hw_id" << example << QVariant(17039623u);
        QTest::newRow("IENC last entry")
            << "IENC"
            << "encoder_id" << QByteArray::fromHex("2A000000") << QVariant(42u);
        QTest::newRow("extra bytes ignored")
            << "IRTY"
            << "clink_radio_type" << QByteArray::fromHex("05000000AABB") << QVariant(5u);
        QTest::newRow("no-value marker")
            << "RUID"
            << "ru_id" << QByteArray::fromHex("FFFFFFFF") << QVariant(0u);
        QTest::newRow("short answer")
            << "IJS1"
            << "joystick_01_id" << QByteArray::fromHex("0701") << QVariant(0u);
        QTest::newRow("empty answer") << "IEF8"
                                      << "switch_08_id" << QByteArray() << QVariant(0u);
    }
    void walkStoresEachValue()
    {
        QFETCH(QString, key);
        QFETCH(QString, tagName);
        QFETCH(QByteArray, answer);
        QFETCH(QVariant, expected);

        ConfigurationService service(m_tags);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        QSignalSpy updated(m_tags->get(tagName), &Tag::valueUpdated);
        service.requestConfigurationParameters();
        // Every other parameter has no value; the one under test gets `answer`.
        for (int i = 0; i < configurationWalkOrder().size(); ++i) {
            QCOMPARE(sent(spy, 2).size(), i + 1);
            if (configurationWalkOrder().at(i) == key.toLatin1()) {
                if (answer.size() < 4)
                    QTest::ignoreMessage(
                        QtWarningMsg,
                        qPrintable(QStringLiteral("ConfigurationService: answer of %1 bytes for %2 "
                                                  "is too short, %3 left unchanged")
                                       .arg(answer.size())
                                       .arg(key, tagName)));
                service.readData(answer, Internal, 3);
            } else {
                service.readData(QByteArray(4, '\xFF'), Internal, 3);
            }
        }
        QCOMPARE(sent(spy, 2).size(), 19); // the walk went on after the answer under test
        QCOMPARE(m_tags->get(tagName)->getValue(), expected);
        QCOMPARE(updated.count(), expected == QVariant(0u) ? 0 : 1);
        QCOMPARE(sent(spy, 3).size(), 0);
    }

    void walkLifecycle()
    {
        ConfigurationService service(m_tags);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        Tag* rc = m_tags->get("rc_sw_rev");
        Tag* ru = m_tags->get("ru_id");

        // An answer before any walk, and a class-1 packet, change nothing.
        service.readData(QByteArray::fromHex("00000401"), Internal, 3);
        service.readData(QByteArray::fromHex("00000401"), Internal, 1);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(rc->getValue().toString(), QString());

        // Exactly one request outstanding, in table order, then the end.
        service.requestConfigurationParameters();
        for (int i = 0; i < 19; ++i) {
            QCOMPARE(spy.count(), i + 1);
            QCOMPARE(spy.last().at(0).toByteArray(), configurationWalkOrder().at(i));
            QCOMPARE(spy.last().at(3).toUInt(), 2u);
            service.readData(QByteArray::fromHex("01000000"), Internal, 3);
        }
        QCOMPARE(spy.count(), 19);
        QCOMPARE(ru->getValue(), QVariant(1u));
        QCOMPARE(rc->getValue(), QVariant("0.0"));
        service.readData(QByteArray::fromHex("09000000"), Internal, 3); // after the end: ignored
        QCOMPARE(spy.count(), 19);
        QCOMPARE(m_tags->get("encoder_id")->getValue(), QVariant(1u));

        // A walk restarted halfway begins again at the first entry.
        spy.clear();
        service.requestConfigurationParameters();
        for (int i = 0; i < 4; ++i)
            service.readData(QByteArray(4, '\xFF'), Internal, 3);
        QCOMPARE(spy.last().at(0).toByteArray(), QByteArray("RUID"));
        service.requestConfigurationParameters();
        QCOMPARE(spy.last().at(0).toByteArray(), QByteArray("RCSR"));
        service.readData(QByteArray::fromHex("00000503"), Internal, 3);
        QCOMPARE(rc->getValue(), QVariant("3.5"));
        QCOMPARE(spy.last().at(0).toByteArray(), QByteArray("ECSR"));
        QCOMPARE(spy.count(), 7);
    }

    void walkWithoutTags()
    {
        // Missing tags leave nothing to store, but the walk still completes.
        TagDatabase empty;
        ConfigurationService service(&empty);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        service.requestConfigurationParameters();
        for (int i = 0; i < 25; ++i)
            service.readData(QByteArray::fromHex("07010401"), Internal, 3);
        QCOMPARE(spy.count(), 19);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("application");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("configuration table")
            << "crane" << QByteArray("BUID") << QByteArray::fromHex("27000000");
        QTest::newRow("key table")
            << "crane" << QByteArray("AJS1") << QByteArray::fromHex("A6040000");
        QTest::newRow("value not a number")
            << "crane" << QByteArray("APSR") << QByteArray::fromHex("00000000");
        QTest::newRow("unknown key")
            << "crane" << QByteArray("XXXX") << QByteArray::fromHex("FFFFFFFF");
        QTest::newRow("only the first four bytes")
            << "crane" << QByteArray("BUIDAJS1") << QByteArray::fromHex("27000000");
        QTest::newRow("bytes beyond ASCII")
            << "crane" << QByteArray::fromHex("B5C0FF00") << QByteArray::fromHex("FFFFFFFF");
        QTest::newRow("short request")
            << "crane" << QByteArray("BUI") << QByteArray::fromHex("FFFFFFFF");
        QTest::newRow("empty request")
            << "crane" << QByteArray() << QByteArray::fromHex("FFFFFFFF");
        QTest::newRow("key table wins")
            << "twice" << QByteArray("BOTH") << QByteArray::fromHex("06000000");
        QTest::newRow("large value")
            << "twice" << QByteArray("HIGH") << QByteArray::fromHex("FEFFFFFF");
        QTest::newRow("beyond 32 bits")
            << "twice" << QByteArray("OVER") << QByteArray::fromHex("00000000");
    }
    void answers()
    {
        QFETCH(QString, application);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        const QByteArray header = "norvik_config_key;value;label\nKey;Value;Label\n";
        QVERIFY(m_sample->writeFile("Applications/twice/config/app.csv",
                                    header + "BOTH;5;x\nHIGH;4294967294;x\nOVER;4294967296;x\n"));
        QVERIFY(m_sample->writeFile("Applications/twice/config/keys.csv", header + "BOTH;6;x\n"));

        ConfigurationService service(m_tags);
        if (application == QLatin1String("twice"))
            QTest::ignoreMessage(QtWarningMsg, "Database tag BOTH exists, not appended");
        service.setConfigurationParameters(app(application));
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        if (request.size() < 4)
            QTest::ignoreMessage(QtWarningMsg,
                                 qPrintable(QStringLiteral("ConfigurationService: request of %1 "
                                                           "bytes has no key, answered without "
                                                           "a value")
                                                .arg(request.size())));
        service.readData(request, Internal, 2);
        // Exactly one answer per request, so the transport's pairing holds.
        QCOMPARE(spy.count(), 1);
        QCOMPARE(sent(spy, 3), QList<QByteArray>({ answer }));
    }

    void applicationTables()
    {
        ConfigurationService service(m_tags);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        const auto ask = [&](const char* key) {
            spy.clear();
            service.readData(QByteArray(key), Internal, 2);
            return spy.count() == 1 ? spy.at(0).at(0).toByteArray().toHex() : QByteArray("none");
        };
        QCOMPARE(ask("BUID"), QByteArray("ffffffff")); // no tables yet

        QTest::ignoreMessage(QtWarningMsg, "No valid app passed to function.");
        service.setConfigurationParameters(nullptr);
        QCOMPARE(ask("BUID"), QByteArray("ffffffff"));

        service.setConfigurationParameters(app("crane"));
        QCOMPARE(ask("BUID"), QByteArray("27000000"));

        // An application without a configuration table answers from its key table.
        const QByteArray header = "norvik_config_key;value;label\nKey;Value;Label\n";
        QVERIFY(
            m_sample->writeFile("Applications/keysonly/config/keys.csv", header + "AJS1;7;x\n"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("App: could not load config file"));
        App* keysOnly = app("keysonly");
        QTest::ignoreMessage(QtWarningMsg, "File does not exist.");
        QTest::ignoreMessage(QtWarningMsg, "App exists, but has no valid config file.");
        service.setConfigurationParameters(keysOnly);
        QCOMPARE(ask("AJS1"), QByteArray("07000000"));
        // BUID is still in the parameter map, but no table of this application holds it.
        QCOMPARE(ask("BUID"), QByteArray("ffffffff"));

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("App: could not load config file"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("App: could not load config file"));
        App* none = app("nothing");
        QTest::ignoreMessage(QtWarningMsg, "File does not exist.");
        QTest::ignoreMessage(QtWarningMsg, "App exists, but has no valid config file.");
        QTest::ignoreMessage(QtWarningMsg, "File does not exist.");
        QTest::ignoreMessage(QtWarningMsg, "App exists, but has no valid key file.");
        service.setConfigurationParameters(none);
        QCOMPARE(ask("AJS1"), QByteArray("ffffffff"));
        QVERIFY(!service.hasValidConfigurationParameters());
    }
};

QTEST_GUILESS_MAIN(tst_ConfigurationService)
#include "tst_configurationservice.moc"
