#include "baseunitsimulator.h"
#include "client.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace RUzad;

namespace {
// The base unit's port is fixed, so this test has a loopback address of its own.
const QHostAddress kBaseUnit(QStringLiteral("127.0.0.31"));
const QByteArray kChecksum(16, '\x5a');
} // namespace

class tst_RUzadClient : public QObject
{
    Q_OBJECT

private slots:
    // Reconnect policy with shortened timers: silence and refused attempts lead to a new
    // attempt after the reconnect delay, again and again, until disconnect() ends it.
    void reconnectCycle()
    {
        BaseUnitSimulator sim;
        sim.setBaseId(0x42);
        sim.setChecksum(kChecksum);
        QVERIFY(sim.listen(kBaseUnit, 1147));
        Client client(0x42, 0x1234, kChecksum);
        auto* conn = client.findChild<Connection*>();
        conn->findChild<QTimer*>("inactivity")->setInterval(500);
        client.findChild<QTimer*>("reconnect")->setInterval(200);
        QElapsedTimer clock;
        clock.start();
        QVector<qint64> attempts;
        connect(conn, &QAbstractSocket::stateChanged, this, [&](QAbstractSocket::SocketState s) {
            if (s == QAbstractSocket::ConnectingState)
                attempts << clock.elapsed();
        });
        QSignalSpy initialized(&client, &Client::initialized);
        QSignalSpy timeouts(&client, &Client::timeout);
        client.connect(kBaseUnit, 1147);
        QTRY_COMPARE(initialized.size(), 1);
        QCOMPARE(sim.received(BaseUnitSimulator::INIT).value(0).payload,
                 QByteArray::fromHex("020134124200") + kChecksum);

        // A base unit gone silent is timed out, and answers again after the reconnect.
        sim.setSilent(true);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ORIGIN_TCP \\) timed out"));
        QTRY_COMPARE(timeouts.size(), 1);
        sim.setSilent(false);
        QTRY_COMPARE(initialized.size(), 2);
        QCOMPARE(sim.connectionCount(), 2);

        // Refused attempts repeat at the reconnect delay.
        sim.setRefuseConnections(true);
        sim.dropConnection();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("R-Uzad connection error"));
        QTRY_VERIFY(attempts.size() >= 5);
        for (int i = 3; i < attempts.size(); ++i)
            QVERIFY2(attempts.at(i) - attempts.at(i - 1) >= 180, qPrintable(QString::number(i)));

        // disconnect() ends the cycle for good.
        client.disconnect();
        const int made = attempts.size();
        QTest::qWait(600);
        QCOMPARE(attempts.size(), made);
        QCOMPARE(conn->state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(tst_RUzadClient)
#include "tst_ruzadclient.moc"
