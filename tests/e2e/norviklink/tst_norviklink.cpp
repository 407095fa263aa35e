// A whole remote in one process: the facade the interface creates, on the
// sample installation, against the internal processor stand-in on a
// pseudo-terminal, the base unit on a loopback address of this test, the
// launcher on a private local socket and the machine-stop line as files.
// The scenario runs in order, as a remote's day would.
#include "baseunitsimulator.h"
#include "configurationpeer.h"
#include "internalprocessorsim.h"
#include "launchersimulator.h"
#include "norvik_link.h"
#include "notificationpeer.h"
#include "notificationstoreage.h"
#include "remoteworld.h"
#include "sampleinstall.h"
#include "systemeventpeer.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QDir>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QtTest>

using S = SystemEventService::States;

using namespace remoteworld;

namespace {
const char* const baseUnitAddress = "127.0.0.61";

} // namespace

class tst_NorvikLink : public QObject
{
    Q_OBJECT

private:
    SampleInstall m_sample;
    QTemporaryDir m_sysroot;
    QTemporaryDir m_tmp;
    InternalProcessorSim* m_ip = nullptr;
    SystemEventPeer* m_events = nullptr;
    ConfigurationPeer* m_parameters = nullptr;
    NotificationPeer* m_notifications = nullptr;
    BaseUnitSimulator* m_bu = nullptr;
    LauncherSimulator* m_launcher = nullptr;
    NorvikLink* m_link = nullptr;
    QSignalSpy* m_states = nullptr;

    QString gpio(const char* file) const { return m_sysroot.path() + "/sys/class/gpio/" + file; }
    Tag* tag(const char* name) const { return m_link->getTags()->get(QString::fromLatin1(name)); }
    S lastState() const { return m_states->last().at(0).value<S>(); }
    bool launcherGot(const QString& command, const QString& data) const
    {
        return m_launcher->commands().contains(qMakePair(command, data));
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("default.info=false");
        QVERIFY(m_sample.isValid() && m_sysroot.isValid() && m_tmp.isValid());
        // The sample's base unit sits on this test's own loopback address.
        const QString appCsv = m_sample.appDir("crane") + "/config/app.csv";
        QByteArray config = readFile(appCsv);
        config.replace("GSIP;127.0.0.1;", QByteArray("GSIP;") + baseUnitAddress + ";");
        QVERIFY(writeFile(appCsv, config));
        m_sample.useApp("crane");
        qputenv("NORVIK_SYSROOT", m_sysroot.path().toLocal8Bit());
        qputenv("TMPDIR", m_tmp.path().toLocal8Bit()); // the launcher socket lives here

        QVERIFY(prepareSysroot(m_sysroot.path()));

        m_ip = new InternalProcessorSim(this);
        QVERIFY(m_ip->open(m_sysroot.path()));
        m_events = new SystemEventPeer(m_ip, this);
        m_parameters = new ConfigurationPeer(m_ip, this);
        m_parameters->setValue("RUID", 4660);
        m_notifications = new NotificationPeer(m_ip, this);

        m_bu = new BaseUnitSimulator(this);
        m_bu->setBaseId(39);
        m_bu->setAppDir(m_sample.appDir("crane"));
        QVERIFY(m_bu->listen(QHostAddress(QString::fromLatin1(baseUnitAddress)), 1147));

        m_launcher = new LauncherSimulator(this);
        QVERIFY(m_launcher->listen());

        m_link = new NorvikLink(this);
        QVERIFY(m_link->systemEventService());
        m_states = new QSignalSpy(m_link->systemEventService(), &SystemEventService::stateChanged);
    }

    void cleanupTestCase() { delete m_states; }

    void resetHandshakeAndAutoSelect()
    {
        // The internal processor starts the handshake; a control system selects by itself.
        m_events->sendEvent(SystemEventService::RESET);
        QTRY_VERIFY(!m_states->isEmpty() && lastState() == S::SELECTED);
        QCOMPARE(m_states->first().at(0).value<S>(), S::WAITING);
        QTRY_COMPARE(tag("systemEventServiceState")->getValue().toInt(), int(S::SELECTED));
    }

    void identityStartsTheBaseUnitLink()
    {
        QTRY_COMPARE(tag("ru_identity")->getValue().toUInt(), 4660u);
        QTRY_COMPARE(readFile(m_sysroot.path() + "/etc/ruid"), QByteArray("4660"));
        QTRY_VERIFY_WITH_TIMEOUT(m_bu->isInitialized(), 10000);
        QTRY_COMPARE(tag("g_link_status")->getValue().toUInt(), 1u);
    }

    void armAndMachineStop()
    {
        m_link->arm();
        QTRY_VERIFY(lastState() == S::ARMED_ENABLED);

        QSignalSpy pressed(m_link, &NorvikLink::stopPressed);
        QSignalSpy released(m_link, &NorvikLink::stopReleased);
        const int stopsBefore = m_bu->receivedCount(BaseUnitSimulator::E_STOP);
        QVERIFY(writeFile(gpio("gpio37/value"), "0"));
        QTRY_COMPARE(pressed.count(), 1);
        QTRY_VERIFY(lastState() == S::STOP);
        QTRY_VERIFY(m_bu->receivedCount(BaseUnitSimulator::E_STOP) > stopsBefore);
        QVERIFY(writeFile(gpio("gpio37/value"), "1"));
        QTRY_COMPARE(released.count(), 1);
        QTRY_VERIFY(lastState() == S::SELECTED);
    }

    void commandsBothWays()
    {
        m_link->sendCmd(QStringLiteral("lift"));
        QTRY_VERIFY(!m_bu->received(BaseUnitSimulator::CMD).isEmpty());
        QCOMPARE(m_bu->received(BaseUnitSimulator::CMD).last().payload.left(4), QByteArray("lift"));

        QSignalSpy text(m_link, &NorvikLink::recvCmd);
        QSignalSpy binary(m_link, &NorvikLink::recvBinaryCmd);
        m_bu->sendCommand(QByteArray("down\0\x01", 6));
        QTRY_COMPARE(text.count(), 1);
        QCOMPARE(text.at(0).at(0).toString(), QStringLiteral("down"));
        QCOMPARE(binary.at(0).at(0).toByteArray().left(6), QByteArray("down\0\x01", 6));

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
        m_bu->setPeriodicData(frame);
        m_bu->setPeriodicInterval(100);
        QTRY_COMPARE(tag("hydraulic_pressure")->getValue().toUInt(), 300u);
        QTRY_COMPARE(tag("boom_angle")->getValue().toFloat(), 42.5f);
        m_bu->setPeriodicInterval(0);
    }

    void notificationsAndTheirHistory()
    {
        QSignalSpy plain(m_link, &NorvikLink::newNotification);
        QSignalSpy popup(m_link, &NorvikLink::newPopupNotification);
        m_notifications->raise(21, 3, 1, QStringLiteral("Battery low"));
        m_notifications->raisePopup(22, 5, 2, QStringLiteral("Drop detected"));
        QTRY_COMPARE(plain.count(), 1);
        QTRY_COMPARE(popup.count(), 1);
        QCOMPARE(plain.at(0).at(0).toString(), QStringLiteral("Battery low"));
        QCOMPARE(popup.at(0).at(2).toInt(), 22);
        QVERIFY(m_link->getNotificationStore()->getCount() >= 2);

        m_link->ackNotificationSlot(22);
        QTRY_VERIFY(m_notifications->acknowledgements().contains(22));
    }

    void launcherCommands()
    {
        QSignalSpy failed(m_link, &NorvikLink::appStartFailed);
        const QString diagnostics = m_sample.appDir("diagnostics") + "/diagnostics_ui";
        m_link->startApp(QStringLiteral("diagnostics_ui")); // by the application's tag
        QTRY_VERIFY(launcherGot("appStart", diagnostics));
        m_launcher->clearReceived();
        m_link->startApp(diagnostics); // by its path
        QTRY_VERIFY(launcherGot("appStart", diagnostics));

        QTest::ignoreMessage(QtWarningMsg, "The application 'nonsense' doesn't exists.");
        m_link->startApp(QStringLiteral("nonsense"));
        QCOMPARE(failed.count(), 1);

        AppDatabase* all = m_link->getApps();
        m_link->userLogin(QStringLiteral("op01"));
        QTRY_VERIFY(launcherGot("userLogin", "op01"));
        QVERIFY(m_link->getApps() != all);
        m_link->userLogOut();
        QTRY_VERIFY(launcherGot("userLogOut", "op01"));
        QCOMPARE(m_link->getApps(), all);

        m_link->closeApp();
        QTRY_VERIFY(m_launcher->commands().last().first == QStringLiteral("appClose"));
        // Closing a control system also resets the remote-control state.
        QTRY_VERIFY(m_events->resetRequests() >= 2);

        const quint32 answeredBefore = m_launcher->heartbeatsAnswered();
        m_launcher->sendHeartbeat();
        QTRY_COMPARE(m_launcher->heartbeatsAnswered(), answeredBefore + 1);
    }

    void ledBytes()
    {
        m_link->setLedValue(3, 0x1FF);
        QCOMPARE(m_link->getLedValue(3), 255);
        QCOMPARE(m_link->getLedValue(0), -1);
    }
};

QTEST_GUILESS_MAIN(tst_NorvikLink)
#include "tst_norviklink.moc"
