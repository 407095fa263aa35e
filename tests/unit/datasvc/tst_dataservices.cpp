// The data services driven packet by packet with the sample installation's tags. The
// configuration service: the parameter walk with its values, version texts and pairing
// of answers to requests, and the answers to the internal processor's requests from the
// application's tables. The process-data service: the status frame it sends every
// 500 ms and the input frames it hands to the tag database.
#include "app.h"
#include "configurationservice.h"
#include "cranesetup.h"
#include "processdata.h"
#include "wiretrace.h"

#include <QtTest>

namespace {
// clang-format off
const struct Field { const char* name; tagDataType type; int size; QVariant value; const char* hex; } fields[] = {
    { "UINT 1 keeps the low byte", TDBT_UINT, 1, 0x1C8u, "c8" },
    { "UINT 4", TDBT_UINT, 4, 0x01020304u, "04030201" },
    { "UINT 4 above the signed range", TDBT_UINT, 4, quint64(0xFFFFFFFEu), "feffffff" },
    { "INT 2 holding -2", TDBT_INT, 2, -2, "feff" },
    { "INT 4 holding -100000", TDBT_INT, 4, -100000, "6079feff" },
    { "RAW as it stands", TDBT_RAW, 3, QByteArray::fromHex("0A0B0C"), "0a0b0c" },
    { "misconfigured: INT of 3 bytes", TDBT_INT, 3, 5, "000000" },
    { "misconfigured: UINT of 8 bytes", TDBT_UINT, 8, 5u, "0000000000000000" },
    { "misconfigured: REAL", TDBT_REAL, 4, 1.5, "00000000" },
};
// clang-format on
} // namespace

class tst_DataServices : public QObject
{
    Q_OBJECT

    std::unique_ptr<CraneSetup> m_crane; // fresh for every test function
    SampleInstall* m_sample = nullptr;
    TagDatabase* m_tags = nullptr;

private:
    // The keys the service asked for so far (class-2 emissions).
    static QList<QByteArray> requests(const QSignalSpy& spy)
    {
        QList<QByteArray> out;
        for (const QList<QVariant>& args : spy)
            if (args.at(3).toUInt() == 2 && args.at(2).toUInt() == 2)
                out.append(args.at(0).toByteArray());
        return out;
    }
    QVariantList inputs() const
    {
        return { value("state"), value("joystick_01"), value("switch_03") };
    }
    QVariant value(const char* tag) const { return m_tags->get(tag)->getValue(); }
    App* app(const QString& name) { return new App(name + "_ui", m_sample->appDir(name), this); }

private slots:
    void init()
    {
        m_crane = std::make_unique<CraneSetup>();
        QVERIFY(m_crane->setUp(QStringLiteral("127.0.0.1")));
        m_sample = &m_crane->install;
        m_tags = m_crane->tags.get();
    }
    void walkStoresEachValueInItsTag()
    {
        const QMap<QByteArray, QByteArray> answers = {
            { "RCSR", QByteArray::fromHex("07010401") },
            { "ECSR", QByteArray::fromHex("07010401") },
            { "HWRV", QByteArray::fromHex("FF000C02") },
            { "HWID", QByteArray::fromHex("07010401") },
            { "RUID", QByteArray::fromHex("FFFFFFFF") }, // no value: the tag stays
            { "IRTY", QByteArray::fromHex("05000000AABB") }, // bytes after the fourth ignored
            { "IJS1", QByteArray::fromHex("0701") }, // too short: the tag stays
            { "IENC", QByteArray::fromHex("2A000000") },
        };
        ConfigurationService service(m_tags);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        service.readData(QByteArray::fromHex("09000000"), Internal, 3); // before any walk
        QCOMPARE(spy.count(), 0);

        service.requestConfigurationParameters();
        for (int i = 0; i < configurationWalkOrder().size(); ++i) {
            // Exactly one request outstanding, in table order.
            QCOMPARE(requests(spy), configurationWalkOrder().mid(0, i + 1));
            const QByteArray key = configurationWalkOrder().at(i);
            if (key == "IJS1")
                QTest::ignoreMessage(QtWarningMsg,
                                     "ConfigurationService: answer of 2 bytes for IJS1 is too "
                                     "short, joystick_01_id left unchanged");
            service.readData(answers.value(key, QByteArray::fromHex("03000000")), Internal, 3);
        }
        service.readData(QByteArray::fromHex("09000000"), Internal, 3); // after the end
        QCOMPARE(spy.count(), 19);
        QVariantList values;
        for (const char* tag :
             { "rc_sw_rev", "ec_sw_rev", "hw_rev", "hw_id", "ru_id", "clink_radio_type",
               "joystick_01_id", "joystick_02_id", "encoder_id" })
            values << value(tag);
        QCOMPARE(values, (QVariantList { "1.4", "1.4.7", "2.12", 17039623u, 0u, 5u, 0u, 3u, 42u }));
    }

    void answersPairWithTheirRequests()
    {
        ConfigurationService service(m_tags);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        service.requestConfigurationParameters();
        for (int i = 0; i < 4; ++i)
            service.readData(QByteArray(4, '\xFF'), Internal, 3);
        QCOMPARE(requests(spy).last(), QByteArray("RUID"));

        // Restarted while RUID is out: its answer still goes to "ru_id", and
        // only then does the new walk begin.
        service.requestConfigurationParameters();
        service.requestConfigurationParameters();
        QCOMPARE(requests(spy).size(), 5);
        service.readData(QByteArray::fromHex("34120000"), Internal, 3);
        QCOMPARE(value("ru_id"), QVariant(0x1234u));
        QCOMPARE(value("rc_sw_rev"), QVariant(QString()));
        QCOMPARE(requests(spy).last(), QByteArray("RCSR"));
        service.readData(QByteArray::fromHex("00000503"), Internal, 3);
        QCOMPARE(value("rc_sw_rev"), QVariant("3.5"));
        QCOMPARE(requests(spy).last(), QByteArray("ECSR"));

        // A link failure loses the outstanding request: a stray answer is not
        // taken for it, and the walk starts again when the link is back.
        service.internalLinkRestored(); // nothing was interrupted yet
        QCOMPARE(requests(spy).size(), 7);
        QTest::ignoreMessage(QtWarningMsg,
                             "ConfigurationService: internal link failed during the configuration "
                             "walk, it starts again when the link is back");
        service.internalLinkFailed();
        service.readData(QByteArray::fromHex("00000909"), Internal, 3);
        QCOMPARE(value("ec_sw_rev"), QVariant(QString()));
        QCOMPARE(requests(spy).size(), 7);
        service.internalLinkRestored();
        QCOMPARE(requests(spy).last(), QByteArray("RCSR"));
        service.internalLinkRestored(); // once only
        QCOMPARE(requests(spy).size(), 8);

        // Without tags the walk still runs to its end.
        TagDatabase empty;
        ConfigurationService bare(&empty);
        QSignalSpy bareSpy(&bare, &ServiceBase::readyReadFromService);
        bare.requestConfigurationParameters();
        for (int i = 0; i < 25; ++i)
            bare.readData(QByteArray::fromHex("07010401"), Internal, 3);
        QCOMPARE(bareSpy.count(), 19);
    }

    void answersToRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("configuration table")
            << QByteArray("BUID") << QByteArray::fromHex("27000000");
        QTest::newRow("key table") << QByteArray("AJS1") << QByteArray::fromHex("A6040000");
        QTest::newRow("value not a number")
            << QByteArray("APSR") << QByteArray::fromHex("00000000");
        QTest::newRow("unknown key") << QByteArray("XXXX") << QByteArray::fromHex("FFFFFFFF");
        QTest::newRow("first four bytes")
            << QByteArray("BUIDAJS1") << QByteArray::fromHex("27000000");
        QTest::newRow("short request") << QByteArray("BUI") << QByteArray::fromHex("FFFFFFFF");
        QTest::newRow("key table wins") << QByteArray("BOTH") << QByteArray::fromHex("06000000");
        QTest::newRow("large value") << QByteArray("HIGH") << QByteArray::fromHex("FEFFFFFF");
    }
    void answersToRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QVERIFY(m_sample->writeFile("Applications/crane/config/keys.csv",
                                    "norvik_config_key;value;label\nKey;Value;Label\n"
                                    "AJS1;1190;x\nBOTH;6;x\n"));
        QVERIFY(m_sample->writeFile("Applications/crane/config/app.csv",
                                    "norvik_config_key;value;label\nKey;Value;Label\n"
                                    "BUID;39;x\nAPSR;0.1.0;x\nBOTH;5;x\nHIGH;4294967294;x\n"));
        ConfigurationService service(m_tags);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        const QByteArray before = "BUID";
        service.readData(before, Internal, 2); // no tables yet
        QTest::ignoreMessage(QtWarningMsg, "Database tag BOTH exists, not appended");
        service.setConfigurationParameters(app("crane"));
        if (request.size() < 4)
            QTest::ignoreMessage(
                QtWarningMsg,
                "ConfigurationService: request of 3 bytes has no key, answered without a value");
        service.readData(request, Internal, 2);
        // Exactly one class-3 answer per request, so the transport's pairing holds.
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray::fromHex("FFFFFFFF"));
        QCOMPARE(spy.at(1).at(0).toByteArray(), answer);
        QCOMPARE(spy.at(1).at(3).toUInt(), 3u);
    }

    void missingTables()
    {
        ConfigurationService service(m_tags);
        QSignalSpy spy(&service, &ServiceBase::readyReadFromService);
        QTest::ignoreMessage(QtWarningMsg, "No valid app passed to function.");
        service.setConfigurationParameters(nullptr);
        service.setConfigurationParameters(app("crane"));

        // Only the key table: BUID stays in the map but no table holds it now.
        QVERIFY(m_sample->writeFile("Applications/keysonly/config/keys.csv",
                                    "norvik_config_key;value;label\nKey;Value;Label\nAJS1;7;x\n"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("App: could not load config file"));
        App* keysOnly = app("keysonly");
        QTest::ignoreMessage(QtWarningMsg, "File does not exist.");
        QTest::ignoreMessage(QtWarningMsg, "App exists, but has no valid config file.");
        service.setConfigurationParameters(keysOnly);
        service.readData("AJS1", Internal, 2);
        service.readData("BUID", Internal, 2);
        QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray::fromHex("07000000"));
        QCOMPARE(spy.at(1).at(0).toByteArray(), QByteArray::fromHex("FFFFFFFF"));
    }

    // The signal strength's field takes each encoding in turn; the fields
    // after it keep their place.
    void statusFrame_data()
    {
        QTest::addColumn<int>("field");
        for (int i = 0; i < int(std::size(fields)); ++i)
            QTest::newRow(fields[i].name) << i;
    }
    void statusFrame()
    {
        QFETCH(int, field);
        const Field& f = fields[field];
        Tag* rssi = m_tags->get("g_link_rssi");
        rssi->setDataType(f.type);
        rssi->setByteSize(quint16(f.size));
        if (QByteArray(f.name).startsWith("misconfigured"))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("rssi.*cannot be encoded"));
        QElapsedTimer clock;
        clock.start();
        ProcessData service(m_tags);
        WireTrace trace(&service);
        // clang-format off
        const QVariantMap values = { { "ru_identity", 258u }, { "rc_state", 3u }, { "g_link_status", 7u }, { "g_link_rssi", f.value },
            { "g_link_cable", 1u }, { "ru_battery", 100u }, { "ru_charge_state", -1 }, { "led_control_1_to_8", QByteArray::fromHex("1122334455667788") } };
        // clang-format on
        for (auto it = values.begin(); it != values.end(); ++it)
            m_tags->get(it.key())->setValue(it.value());
        QTRY_VERIFY(!trace.log.isEmpty()); // the first tick
        QVERIFY2(clock.elapsed() >= 450, qPrintable(QString::number(clock.elapsed())));
        const QString frame = "tx 1/1:02010307" + QString(f.hex) + "0164ff1122334455667788";
        QCOMPARE(trace.log, QStringList(frame));
    }

    void inputFrames()
    {
        ProcessData service(m_tags);
        WireTrace trace(&service);
        QSignalSpy stateUpdates(m_tags->get("state"), &Tag::valueUpdated);
        QByteArray frame(24, '\0'); // state 2, joystick 1 at -500, switch 3 on
        frame.replace(0, 1, "\x02").replace(8, 2, "\x0C\xFE").replace(16, 1, "\x04");
        service.readData(frame, Internal, 1);
        QCOMPARE(inputs(), QVariantList({ 2u, -500, true }));
        service.readData(frame, Internal, 2); // a request: input like any frame, no answer
        QCOMPARE(stateUpdates.count(), 1); // unchanged, so not updated again
        service.readData(frame.left(9), Internal, 2); // what a short frame lacks reads as zero
        QCOMPARE(inputs(), QVariantList({ 2u, 12, false }));
        service.readData(frame, Internal, 3); // acknowledges one of our frames: no input
        QCOMPARE(inputs(), QVariantList({ 2u, 12, false }));
        QCOMPARE(trace.log, QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_DataServices)
#include "tst_dataservices.moc"
