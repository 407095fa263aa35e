#include "baseunitsimulator.h"
#include "checksum.h"
#include "client.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace RUzad;

namespace {
// The base unit's port is fixed, so this test has a loopback address of its own.
const QHostAddress kBaseUnit(QStringLiteral("127.0.0.31"));
constexpr quint16 kPort = 1147;
constexpr int kTimeoutMs = 8000; // generous: two-second timers on a loaded machine
const char kTcpTimeout[]
    = "Connection [ BU 66 ] <--> [ RU 4660 ] ( ORIGIN_TCP ) timed out due to inactivity...";
} // namespace

class tst_RUzadClient : public QObject
{
    Q_OBJECT

    QTemporaryDir _app;
    QByteArray _checksum;
    std::unique_ptr<BaseUnitSimulator> _sim;
    std::unique_ptr<Client> _client;

    Connection* connection() const { return _client->findChild<Connection*>(); }

    void handshake(QSignalSpy& initialized)
    {
        _client->connect(kBaseUnit, kPort);
        QTRY_COMPARE_WITH_TIMEOUT(initialized.size(), 1, kTimeoutMs);
        QCOMPARE(initialized.at(0).at(0).value<MessageOrigin>(), ORIGIN_TCP);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(_app.isValid());
        QFile file(_app.filePath("app.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Name;Type\nlift;controlSystem\n");
        file.close();
        _checksum = calculateChecksum(_app.path());
    }

    void init()
    {
        _sim = std::make_unique<BaseUnitSimulator>();
        _sim->setBaseId(0x42);
        _sim->setAppDir(_app.path());
        QVERIFY(_sim->listen(kBaseUnit, kPort));
        _client = std::make_unique<Client>(0x42, 0x1234, _checksum);
    }

    void cleanup()
    {
        _client.reset();
        _sim.reset();
    }

    void handshake_data()
    {
        QTest::addColumn<int>("simBaseId");
        QTest::addColumn<bool>("otherApp");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<int>("forcedCode");
        QTest::addColumn<QString>("forcedText");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("accepted") << 0x42 << false << true << -1 << QString() << 0 << QString();
        QTest::newRow("not paired") << 0x43 << false << true << -1 << QString() << 1
                                    << "Remote is not paired with this base unit";
        QTest::newRow("not ready")
            << 0x42 << false << false << -1 << QString() << 3 << "Base unit not ready";
        QTest::newRow("application differs")
            << 0x42 << true << true << -1 << QString() << 4 << "Application checksum differs";
        QTest::newRow("protocol version")
            << 0x42 << false << true << 2 << "Needs protocol 3.0" << 2 << "Needs protocol 3.0";
        QTest::newRow("generic with text") << 0x42 << false << true << 5 << "Hydraulic pressure low"
                                           << 5 << "Hydraulic pressure low";
        QTest::newRow("unknown code") << 0x42 << false << true << 9 << "?" << 9 << "?";
    }
    void handshake()
    {
        QFETCH(int, simBaseId);
        QFETCH(bool, otherApp);
        QFETCH(bool, ready);
        QFETCH(int, forcedCode);
        QFETCH(QString, forcedText);
        QFETCH(int, code);
        QFETCH(QString, text);
        _sim->setBaseId(quint16(simBaseId));
        if (otherApp)
            _sim->setChecksum(QByteArray(16, '\x5a'));
        _sim->setReady(ready);
        _sim->setForcedInitAck(forcedCode, forcedText);
        QSignalSpy initialized(_client.get(), &Client::initialized);
        QSignalSpy configErrors(_client.get(), &Client::configError);
        QSignalSpy answered(_sim.get(), &BaseUnitSimulator::handshakeAnswered);

        if (code != 0) {
            QTest::ignoreMessage(QtCriticalMsg,
                                 "R-Uzad initialization failed: " + enumName(ErrorCode(code))
                                     + " | Origin: ORIGIN_TCP");
        }
        _client->connect(kBaseUnit, kPort);
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 1, kTimeoutMs);
        const QByteArray init = _sim->received(BaseUnitSimulator::INIT).value(0).payload;
        QCOMPARE(init, QByteArray::fromHex("020134124200") + _checksum);

        if (code == 0) {
            QTRY_COMPARE(initialized.size(), 1);
            QCOMPARE(initialized.at(0).at(0).value<MessageOrigin>(), ORIGIN_TCP);
            // The accepted handshake is answered with a heartbeat at once.
            QTRY_VERIFY(_sim->received().size() >= 2);
            QCOMPARE(_sim->received().at(1).id, quint8(BaseUnitSimulator::HEARTBEAT));
            QVERIFY(configErrors.isEmpty());
        } else {
            QTRY_COMPARE(configErrors.size(), 1);
            QCOMPARE(int(configErrors.at(0).at(0).value<ErrorCode>()), code);
            QCOMPARE(configErrors.at(0).at(1).toString(), text);
            QVERIFY(initialized.isEmpty());
            QVERIFY(!_client->isTcpActive()); // a refused link is not watched for silence
        }
    }

    void messagesFromBaseUnit()
    {
        QSignalSpy initialized(_client.get(), &Client::initialized);
        handshake(initialized);
        QSignalSpy cmds(_client.get(), &Client::readyReadCmd);
        QSignalSpy status(_client.get(), &Client::readyReadBuStatus);
        QSignalSpy forwards(_client.get(), &Client::readyReadServiceForward);
        QSignalSpy periodic(_client.get(), &Client::readyReadPeriodicData);
        QSignalSpy powerOff(connection(), &Connection::readyReadPowerOff);

        _sim->sendCommand("\x10\x20");
        _sim->sendBuStatus(0x1234, 5);
        _sim->sendServiceForward("\x04\x01");
        _sim->sendPowerOff();
        QTRY_COMPARE(powerOff.size(), 1);
        QCOMPARE(cmds.value(0).value(0).toByteArray(), QByteArray("\x10\x20"));
        QCOMPARE(status.value(0).value(0).toByteArray(), QByteArray::fromHex("341205"));
        QCOMPARE(forwards.value(0).value(0).toByteArray(), QByteArray("\x04\x01"));

        // Periodic frames written in 5-byte pieces arrive whole, complete and in order.
        _sim->setSplitSize(5);
        _sim->setPeriodicInterval(100); // slower than the pieces drain
        QTRY_VERIFY_WITH_TIMEOUT(periodic.size() >= 10, kTimeoutMs);
        _sim->setPeriodicInterval(0);
        for (int i = 0; i < periodic.size(); ++i) {
            const QByteArray frame = periodic.at(i).at(0).toByteArray();
            QCOMPARE(frame.size(), 64);
            QCOMPARE(quint8(frame.at(0)), quint8(i));
            QCOMPARE(quint8(frame.at(63)), quint8(i + 63));
        }

        // Junk ahead of a message in the same write is skipped.
        _sim->setSplitSize(0);
        _sim->setGarbagePrefix("\xff\x00\xfe");
        _sim->sendCommand("\x30");
        QTRY_COMPARE(cmds.size(), 2);
        QCOMPARE(cmds.at(1).at(0).toByteArray(), QByteArray("\x30"));
    }

    void staleDataDropped()
    {
        QSignalSpy initialized(_client.get(), &Client::initialized);
        handshake(initialized);
        QSignalSpy cmds(_client.get(), &Client::readyReadCmd);
        QSignalSpy periodic(_client.get(), &Client::readyReadPeriodicData);
        _sim->setTimestampOffset(60000);
        _sim->setPeriodicData("old");
        _sim->sendMessage(BaseUnitSimulator::PERIODIC_DATA, "old");
        _sim->setTimestampOffset(0);
        _sim->sendCommand("new");
        QTRY_COMPARE(cmds.size(), 1);
        QCOMPARE(periodic.size(), 0);
    }

    void clientSends()
    {
        QSignalSpy fallback(_client.get(), &Client::sendFallback);
        Message early(ID_CMD);
        _client->send(early); // nothing connected yet: offered to the fallback only
        QCOMPARE(fallback.size(), 1);

        QSignalSpy initialized(_client.get(), &Client::initialized);
        handshake(initialized);
        QCOMPARE(fallback.size(), 2);
        QCOMPARE(fallback.at(1).at(0).value<Message>().id(), ID_INIT);

        Message cmd(ID_CMD);
        cmd._header._size = 3;
        cmd._payload._payload = "abc";
        _client->send(cmd);
        _client->recvServiceForward("xyz");
        QTRY_COMPARE(_sim->receivedCount(BaseUnitSimulator::SERVICE_FORWARD), 1);
        QCOMPARE(_sim->received(BaseUnitSimulator::CMD).value(0).payload, QByteArray("abc"));
        QCOMPARE(_sim->received(BaseUnitSimulator::SERVICE_FORWARD).value(0).payload,
                 QByteArray("xyz"));
        QCOMPARE(fallback.size(), 3); // the command; service forwards stay on TCP
        QCOMPARE(fallback.at(2).at(0).value<Message>().serialize(), cmd.serialize());
    }

    // While idle the remote still writes at least every 250 ms, and a base unit that keeps
    // talking is never timed out.
    void heartbeatWhileConnected()
    {
        QSignalSpy initialized(_client.get(), &Client::initialized);
        QSignalSpy timeouts(_client.get(), &Client::timeout);
        handshake(initialized);
        QTRY_VERIFY_WITH_TIMEOUT(_sim->receivedCount(BaseUnitSimulator::HEARTBEAT) >= 10,
                                 kTimeoutMs);
        const auto beats = _sim->received(BaseUnitSimulator::HEARTBEAT);
        for (int i = 1; i < beats.size(); ++i) {
            const qint64 gap = qint64(beats.at(i).timestamp - beats.at(i - 1).timestamp);
            QVERIFY2(gap >= 200 && gap < 1000, qPrintable(QString::number(gap)));
        }
        QCOMPARE(timeouts.size(), 0);
        QCOMPARE(_sim->connectionCount(), 1);
    }

    void silenceTimesOutAndReconnects()
    {
        QSignalSpy initialized(_client.get(), &Client::initialized);
        QSignalSpy timeouts(_client.get(), &Client::timeout);
        handshake(initialized);

        _sim->setSilent(true);
        QTest::ignoreMessage(QtWarningMsg, kTcpTimeout);
        QTest::ignoreMessage(QtInfoMsg, "Attempting to reconnect...");
        QTRY_COMPARE_WITH_TIMEOUT(timeouts.size(), 1, kTimeoutMs);
        QCOMPARE(timeouts.at(0).at(0).value<MessageOrigin>(), ORIGIN_TCP);
        QVERIFY(_sim->receivedCount(BaseUnitSimulator::HEARTBEAT) >= 2); // the remote kept on
        _sim->setSilent(false);
        QTRY_COMPARE_WITH_TIMEOUT(_sim->connectionCount(), 2, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(initialized.size(), 2, kTimeoutMs);
    }

    void droppedConnectionReconnects()
    {
        QSignalSpy initialized(_client.get(), &Client::initialized);
        QSignalSpy disconnected(_client.get(), &Client::disconnected);
        handshake(initialized);
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("^R-Uzad connection error: "
                                                "QAbstractSocket::RemoteHostClosedError"));
        _sim->dropConnection();
        QTRY_COMPARE(disconnected.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(initialized.size(), 2, kTimeoutMs);
        QCOMPARE(_sim->connectionCount(), 2);
    }

    // Refused attempts repeat about once a second until the base unit answers.
    void reconnectUntilBaseUnitListens()
    {
        _sim->setRefuseConnections(true);
        QElapsedTimer clock;
        clock.start();
        QVector<qint64> attempts;
        connect(connection(), &QAbstractSocket::stateChanged, this,
                [&](QAbstractSocket::SocketState s) {
                    if (s == QAbstractSocket::ConnectingState)
                        attempts << clock.elapsed();
                });
        QSignalSpy initialized(_client.get(), &Client::initialized);
        _client->connect(kBaseUnit, kPort);
        QTRY_VERIFY_WITH_TIMEOUT(attempts.size() >= 4, 3 * kTimeoutMs);
        for (int i = 1; i < attempts.size(); ++i)
            QVERIFY2(attempts.at(i) - attempts.at(i - 1) >= 900,
                     qPrintable(QString::number(attempts.at(i) - attempts.at(i - 1))));
        _sim->setRefuseConnections(false);
        QTRY_COMPARE_WITH_TIMEOUT(initialized.size(), 1, kTimeoutMs);
    }

    void disconnectEndsCycle()
    {
        QSignalSpy initialized(_client.get(), &Client::initialized);
        QSignalSpy gone(_sim.get(), &BaseUnitSimulator::clientDisconnected);
        handshake(initialized);
        QTest::ignoreMessage(QtInfoMsg, "Disconnecting R-Uzad...");
        _client->disconnect();
        QTRY_COMPARE(gone.size(), 1);
        // Longer than the reconnect delay and the inactivity timeout together.
        QTest::qWait(3500);
        QCOMPARE(_sim->connectionCount(), 1);
        _client->connect(kBaseUnit, kPort);
        QTRY_COMPARE_WITH_TIMEOUT(initialized.size(), 2, kTimeoutMs);

        // Also in the middle of refused attempts.
        _sim->setRefuseConnections(true);
        _sim->dropConnection();
        QSignalSpy errors(connection(), &Connection::connectionError);
        QTRY_VERIFY_WITH_TIMEOUT(errors.size() >= 2, kTimeoutMs);
        _client->disconnect();
        const int attempts = errors.size();
        QTest::qWait(2500);
        QCOMPARE(errors.size(), attempts);
        QCOMPARE(connection()->state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(tst_RUzadClient)
#include "tst_ruzadclient.moc"
