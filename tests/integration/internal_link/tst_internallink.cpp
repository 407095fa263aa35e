// The internal link stack over a real pseudo-terminal.
#include "internallink.h"
#include "internalprocessorsim.h"
#include "messagelog.h"
#include "serialport.h"
#include "serialportreadthreadworker.h"
#include "transport_layer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <termios.h>

using Sim = InternalProcessorSim;
// The read thread's hang-up messages so far.
static int hangUps()
{
    return MessageLog::messages()
        .filter("/dev/ttymxc0 hung up, waiting for it to come back")
        .size();
}

// A sysroot whose device is the stand-in's pseudo-terminal, and the stack on it.
struct Rig
{
    MessageLog log;
    QTemporaryDir sysroot;
    bool env = qputenv("NORVIK_SYSROOT", sysroot.path().toLocal8Bit());
    Sim sim;
    bool open = sim.open(sysroot.path());
    TransportLayer layer;
    QSignalSpy chunks { layer.link(), &InternalLink::readyRead };
    SerialPort* port() const { return layer.link()->port(); }
};

class tst_InternalLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<Rig> r;

private slots:
    void init()
    {
        r.reset(new Rig);
        QVERIFY(r->open);
    }
    void cleanup() { r.reset(); }

    // Trickled or back to back, frames arrive whole and in order; damaged ones
    // (bad CRC, garbage, too short for a header, merged, reserved class) are dropped.
    void framesOnTheLine()
    {
        QSignalSpy lines(&r->sim, &Sim::lineReceived);
        QSignalSpy delivered(&r->layer, &TransportLayer::readyRead);
        r->sim.setTrickle(1, 4);
        r->sim.sendPacket(1, 1, "\r\x11\x13\x03"); // CR, XON, XOFF and ^C are data
        QTRY_COMPARE_WITH_TIMEOUT(r->chunks.count(), 1, 10000);
        QByteArray burst, broken = Sim::frame(1, 9, 3, "crc");
        broken[3] = char(broken.at(3) ^ 1);
        const QByteArray bad[] = { broken,
                                   QByteArray::fromHex("00FF9090900A"),
                                   QByteArray::fromHex("82FFFFFFFF0A"),
                                   QByteArray::fromHex("82417E4FD2740A"),
                                   Sim::frame(1, 1, 1, "a").chopped(1) + Sim::frame(1, 2, 1, "b"),
                                   Sim::frame(0, 4, 1, "z") };
        for (int i = 1; i < 20; ++i)
            burst += Sim::frame(1, quint8(i), 3, QByteArray(i, '\r'))
                + (i <= 6 ? bad[i - 1] : QByteArray());
        QTest::ignoreMessage(QtWarningMsg,
                             "TransportLayer: dropped packet 4 of reserved class 0 for service 1");
        r->sim.writeRaw(burst);
        QTRY_COMPARE(r->chunks.count(), 1 + 19 + 6);
        QTRY_COMPARE(lines.count(), 20);
        QCOMPARE(lines.at(5).at(0).toByteArray(), QByteArray::fromHex("82C503590316050A"));
        QCOMPARE(delivered.count(), 20);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(delivered.at(i).at(0).toByteArray(),
                     i ? QByteArray(i, '\r') : "\r\x11\x13\x03");
    }

    // A hang-up gives one message, no spinning, and a link that is back with the line.
    void hungUpLineComesBack()
    {
        r->sim.closePort();
        QTRY_COMPARE(hangUps(), 1);
        const int reads = r->port()->readCalls();
        QTest::qWait(3 * SerialPortReadThreadWorker::reopenIntervalMs);
        QCOMPARE(r->port()->readCalls(), reads);
        QVERIFY(r->sim.open(r->sysroot.path()));
        QSignalSpy lines(&r->sim, &Sim::lineReceived);
        QTRY_VERIFY((r->layer.link()->sendData("up\n"), !lines.isEmpty())); // once reopened
        r->sim.writeRaw("back\n");
        QTRY_COMPARE(r->chunks.count(), 1);
        QCOMPARE(r->chunks.at(0).at(0).toByteArray(), QByteArray("back\n"));
        QCOMPARE(hangUps(), 1);
        termios t;
        QCOMPARE(tcgetattr(r->port()->handle(), &t), 0);
        QCOMPARE(t.c_iflag | t.c_oflag | t.c_lflag, tcflag_t(ICANON));
        QCOMPARE(t.c_cflag & (CSIZE | CREAD | CLOCAL | PARENB | CSTOPB | CRTSCTS),
                 tcflag_t(CS8 | CREAD | CLOCAL));
        QCOMPARE(cfgetispeed(&t) + cfgetospeed(&t), speed_t(2 * B230400));
    }

    // Whatever state its line is in, a stack takes its read thread with it.
    void deletionEndsTheReadThread()
    {
        const auto threads = [] {
            return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
        };
        for (const QString line : { "open", "hung up", "missing" }) {
            const int before = threads();
            auto* layer = new TransportLayer;
            layer->readDataFromService("x", Internal, 1, 1);
            if (line == "hung up") {
                r->sim.closePort(); // the device stays missing for the next round
                QTRY_COMPARE(hangUps(), 2); // the rig's own stack hangs up as well
            }
            delete layer;
            QTRY_COMPARE(threads(), before);
        }
    }
};

QTEST_GUILESS_MAIN(tst_InternalLink)
#include "tst_internallink.moc"
