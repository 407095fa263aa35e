// The remote on the desk: the internal processor stand-in on a
// pseudo-terminal in a temporary sysroot, the library's link stack on its own
// service thread, and a short scripted exchange printed as it happens.
#include "internalprocessorsim.h"
#include "transport_layer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <optional>

namespace {

QTextStream out(stdout);
QElapsedTimer sinceStart;

QString stamp()
{
    return QString::asprintf("%7.3fs", sinceStart.elapsed() / 1000.0);
}

QString describe(quint8 cls, quint8 number, quint8 service, const QByteArray& payload)
{
    static const char* names[] = { "reserved", "data", "request", "ack/answer" };
    return QString::asprintf("%-10s #%-2u svc %u  ", names[cls & 3], unsigned(number),
                             unsigned(service))
        + (payload.isEmpty() ? QStringLiteral("(empty)") : QString::fromLatin1(payload.toHex(' ')));
}

// Lives on the service thread like the library's service layer: owns the
// transport layer and answers the internal processor's requests.
class LinkHost : public QObject
{
    Q_OBJECT

public:
    TransportLayer* transport = nullptr;

public slots:
    void run()
    {
        transport = new TransportLayer(this);
        connect(transport, &TransportLayer::readyRead, this,
                [this](QByteArray data, Link, quint8 serviceId, quint8 cls) {
                    if (cls == 2)
                        transport->readDataFromService("ok:" + data, Internal, serviceId, 3);
                });
    }
    void send(QByteArray data, quint8 serviceId, quint8 cls)
    {
        transport->readDataFromService(data, Internal, serviceId, cls);
    }
};

struct Counters
{
    int ruFrames = 0, ipFrames = 0, acksFromIp = 0, acksFromRu = 0, retransmissions = 0,
        failures = 0, delivered = 0;
    int lastDataNumber = -1;
    bool linkUp = true;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("The remote's internal link on the desk");
    parser.addHelpOption();
    parser.addOption({ "seconds", "How long to run (default 6).", "n", "6" });
    parser.process(app);
    const int seconds = qMax(2, parser.value("seconds").toInt());
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });

    QTemporaryDir sysroot;
    qputenv("NORVIK_SYSROOT", sysroot.path().toLocal8Bit());
    InternalProcessorSim ip;
    if (!ip.open(sysroot.path()))
        return 1;
    ip.setRequestHandler(2, [](const InternalProcessorSim::Packet& request) {
        return std::optional<QByteArray>(QByteArray("value of ") + request.payload);
    });

    qRegisterMetaType<Link>("Link");
    QThread serviceThread;
    LinkHost host;
    host.moveToThread(&serviceThread);
    serviceThread.start();
    QMetaObject::invokeMethod(&host, "run", Qt::BlockingQueuedConnection);

    sinceStart.start();
    Counters n;
    out << "internal processor stand-in on " << ip.slaveName() << ", linked as " << sysroot.path()
        << "/dev/ttymxc0\n"
        << "  time    direction  packet\n";

    QObject::connect(&ip, &InternalProcessorSim::packetReceived, [&](const auto& p) {
        ++n.ruFrames;
        if (p.messageClass == 3 && p.payload.isEmpty())
            ++n.acksFromRu;
        const bool again = p.messageClass == 1 && p.packetNumber == n.lastDataNumber;
        if (p.messageClass == 1) {
            n.retransmissions += again;
            n.lastDataNumber = p.packetNumber;
        }
        out << stamp() << "  RU -> IP  "
            << describe(p.messageClass, p.packetNumber, p.serviceId, p.payload)
            << (again ? "   <- retransmission" : "") << "\n";
    });
    QObject::connect(&ip, &InternalProcessorSim::frameWritten, [&](const QByteArray& wire) {
        ++n.ipFrames;
        InternalProcessorSim::Packet p;
        if (!InternalProcessorSim::parseFrame(wire, &p))
            return;
        if (p.messageClass == 3 && p.payload.isEmpty()) {
            ++n.acksFromIp;
            if (!n.linkUp)
                out << stamp() << "  LINK UP again\n";
            n.linkUp = true;
        }
        out << stamp() << "  IP -> RU  "
            << describe(p.messageClass, p.packetNumber, p.serviceId, p.payload) << "\n";
    });
    QObject::connect(host.transport, &TransportLayer::readyRead, &app,
                     [&](QByteArray, Link, quint8, quint8) { ++n.delivered; });
    QObject::connect(host.transport, &TransportLayer::internalLinkFailed, &app, [&] {
        ++n.failures;
        n.linkUp = false;
        out << stamp() << "  LINK FAILED: three transmissions unanswered\n";
    });

    // The script: the library sends status and asks for parameters, the
    // stand-in sends process data and asks back; in the middle it stops
    // acknowledging for a while.
    int tick = 0;
    bool wasSilent = false;
    const int silentFrom = seconds * 1000 / 2, silentTo = silentFrom + 400;
    QTimer script;
    QObject::connect(&script, &QTimer::timeout, [&] {
        const qint64 t = sinceStart.elapsed();
        ++tick;
        if (tick % 5 == 0)
            QMetaObject::invokeMethod(&host, "send", Q_ARG(QByteArray, QByteArray::fromHex("0102")),
                                      Q_ARG(quint8, 1), Q_ARG(quint8, 1));
        if (tick % 14 == 0)
            QMetaObject::invokeMethod(&host, "send", Q_ARG(QByteArray, "BAT1"), Q_ARG(quint8, 2),
                                      Q_ARG(quint8, 2));
        if (tick % 8 == 0)
            ip.sendPacket(1, 1, QByteArray::fromHex("00641e"));
        if (tick % 30 == 0)
            ip.sendPacket(2, 2, "APSR");
        const bool silent = t >= silentFrom && t < silentTo;
        if (silent != wasSilent) {
            out << stamp()
                << (silent ? "  -- stand-in stops acknowledging --\n"
                           : "  -- stand-in acknowledges again --\n");
            ip.setWithholdAcks(silent);
            wasSilent = silent;
        }
    });
    script.start(50);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();

    // The stack's timers belong to the service thread: take it down there.
    QMetaObject::invokeMethod(
        &host, [&host] { delete host.transport; }, Qt::BlockingQueuedConnection);
    serviceThread.quit();
    serviceThread.wait();
    out << "\nsummary after " << stamp().trimmed() << "\n"
        << "  frames RU -> IP          " << n.ruFrames << "  (acknowledgements " << n.acksFromRu
        << ")\n"
        << "  frames IP -> RU          " << n.ipFrames << "  (acknowledgements " << n.acksFromIp
        << ")\n"
        << "  packets delivered to RU  " << n.delivered << "\n"
        << "  retransmissions          " << n.retransmissions << "\n"
        << "  link failures            " << n.failures << "\n"
        << "  link state at the end    " << (n.linkUp ? "up" : "down") << Qt::endl;
    return 0;
}

#include "main.moc"
