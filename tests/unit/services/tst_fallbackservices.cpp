// The two fallback services: the R-Uzad tunnel's blocks, confirmations,
// sessions and aborts, and the service-forward relay.
#include "cfallbackservice.h"
#include "fallbackpeer.h"
#include "gfallbackservice.h"
#include "wiretrace.h"

#include <QtTest>

namespace {
struct Tunnel : GFallbackService
{
    WireTrace trace { this };
    Tunnel()
    {
        trace.note(this, &GFallbackService::up, "up");
        trace.note(this, &GFallbackService::down, "down");
        trace.note(this, &GFallbackService::receive, "rx");
        QTest::ignoreMessage(QtInfoMsg, "R-Uzad fallback session established!");
    }
};
} // namespace

class tst_FallbackServices : public QObject
{
    Q_OBJECT

private slots:
    // A 600-byte message goes out in blocks, one per confirmation. While it
    // is buffered only a command is taken, and that goes out at once.
    void tunnelBlocks()
    {
        Tunnel tunnel;
        QByteArray sent;
        QObject::connect(&tunnel, &ServiceBase::readyReadFromService,
                         [&sent](const QByteArray& block) { sent += block; });
        const QByteArray first = FallbackPeer::ruzadMessage(FallbackPeer::ruzadPeriodicData, 588);
        const QByteArray command = FallbackPeer::ruzadMessage(FallbackPeer::ruzadCmd, 28);
        tunnel.send(first);
        tunnel.send(FallbackPeer::ruzadMessage(FallbackPeer::ruzadHeartbeat, 28));
        tunnel.send(command);
        for (int i = 0; i < 3; ++i)
            tunnel.readData({}, Internal, 1); // the last two find nothing to send
        QCOMPARE(tunnel.trace.log,
                 QStringList(
                     { "up", "tx 5/1:<252 bytes>", "tx 5/1:<252 bytes>", "tx 5/1:<136 bytes>" }));
        QCOMPARE(sent, first + command);
    }

    // Received data starts the inactivity timeout: abort, and the buffer is lost.
    void sessions()
    {
        Tunnel tunnel;
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("of 11 bytes is shorter than its 12"));
        tunnel.send(FallbackPeer::ruzadMessage(FallbackPeer::ruzadCmd, 0).left(11));
        QTest::ignoreMessage(QtWarningMsg, "Got data, but no session was active!");
        tunnel.readData("stray", Internal, 2); // a request is answered all the same
        tunnel.reset(); // aborts and reports down even without a session
        tunnel.send(FallbackPeer::ruzadMessage(FallbackPeer::ruzadPeriodicData, 288));
        tunnel.readData("answer", Internal, 1);
        QTest::ignoreMessage(QtInfoMsg, "R-Uzad fallback session removed!");
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.trace.log.size(), 8, 10000);
        QTest::ignoreMessage(QtWarningMsg, "Got data, but no session was active!");
        tunnel.readData({}, Internal, 1);
        QCOMPARE(tunnel.trace.log,
                 QStringList({ "tx 5/3:", "tx 5/1:", "down", "up", "tx 5/1:<252 bytes>",
                               "rx 616e73776572", "tx 5/1:", "down" }));
    }

    void serviceForward()
    {
        CFallbackService relay;
        WireTrace trace(&relay);
        trace.note(&relay, &CFallbackService::cFallbackTx, "to manager");
        relay.readData("\xa1", Internal, 1);
        relay.readData("\xb2", Internal, 2); // a request is answered first
        relay.readData("\xc3", Internal, 3); // an answer needs nothing
        QTest::ignoreMessage(QtWarningMsg,
                             "CFallbackService: empty service-forward payload dropped");
        relay.readData(QByteArray(), Internal, 2);
        relay.cFallbackRx(QByteArray::fromHex("00ff10"));
        QCOMPARE(trace.log,
                 QStringList(
                     { "to manager a1", "tx 4/3:", "to manager b2", "tx 4/3:", "tx 4/1:00ff10" }));
    }
};

QTEST_GUILESS_MAIN(tst_FallbackServices)
#include "tst_fallbackservices.moc"
