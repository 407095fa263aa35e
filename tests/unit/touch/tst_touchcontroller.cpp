// The touch controller on the stand-in of the vendor's library, a simulated
// controller that records what it was told and fails on request.

#include "egalaxsim.h"
#include "linux_touchcontroller.h"
#include "messagelog.h"
#include "tagdatabase.h"

#include <QTimer>
#include <QtTest>

#include <memory>

namespace {
int callsMade()
{
    int calls = 0;
    for (int call = 0; call < EGALAX_CALL_KINDS; ++call)
        calls += egalaxSimCallCount(EgalaxSimCall(call));
    return calls;
}
// "a|b" as the log lines "TouchController<a>", "TouchController<b>"; '#' stands for ": INFO_".
QStringList lines(const QString& texts)
{
    QStringList out = texts.split('|', Qt::SkipEmptyParts);
    for (QString& line : out)
        line = "TouchController" + line.replace("#", ": INFO_");
    return out;
}
} // namespace

class tst_TouchController : public QObject
{
    Q_OBJECT

    std::unique_ptr<TagDatabase> m_tags;
    int tag(const char* name) const { return m_tags->get(name)->getValue().toInt(); }

private slots:
    void init()
    {
        egalaxSimReset();
        m_tags = std::make_unique<TagDatabase>();
        for (const char* name : { "touch_mode", "touch_state" }) {
            m_tags->append(new Tag(name, m_tags.get()));
            m_tags->get(name)->setValue(QVariant(-9)); // written by nobody yet
        }
    }

    // Start-up with one vendor call failing for good (none: OPEN_DEVICE failing 0 times).
    // A failed start leaves the device closed: no call reaches it any more, a mode change
    // publishes -1 and the poll reports nothing. The destructor closes an open device.
    void startUp_data()
    {
        QTest::addColumn<int>("call");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("logged");
        auto row = [](const char* name, int call, int times, const char* logged) {
            QTest::newRow(name) << call << times << QString(logged);
        };
        row("working", 0, 0, " detected: PCAP desk touch panel sim 1.0");
        row("open fails", EGALAX_OPEN_DEVICE, -1, "::OpenDevice failed");
        row("model fails", EGALAX_GET_MODEL_NAME, -1, " - GetDevModelName failed!");
        row("type fails", EGALAX_GET_TYPE_NAME, -1, " - GetDevTypeName failed!");
        row("version fails", EGALAX_GET_VERSION_NAME, -1, " - GetDevVersionName failed!");
    }
    void startUp()
    {
        QFETCH(int, call);
        QFETCH(int, times);
        QFETCH(QString, logged);
        const bool working = times == 0;
        egalaxSimFail(EgalaxSimCall(call), 0, times);
        MessageLog log;
        auto touch = std::make_unique<TouchController>(m_tags.get(), nullptr);
        QCOMPARE(log.messages(true), lines(logged));
        QCOMPARE(tag("touch_mode"), working ? 1 : -9);
        QCOMPARE(egalaxSimLastRestartMode(), call == EGALAX_OPEN_DEVICE && !working ? -1 : 0);
        const int calls = callsMade();
        egalaxSimSetStateWord(0x1000);
        touch->setTouchMode(3);
        touch->checkDeviceState();
        QCOMPARE(tag("touch_mode"), working ? 3 : -1);
        QCOMPARE(tag("touch_state"), working ? 1 : -9);
        QCOMPARE(callsMade() - calls, working ? 3 : 0);
        QCOMPARE(touch->touchMode(), working ? 3 : -1);
        touch.reset();
        QCOMPARE(egalaxSimIsOpen(), 0);
    }

    void missingTags()
    {
        TagDatabase none;
        MessageLog log;
        TouchController(&none, nullptr).setTouchMode(2);
        QCOMPARE(log.messages(),
                 QStringList({ "Missing tag \"touch_mode\"", "Missing tag \"touch_state\"" }));
    }

    // From mode `from`, setTouchMode(mode) with `after` calls of kind `fail`
    // succeeding and the next `times` failing (0: none): "touch_mode", the
    // controller's touch state and finger/glove byte, the calls made and the
    // critical messages. Without failures the mode then holds and reads back.
    void modes_data()
    {
        // v: from, mode, fail, after, times, result, touch, glove, calls
        QTest::addColumn<QVector<int>>("v");
        QTest::addColumn<QString>("logged");
        const int none = 0, get = EGALAX_GET_TOUCH_STATE, set = EGALAX_SET_TOUCH_STATE,
                  glove = EGALAX_WRITE_FINGER_GLOVE;
        const QString getFails = " - PCAPGetTouchState failed!",
                      offFails = " - PCAPSetTouchState(0) failed!";
        auto row = [](const char* name, QVector<int> v, QString logged) {
            QTest::newRow(name) << v << logged;
        };
        row("finger to off", { 1, 0, none, 0, 0, 0, 0, 0xFF, 4 }, "");
        row("finger to finger", { 1, 1, none, 0, 0, 1, 1, 0, 2 }, "");
        row("off to glove", { 0, 2, none, 0, 0, 2, 1, 1, 4 }, "");
        row("glove to water rejection off", { 2, 3, none, 0, 0, 3, 1, 2, 2 }, "");
        row("negative", { 1, -5, none, 0, 0, -1, 1, 0, 0 }, "");
        row("first read fails", { 1, 0, get, 0, 1, 0, 0, 0xFF, 4 }, getFails);
        row("every read fails", { 1, 0, get, 0, -1, -1, 0, 0, 3 }, getFails + "|" + offFails);
        row("read-back fails", { 1, 0, get, 1, 1, -1, 0, 0, 3 }, offFails);
        row("touch write fails", { 1, 0, set, 0, 1, -1, 1, 0, 2 }, offFails);
        row("glove write fails", { 1, 2, glove, 0, 1, -1, 1, 0, 2 },
            " - SET FingerGloveMode(1) failed!");
        row("0xFF refused", { 1, 0, glove, 0, 1, -1, 0, 0, 4 },
            " - SET FingerGloveMode(-1) failed!");
    }
    void modes()
    {
        QFETCH(QVector<int>, v);
        QFETCH(QString, logged);
        const int from = v[0], mode = v[1];
        const auto fail = EgalaxSimCall(v[2]);
        TouchController touch(m_tags.get(), nullptr);
        touch.setTouchMode(from);
        const int calls = callsMade();
        egalaxSimFail(fail, v[3], v[4]);
        MessageLog log;
        touch.setTouchMode(mode);
        const QVector<int> seen { tag("touch_mode"), egalaxSimTouchState(), egalaxSimFingerGlove(),
                                  callsMade() - calls };
        QCOMPARE(seen, v.mid(5));
        QCOMPARE(log.messages(), lines(logged));
        egalaxSimFail(fail, 0, 0);
        touch.setTouchMode(mode);
        QCOMPARE(tag("touch_mode"), qMax(mode, -1));
        QCOMPARE(touch.touchMode(), mode < 0 ? from : mode);
    }

    // Successive state words, one poll each ("!": that read fails): the lines
    // logged and "touch_state".
    void statePoll_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<int>("state");
        auto row = [](const char* name, const char* words, const char* logged, int state) {
            QTest::newRow(name) << QString(words) << QString(logged) << state;
        };
        row("water, software", "0x1800 0x1800", "#WATER_DISABLE_TOUCH|#SW_DISABLE_TOUCH", 1);
        row("all and unknown", "0x80609E01",
            "#STRAY_CONFIDENCE|#EXT_DISABLE_TOUCH|#WATER_DISABLE_TOUCH|#SW_DISABLE_TOUCH|"
            "#STRAY_INVALID|#NOISE_CONDITION|#WATER_CONDITION",
            1);
        row("external, water", "0xC00", "#EXT_DISABLE_TOUCH|#WATER_DISABLE_TOUCH", 2);
        row("external, normal", "0x400 0", "#EXT_DISABLE_TOUCH|#NORMAL_STATE", 0);
        row("external, noise", "0x400 0x200000", "#EXT_DISABLE_TOUCH|#NOISE_CONDITION", 0);
        row("nothing to tell", "0 0x1 0x1", "", 0);
        row("failed reads", "!0x800 0x800 !0", "#WATER_DISABLE_TOUCH", 2);
    }
    void statePoll()
    {
        QFETCH(QString, words);
        QFETCH(QString, logged);
        TouchController touch(m_tags.get(), nullptr);
        MessageLog log;
        for (QString word : words.split(' ')) {
            egalaxSimFail(EGALAX_GET_STATE_INFO, 0, word.startsWith('!') ? 1 : 0);
            egalaxSimSetStateWord(word.remove('!').toUInt(nullptr, 0));
            touch.checkDeviceState();
        }
        QCOMPARE(log.messages(true), lines(logged));
        QTEST(tag("touch_state"), "state");
    }

    void pollsOnItsTimer()
    {
        TouchController touch(m_tags.get(), nullptr);
        auto* poll = touch.findChild<QTimer*>("touchStatePoll");
        QVERIFY(poll && poll->isActive() && poll->interval() == 1000);
        poll->setInterval(10);
        egalaxSimSetStateWord(0x1000);
        QTRY_COMPARE(tag("touch_state"), 1);
    }
};

QTEST_GUILESS_MAIN(tst_TouchController)
#include "tst_touchcontroller.moc"
