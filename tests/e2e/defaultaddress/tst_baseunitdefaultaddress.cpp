// An application without "GSIP" reaches its base unit at the default
// address. The test only runs inside a network namespace of its own with
// nothing but loopback (scripts/test.sh runs the suite in one); there it
// makes a second namespace for the base unit, joined to its own by a veth
// pair, so the default address is the base-unit stand-in and nothing else.
#include "norvik_link.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QNetworkInterface>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include <unistd.h>

namespace {
bool ip(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
} // namespace

class tst_BaseUnitDefaultAddress : public QObject
{
    Q_OBJECT

private:
    const QString m_ns = QStringLiteral("nkbu%1").arg(getpid());
    const QString m_here = QStringLiteral("nkr%1").arg(getpid());
    const QString m_there = QStringLiteral("nkb%1").arg(getpid());
    bool m_made = false;
    StandIns m_world { QString() }; // the application names no base unit
    QProcess m_baseUnit;

private slots:
    void initTestCase()
    {
        const auto interfaces = QNetworkInterface::allInterfaces();
        if (geteuid() != 0 || interfaces.size() != 1
            || !(interfaces.first().flags() & QNetworkInterface::IsLoopBack))
            QSKIP("needs root in a private network namespace with only loopback");

        QVERIFY(m_world.isValid());
        m_made = ip({ "netns", "add", m_ns });
        QVERIFY(m_made);
        QVERIFY(ip({ "link", "add", m_here, "type", "veth", "peer", "name", m_there }));
        QVERIFY(ip({ "link", "set", m_there, "netns", m_ns }));
        QVERIFY(ip({ "addr", "add", "192.168.32.2/24", "dev", m_here }));
        QVERIFY(ip({ "link", "set", m_here, "up" }));
        QVERIFY(
            ip({ "netns", "exec", m_ns, "ip", "addr", "add", "192.168.32.1/24", "dev", m_there }));
        QVERIFY(ip({ "netns", "exec", m_ns, "ip", "link", "set", m_there, "up" }));

        m_baseUnit.setProcessChannelMode(QProcess::MergedChannels);
        QStringList sim { NORVIK_BASEUNIT_SIM };
#ifdef NORVIK_EMULATOR
        // A cross build runs the stand-in through the emulator.
        sim = QString::fromUtf8(NORVIK_EMULATOR).split('|') + sim;
#endif
        m_baseUnit.start(QStringLiteral("ip"),
                         QStringList { "netns", "exec", m_ns } + sim
                             + QStringList { "--listen", "192.168.32.1", "--port", "1147",
                                             "--app-dir", m_world.sample.appDir("crane"),
                                             "--base-id", "39" });
        // Ready once it accepts a connection across the veth pair.
        const auto accepting = [] {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("192.168.32.1"), 1147);
            return probe.waitForConnected(200);
        };
        QTRY_VERIFY_WITH_TIMEOUT(accepting() || m_baseUnit.state() == QProcess::NotRunning, 10000);
        QCOMPARE(m_baseUnit.state(), QProcess::Running);
    }

    void cleanupTestCase()
    {
        if (m_baseUnit.state() != QProcess::NotRunning) {
            m_baseUnit.kill();
            m_baseUnit.waitForFinished(5000);
        }
        if (m_made) {
            ip({ "netns", "del", m_ns }); // takes the veth pair with it
            ip({ "link", "del", "eth0" });
        }
    }

    void connectsWithoutGsip()
    {
        QLoggingCategory::setFilterRules("default.info=false");
        auto* link = new NorvikLink(this);
        Tag* status = link->getTags()->get(QStringLiteral("g_link_status"));
        QVERIFY(status);
        // Operational means the handshake was answered with E_OK.
        QTRY_COMPARE_WITH_TIMEOUT(status->getValue().toUInt(), 1u, 15000);

        // The addresses are looked at every second: a cable plugged in later shows, in
        // the tags and as the cable that keeps base-unit traffic off the radio.
        QVERIFY(ip({ "link", "add", "eth0", "type", "veth", "peer", "name", m_here + "c" }));
        QVERIFY(ip({ "addr", "add", "10.11.12.13/24", "dev", "eth0" }));
        QTRY_COMPARE_WITH_TIMEOUT(link->getTags()->get("eth0ip")->getValue().toString(),
                                  QString("10.11.12.13"), 5000);
        QCOMPARE(link->getTags()->get("g_link_cable")->getValue().toUInt(), 1u);
    }
};

QTEST_GUILESS_MAIN(tst_BaseUnitDefaultAddress)
#include "tst_baseunitdefaultaddress.moc"
