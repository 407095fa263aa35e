// The remote on the desk: the sample installation, the internal processor
// stand-in on a pseudo-terminal in a temporary sysroot, and the library's
// internal link stack with its six services on a service thread of its own.
// A short script runs the reset handshake, the configuration walk, select,
// arm, process data, a notification and a popup, a machine stop with its
// release, and a stretch in which the internal processor stops answering.
#include "configurationpeer.h"
#include "configurationservice.h"
#include "internalprocessorsim.h"
#include "norvik_link_defines.h"
#include "notificationpeer.h"
#include "notificationservice.h"
#include "processdatapeer.h"
#include "sampleinstall.h"
#include "service_layer.h"
#include "systemeventpeer.h"
#include "systemeventservice.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <csignal>

namespace {

QTextStream out(stdout);
QElapsedTimer sinceStart;

QTextStream& line()
{
    return out << QString::asprintf("%7.3fs  ", sinceStart.elapsed() / 1000.0);
}

template<typename E> const char* nameOf(E value)
{
    return QMetaEnum::fromType<E>().valueToKey(value);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("The remote's internal link and services on the desk");
    parser.addHelpOption();
    parser.addOption({ "seconds", "How long to run (default 10).", "n", "10" });
    parser.addOption({ "trace", "Print every packet on the serial line." });
    parser.process(app);
    const int seconds = qMax(2, parser.value("seconds").toInt());
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    QLoggingCategory::setFilterRules("default.info=false");

    SampleInstall sample;
    sample.useApp("crane");
    QTemporaryDir sysroot;
    qputenv("NORVIK_SYSROOT", sysroot.path().toLocal8Bit());

    // The internal processor and its services.
    InternalProcessorSim ip;
    if (!sample.isValid() || !ip.open(sysroot.path()))
        return 1;
    SystemEventPeer events(&ip);
    ConfigurationPeer parameters(&ip);
    parameters.setValue("RCSR", 0x01040107); // 1.4
    parameters.setValue("ECSR", 0x02030009); // 2.3.9
    parameters.setValue("HWRV", 0x02010000); // 2.1
    parameters.setValue("RUID", 0x1234);
    parameters.setValue("IJS1", 1190);
    ProcessDataPeer processData(&ip);
    processData.loadLayout(sample.sharedConfigDir() + "/remoteInternalInputTags.csv");
    NotificationPeer notifications(&ip);

    // The library side: tags on this thread, the stack on the service thread.
    TagDatabase tags;
    tags.prePopulate();
    ServiceLayer* layer = new ServiceLayer(&tags);
    QThread serviceThread;
    layer->moveToThread(&serviceThread);
    serviceThread.start(QThread::InheritPriority);
    QMetaObject::invokeMethod(layer, "run", Qt::BlockingQueuedConnection);
    const auto services = layer->getServices();
    auto* state = qobject_cast<SystemEventService*>(services.value(SERV_ID_SYSTEM_EVENT));
    auto* configuration
        = qobject_cast<ConfigurationService*>(services.value(SERV_ID_CONFIGURATION));
    auto* notify = qobject_cast<NotificationService*>(services.value(SERV_ID_NOTIFICATION));

    sinceStart.start();
    out << "internal processor stand-in on " << ip.slaveName() << ", sample installation in "
        << sample.root() << "\n\n";
    int packets = 0, retransmissions = 0, failures = 0;
    int lastNumber = -1;
    QObject::connect(
        &ip, &InternalProcessorSim::packetReceived, [&](const InternalProcessorSim::Packet& p) {
            ++packets;
            const bool again = p.messageClass == 1 && p.packetNumber == lastNumber;
            retransmissions += again;
            if (p.messageClass == 1)
                lastNumber = p.packetNumber;
            if (parser.isSet("trace") || again)
                line() << "line      RU -> IP class " << p.messageClass << " #" << p.packetNumber
                       << " service " << p.serviceId << " " << p.payload.toHex(' ')
                       << (again ? "  (retransmission)" : "") << "\n";
        });

    QObject::connect(state, &SystemEventService::stateChanged, &app,
                     [&](SystemEventService::States s) {
                         if (s == SystemEventService::NO_RI_Link)
                             ++failures;
                         line() << "RC state  " << nameOf(s) << "\n";
                     });
    for (const char* name : { "rc_sw_rev", "ec_sw_rev", "hw_rev", "ru_id", "joystick_01_id" }) {
        if (Tag* tag = tags.get(name))
            QObject::connect(tag, &Tag::valueUpdated, &app, [name](const QVariant& v) {
                line() << "config    " << name << " = " << v.toString() << "\n";
            });
    }
    Tag* joystick = tags.get("joystick_01");
    QObject::connect(notify, &NotificationService::notificationNew, &app,
                     [](QString text, NOTIFICATION_ID_T, int reference,
                        NorvikLinkDefines::NotificationSeverity severity) {
                         line() << "notice    #" << reference << " " << nameOf(severity) << " \""
                                << text << "\"\n";
                     });
    QObject::connect(notify, &NotificationService::popupNotificationNew, &app,
                     [notify](QString text, NOTIFICATION_ID_T, int reference,
                              NorvikLinkDefines::NotificationSeverity severity) {
                         line() << "popup     #" << reference << " " << nameOf(severity) << " \""
                                << text << "\", operator acknowledges\n";
                         QMetaObject::invokeMethod(
                             notify, [notify, reference] { notify->acknowledge(reference); });
                     });
    QObject::connect(&notifications, &NotificationPeer::acknowledged, [](quint16 reference) {
        line() << "IP        popup #" << reference << " acknowledged on the line\n";
    });
    QObject::connect(&processData, &ProcessDataPeer::statusFrameReceived,
                     [](const QByteArray& frame) {
                         static int n = 0;
                         if (n++ % 4 == 0)
                             line() << "status    frame to IP " << frame.toHex(' ') << "\n";
                     });

    // The script, on a 100 ms tick.
    const auto onService = [](QObject* target, const char* slot) {
        QMetaObject::invokeMethod(target, slot, Qt::QueuedConnection);
    };
    int tick = 0;
    QTimer script;
    QObject::connect(&script, &QTimer::timeout, [&] {
        const int t = ++tick * 100;
        const int phase = t % 10000;
        if (phase == 300) {
            line() << "script    reset\n";
            onService(state, "reset");
        } else if (phase == 700) {
            line() << "script    read the configuration parameters\n";
            onService(configuration, "requestConfigurationParameters");
        } else if (phase == 1500) {
            line() << "script    select\n";
            onService(state, "select");
        } else if (phase == 2000) {
            line() << "script    arm\n";
            onService(state, "arm");
        } else if (phase == 3000) {
            notifications.raise(7, 3, 1, QStringLiteral("Battery low"));
        } else if (phase == 3500) {
            notifications.raisePopup(8, 5, 2, QStringLiteral("Drop detected"));
        } else if (phase == 4500) {
            line() << "script    machine stop pressed\n";
            onService(state, "stopTriggered");
        } else if (phase == 6500) {
            line() << "script    internal processor stops answering\n";
            ip.setWithholdAcks(true);
            events.setAutoReply(false);
            onService(state, "unselect");
        } else if (phase == 7500) {
            line() << "script    internal processor answers again\n";
            ip.setWithholdAcks(false);
            events.setAutoReply(true);
            onService(state, "reset");
        }
        // Process data: the joystick swings, one frame a tick.
        processData.setJoystick(1, qint16(800 * std::sin(t / 700.0)));
        processData.sendFrame();
        if (t % 1000 == 0 && joystick)
            line() << "tag       joystick_01 = " << joystick->getValue().toInt() << "\n";
    });
    script.start(100);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();

    QMetaObject::invokeMethod(
        layer, [layer] { delete layer; }, Qt::BlockingQueuedConnection);
    serviceThread.quit();
    serviceThread.wait();
    out << "\nsummary after " << sinceStart.elapsed() / 1000.0 << " s\n"
        << "  RC state at the end       " << nameOf(state->state()) << "\n"
        << "  packets RU -> IP          " << packets << "\n"
        << "  retransmissions           " << retransmissions << "\n"
        << "  link failures             " << failures << "\n"
        << "  status frames to IP       " << processData.statusFrames().size() << "\n"
        << "  popups acknowledged       " << notifications.acknowledgements().size() << Qt::endl;
    return 0;
}
