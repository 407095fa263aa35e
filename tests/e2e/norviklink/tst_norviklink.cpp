// A whole remote in one process: the facade the interface creates, on the
// sample installation, against the internal processor stand-in on a
// pseudo-terminal, the base unit on a loopback address of this test, the
// launcher on a private local socket and the machine-stop line as files.
// The scenario runs in order, as a remote's day would; then the facade is
// torn down and brought up again in the ways a remote starts and stops.
#include "app.h"
#include "appdatabase.h"
#include "messagelog.h"
#include "norvik_link.h"
#include "remoteworld.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <memory>

using S = SystemEventService::States;
using Events = SystemEventService::Events;
using namespace remoteworld;

class tst_NorvikLink : public QObject
{
    Q_OBJECT

private:
    StandIns m_world { QStringLiteral("127.0.0.61") };
    NorvikLink* m_link = nullptr;
    QList<S> m_states;

    // A test of its own: whatever an earlier failure left behind goes first.
    void startAfresh()
    {
        delete m_link;
        m_link = nullptr;
        QVERIFY(pressStop(false));
        QTest::qWait(300); // one poll of the button
        start();
    }
    void start()
    {
        m_states.clear();
        m_link = new NorvikLink;
        connect(m_link->systemEventService(), &SystemEventService::stateChanged, this,
                [this](S s) { m_states << s; });
    }
    void expectState(S state)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!m_states.isEmpty() && m_states.last() == state, 5000);
    }
    void setState(uint value)
    {
        QVERIFY(m_world.process.setField(QStringLiteral("state"), value));
        m_world.process.sendFrame();
        QTRY_COMPARE(tag("state")->getValue().toUInt(), value);
    }
    Tag* tag(const char* name) const { return m_link->getTags()->get(QString::fromLatin1(name)); }
    bool launcherGot(const QString& command, const QString& data) const
    {
        return m_world.launcher.commands().contains(qMakePair(command, data));
    }
    bool pressStop(bool pressed) { return writeFile(m_world.stopButton(), pressed ? "0" : "1"); }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("default.info=false");
        QVERIFY(m_world.isValid());
        start();
    }

    void cleanupTestCase() { delete m_link; }

    void resetHandshakeAndAutoSelect()
    {
        // The internal processor starts the handshake; a control system selects by itself.
        m_world.events.sendEvent(Events::RESET);
        expectState(S::SELECTED);
        QCOMPARE(m_states.first(), S::WAITING);
        QTRY_COMPARE(tag("systemEventServiceState")->getValue().toInt(), int(S::SELECTED));
    }

    void identityStartsTheBaseUnitLink()
    {
        QTRY_COMPARE(tag("ru_identity")->getValue().toUInt(), 4660u);
        QTRY_COMPARE(readFile(m_world.sysroot.path() + "/etc/ruid"), QByteArray("4660"));
        QTRY_VERIFY_WITH_TIMEOUT(m_world.baseUnit.isInitialized(), 10000);
        QTRY_COMPARE(tag("g_link_status")->getValue().toUInt(), 1u);
    }

    void stopStatesOfTheInternalProcessor()
    {
        // The internal processor reporting its own stop (4) or failure (5)
        // stops an armed remote too.
        for (uint stopState : { 4u, 5u }) {
            setState(2);
            m_link->arm();
            expectState(S::ARMED_ENABLED);
            setState(stopState);
            expectState(S::STOP);
            expectState(S::SELECTED);
        }
        setState(2);
    }

    void commandsBothWays()
    {
        // Sixteen bytes, zeros included, arrive unchanged both ways.
        const QByteArray command = QByteArray::fromHex("00ff0102037f80fe4c494654000a0d09");
        m_link->sendCmd(command);
        QTRY_VERIFY(!m_world.baseUnit.received(BaseUnitSimulator::CMD).isEmpty());
        QCOMPARE(m_world.baseUnit.received(BaseUnitSimulator::CMD).last().payload, command);

        QSignalSpy text(m_link, &NorvikLink::recvCmd);
        QSignalSpy binary(m_link, &NorvikLink::recvBinaryCmd);
        const QByteArray down
            = QByteArray("down\0", 5) + QByteArray::fromHex("0102030405060708090a0b");
        m_world.baseUnit.sendCommand(down);
        QTRY_COMPARE(text.count(), 1);
        QCOMPARE(text.at(0).at(0).toString(), QStringLiteral("down"));
        QCOMPARE(binary.at(0).at(0).toByteArray(), down);

        QTest::ignoreMessage(QtCriticalMsg, "ERROR: sendCommand invalid data size (17)");
        m_link->sendCmd(QByteArray(17, 'x'));
    }

    void periodicDataReachesTags()
    {
        // Boom angle (REAL, 4 bytes at 0) and hydraulic pressure (UINT, 2 bytes at 4).
        QByteArray frame(14, '\0');
        const float angle = 42.5f;
        memcpy(frame.data(), &angle, 4);
        frame[4] = char(0x2C);
        frame[5] = char(0x01); // 300 bar
        m_world.baseUnit.setPeriodicData(frame);
        m_world.baseUnit.setPeriodicInterval(100);
        QTRY_COMPARE(tag("hydraulic_pressure")->getValue().toUInt(), 300u);
        QTRY_COMPARE(tag("boom_angle")->getValue().toFloat(), 42.5f);
        m_world.baseUnit.setPeriodicInterval(0);
    }

    void launcherCommands()
    {
        QSignalSpy failed(m_link, &NorvikLink::appStartFailed);
        const QString diagnostics = m_world.sample.appDir("diagnostics") + "/diagnostics_ui";
        m_link->startApp(QStringLiteral("diagnostics_ui")); // by the application's tag
        QTRY_VERIFY(launcherGot("appStart", diagnostics));
        m_world.launcher.clearReceived();
        m_link->startApp(diagnostics); // by its path
        QTRY_VERIFY(launcherGot("appStart", diagnostics));

        QTest::ignoreMessage(QtWarningMsg, "The application 'nonsense' doesn't exists.");
        m_link->startApp(QStringLiteral("nonsense"));
        QCOMPARE(failed.count(), 1);

        // A protected application starts only with its own password.
        auto* settings = qobject_cast<App*>(m_link->getApps()->get(QStringLiteral("settings_ui")));
        QVERIFY(settings);
        settings->setPassword(QStringLiteral("4711"));
        m_world.launcher.clearReceived();
        const QRegularExpression refused(QStringLiteral("requires a password"));
        for (const QString& wrong : { QString(), QStringLiteral("4712") }) {
            QTest::ignoreMessage(QtWarningMsg, refused);
            m_link->startApp(QStringLiteral("settings_ui"), wrong);
        }
        QCOMPARE(failed.count(), 3);
        m_link->startApp(QStringLiteral("settings_ui"), QStringLiteral("4711"));
        QTRY_VERIFY(launcherGot("appStart", m_world.sample.appDir("settings") + "/settings_ui"));
        QCOMPARE(m_world.launcher.commands().size(), 1);

        AppDatabase* all = m_link->getApps();
        m_link->userLogin(QStringLiteral("op01"));
        QTRY_VERIFY(launcherGot("userLogin", "op01"));
        QVERIFY(m_link->getApps() != all);
        m_link->userLogOut();
        QTRY_VERIFY(launcherGot("userLogOut", "op01"));
        QCOMPARE(m_link->getApps(), all);

        const int resetsBefore = m_world.events.resetRequests();
        m_link->closeApp();
        QTRY_VERIFY(m_world.launcher.commands().last().first == QStringLiteral("appClose"));
        // Closing a control system also resets the remote-control state.
        QTRY_COMPARE(m_world.events.resetRequests(), resetsBefore + 1);
    }

    void qmlImportsTheStates()
    {
        // What an interface writes in QML, against the facade's registrations.
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQml 2.0\nimport NorvikRemote.Services 1.0\n"
                          "QtObject { property int armed: SystemEvent.ARMED_ENABLED }",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        QCOMPARE(object->property("armed").toInt(), int(S::ARMED_ENABLED));
    }

    void touchMode()
    {
        m_link->setTouchMode(2);
        QCOMPARE(tag("touch_mode")->getValue().toInt(), 2);
    }

    void ledBytes()
    {
        m_link->setLedValue(3, 0x1FF);
        QCOMPARE(m_link->getLedValue(3), 255);
        QCOMPARE(m_link->getLedValue(0), -1);
        QCOMPARE(m_link->getLedValue(9), -1);
    }

    // The facade is destroyed while its threads are busy: the base unit
    // drops the connection, the internal processor keeps sending requests
    // and process data. Nothing may touch what the facade owned afterwards
    // (run under AddressSanitizer to see it).
    void destroyedWhileBusy()
    {
        m_link->getTags()->clear(); // tags gone while the threads still run
        QTest::qWait(50);
        delete m_link;
        m_link = nullptr;
        m_world.process.startSending(5);
        for (int cycle = 0; cycle < 20; ++cycle) {
            start();
            m_world.events.sendEvent(Events::RESET);
            for (int i = 0; i < 5; ++i)
                m_world.parameters.requestParameter("BUID");
            if (cycle % 2) {
                // Connected (or nearly): the base unit cuts the line just before.
                waitFor([this] { return m_world.baseUnit.hasClient(); }, 3000);
                m_world.baseUnit.dropConnection();
            } else {
                QTest::qWait(cycle * 10);
            }
            delete m_link;
            m_link = nullptr;
        }
        m_world.process.stopSending();
        QTest::qWait(100); // late answers of the stand-ins find nobody
    }

    void stopHeldAtPowerOn()
    {
        delete m_link;
        m_link = nullptr;
        QVERIFY(pressStop(true));
        QLoggingCategory::setFilterRules("default.info=true");
        MessageLog log; // the state machine logs each event it handles
        const int stopsBefore = m_world.baseUnit.receivedCount(BaseUnitSimulator::E_STOP);
        start();
        QSignalSpy pressed(m_link, &NorvikLink::stopPressed);
        QSignalSpy released(m_link, &NorvikLink::stopReleased);
        // The state machine hears of it at once, the interface at its first turn.
        QTRY_VERIFY(log.messages(true).contains("System Event: STOP_TRIGGERED"));
        QTRY_COMPARE(pressed.count(), 1);
        QLoggingCategory::setFilterRules("default.info=false");

        // The base unit gets it as soon as its link is up.
        m_world.events.sendEvent(Events::RESET);
        QTRY_VERIFY_WITH_TIMEOUT(
            m_world.baseUnit.receivedCount(BaseUnitSimulator::E_STOP) > stopsBefore, 10000);
        QVERIFY(pressStop(false));
        QTRY_COMPARE(released.count(), 1);
        QCOMPARE(pressed.count(), 1);
        delete m_link;
        m_link = nullptr;
    }

    void applicationThatIsNoControlSystem()
    {
        m_world.sample.useApp("diagnostics");
        const int connectionsBefore = m_world.baseUnit.connectionCount();
        startAfresh();
        QSignalSpy requests(&m_world.events, &SystemEventPeer::requestReceived);
        m_world.events.sendEvent(Events::RESET);
        expectState(S::WAITING);
        QTRY_COMPARE(tag("ru_identity")->getValue().toUInt(), 4660u);
        QTest::qWait(1500); // long enough for a select or a connection attempt
        for (const QList<QVariant>& request : qAsConst(requests))
            QVERIFY(request.at(0).toUInt() != Events::SELECT);
        QCOMPARE(m_states.last(), S::WAITING);
        QCOMPARE(m_world.baseUnit.connectionCount(), connectionsBefore);
        delete m_link;
        m_link = nullptr;
        m_world.sample.useApp("crane");
    }
};

QTEST_GUILESS_MAIN(tst_NorvikLink)
#include "tst_norviklink.moc"
