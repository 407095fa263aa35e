// The process-data service with the sample installation's tags: the status
// frame it sends every 500 ms and the input frames it hands to the tag database.
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

class tst_ProcessData : public QObject
{
    Q_OBJECT

    std::unique_ptr<CraneSetup> m_crane; // fresh for every test function
    SampleInstall* m_sample = nullptr;
    TagDatabase* m_tags = nullptr;

    QVariantList inputs() const
    {
        return { value("state"), value("joystick_01"), value("switch_03") };
    }
    QVariant value(const char* tag) const { return m_tags->get(tag)->getValue(); }

private slots:
    void init()
    {
        m_crane = std::make_unique<CraneSetup>();
        QVERIFY(m_crane->setUp(QStringLiteral("127.0.0.1")));
        m_sample = &m_crane->install;
        m_tags = m_crane->tags.get();
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

QTEST_GUILESS_MAIN(tst_ProcessData)
#include "tst_processdata.moc"
