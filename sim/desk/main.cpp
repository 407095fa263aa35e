// The remote on the desk: the sample installation, a temporary sysroot with
// the machine-stop line as files, the internal processor stand-in on a
// pseudo-terminal, the base unit on loopback, the launcher on a private
// local socket, and the library's NorvikLink facade as the interface creates
// it. A script runs the reset handshake (a control system selects itself),
// the configuration walk that brings the remote's identity and starts the
// base-unit link, arm, process and periodic data, a notification and a
// popup, a machine stop and its release, a command round trip, and a stretch
// in which the internal processor stops answering; meanwhile the battery drains and
// charges, the light and the WiFi signal change, and the touch panel switches to glove
// mode and reports water; faults named with --fault come and go in every round.
// The REST API, a status page and the live WebSocket feed are served on
// loopback all along.
#include "backlighthandler.h"
#include "norvik_link.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#ifdef NORVIK_TOUCH_STANDIN
#include "egalaxsim.h"
#endif

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <QWebSocket>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);
QElapsedTimer sinceStart;

QTextStream& line()
{
    return out << QString::asprintf("%7.3fs  ", sinceStart.elapsed() / 1000.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("The remote on the desk");
    parser.addHelpOption();
    parser.addOption({ "seconds", "How long to run (default 14).", "n", "14" });
    parser.addOption({ "trace", "Print every packet on the serial line." });
    parser.addOption({ "log", "Show the library's own log." });
    parser.addOption({ "http-port", "Port of the REST API and the status page (default 8080).",
                       "port", "8080" });
    // Faults on the line and in the remote's own files are on from 3.5 s to 5 s of every
    // round, those of its surroundings from 5 s to 13.5 s.
    const QStringList localFaults
        = { "serial-noise", "ip-silent", "launcher-gone", "history-unwritable", "stop-unreadable" };
    const QStringList knownFaults
        = localFaults + QStringList { "baseunit-restart", "baseunit-cut", "baseunit-garbage",
                                      "dbus-gone",        "i2c-silent",   "http-flood" };
    parser.addOption({ "fault",
                       "Switch a fault on for a stretch of every round (repeatable or "
                       "a comma list): "
                           + knownFaults.join(", ") + ".",
                       "name" });
    parser.addOption({ "capture",
                       "Record every byte on the serial line, both ways, into a text file: a "
                       "header line, then one line per piece read or written, \"<microseconds "
                       "since the epoch> RU|IP <hex bytes>\" (RU: sent by the library).",
                       "file" });
    parser.process(app);
    QStringList faults;
    for (const QString& value : parser.values("fault"))
        faults += value.split(',', Qt::SkipEmptyParts);
    for (const QString& name : qAsConst(faults)) {
        if (!knownFaults.contains(name)) {
            out << "unknown fault " << name << "; known: " << knownFaults.join(", ") << "\n";
            return 1;
        }
    }
    const auto faultOn = [&faults](const char* name) { return faults.contains(name); };
    const int seconds = qMax(2, parser.value("seconds").toInt());
    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    if (!parser.isSet("log"))
        QLoggingCategory::setFilterRules("*.info=false\n*.warning=false");

    // The remote's world in temporary folders, and the stand-ins.
    StandIns world;
    if (!world.isValid()) {
        out << "the stand-ins cannot start (is 127.0.0.1:1147 taken?)\n";
        return 1;
    }
    const QString stopButton = world.stopButton();
    InternalProcessorSim& ip = world.ip;
    QFile capture(parser.value("capture"));
    if (parser.isSet("capture")) {
        if (!capture.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            out << "cannot write the capture " << capture.fileName() << "\n";
            return 1;
        }
        capture.write("# norvik serial capture 1\n");
        // Flushed piece by piece: the runner leaves with _Exit, and a capture that is read
        // while it runs is complete up to the last piece.
        QObject::connect(&ip, &InternalProcessorSim::lineBytes, &capture,
                         [&capture](bool fromRemote, const QByteArray& bytes) {
                             const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::system_clock::now().time_since_epoch());
                             capture.write(QByteArray::number(qint64(now.count()))
                                           + (fromRemote ? " RU " : " IP ") + bytes.toHex() + '\n');
                             capture.flush();
                         });
    }
    ConfigurationPeer& parameters = world.parameters;
    parameters.setValue("RCSR", 0x01040107); // 1.4
    parameters.setValue("ECSR", 0x02030009); // 2.3.9
    SystemEventPeer& events = world.events;
    ProcessDataPeer& processData = world.process;
    NotificationPeer& notifications = world.notifications;
    BaseUnitSimulator& baseUnit = world.baseUnit;
    baseUnit.setStatusOnInit(39, 1);
    LauncherSimulator& launcher = world.launcher;
    // The REST API, the status page and the live WebSocket feed, on loopback only.
    const int httpPort = parser.value("http-port").toInt();
    world.setWebServices({ { "restapi/enabled", true },
                           { "restapi/host", "127.0.0.1" },
                           { "restapi/port", httpPort },
                           { "websockets/enabled", true },
                           { "websockets/host", "127.0.0.1" },
                           { "websockets/interval", 500 } });

    // A client of the REST API and one of the live feed.
    QNetworkAccessManager rest;
    QObject::connect(&rest, &QNetworkAccessManager::finished, [](QNetworkReply* reply) {
        line() << "REST      GET " << reply->url().path() << "?" << reply->url().query() << " -> "
               << reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() << " "
               << reply->readAll() << "\n";
        reply->deleteLater();
    });
    QWebSocket feed;
    int feedMessages = 0;
    QObject::connect(&feed, &QWebSocket::textMessageReceived, [&feedMessages] { ++feedMessages; });

    // The library, as the interface creates it.
    sinceStart.start();
    NorvikLink link;
    TagDatabase* tags = link.getTags();
    feed.open(QUrl(QStringLiteral("ws://127.0.0.1:6259")));
    out << "remote on the desk: sysroot " << world.sysroot.path() << ", internal processor on "
        << ip.slaveName() << ", base unit on 127.0.0.1:1147\n"
        << "status page http://127.0.0.1:" << httpPort << "/index.html, REST API under /api/1.0/, "
        << "live feed ws://127.0.0.1:6259\n\n";

    int lastNumber = -1;
    QObject::connect(
        &ip, &InternalProcessorSim::packetReceived, [&](const InternalProcessorSim::Packet& p) {
            const bool again = p.messageClass == 1 && p.packetNumber == lastNumber;
            if (p.messageClass == 1)
                lastNumber = p.packetNumber;
            if (parser.isSet("trace") || again)
                line() << "line      RU -> IP class " << p.messageClass << " #" << p.packetNumber
                       << " service " << p.serviceId << " " << p.payload.toHex(' ')
                       << (again ? "  (retransmission)" : "") << "\n";
        });
    QObject::connect(link.systemEventService(), &SystemEventService::stateChanged, &app,
                     [](SystemEventService::States s) {
                         line() << "RC state  "
                                << QMetaEnum::fromType<SystemEventService::States>().valueToKey(s)
                                << "\n";
                     });
    for (const char* name :
         { "rc_sw_rev", "ec_sw_rev", "ru_identity", "g_link_status", "bu_state",
           "hydraulic_pressure", "ru_battery", "ru_charge_state", "backlightIntensity",
           "light_sensor_value", "touch_mode", "touch_state", "g_link_rssi" }) {
        if (Tag* tag = tags->get(QString::fromLatin1(name)))
            QObject::connect(tag, &Tag::valueUpdated, &app, [name](const QVariant& v) {
                line() << "tag       " << name << " = " << v.toString() << "\n";
            });
    }
    QObject::connect(&link, &NorvikLink::newNotification, &app,
                     [](QString text, NOTIFICATION_ID_T, int reference, quint8 severity) {
                         line() << "notice    #" << reference << " severity " << severity << " \""
                                << text << "\"\n";
                     });
    QObject::connect(&link, &NorvikLink::newPopupNotification, &app,
                     [&link](QString text, NOTIFICATION_ID_T, int reference, quint8 severity) {
                         line() << "popup     #" << reference << " severity " << severity << " \""
                                << text << "\", operator acknowledges\n";
                         link.ackNotificationSlot(reference);
                     });
    QObject::connect(&notifications, &NotificationPeer::acknowledged, [](quint16 reference) {
        line() << "IP        popup #" << reference << " acknowledged on the line\n";
    });
    QObject::connect(&link, &NorvikLink::stopPressed,
                     [] { line() << "button    machine stop pressed\n"; });
    QObject::connect(&link, &NorvikLink::stopReleased,
                     [] { line() << "button    machine stop released\n"; });
    QObject::connect(
        &baseUnit, &BaseUnitSimulator::messageReceived, [](quint8 id, const QByteArray& payload) {
            if (id == BaseUnitSimulator::CMD || id == BaseUnitSimulator::E_STOP
                || id == BaseUnitSimulator::INIT)
                line() << "BU        received id " << id << " " << payload.toHex(' ') << "\n";
        });
    QObject::connect(&link, &NorvikLink::recvCmd, [](const QString& text) {
        line() << "command   from the base unit: \"" << text << "\"\n";
    });
    QObject::connect(&launcher, &LauncherSimulator::commandReceived,
                     [](const QString& command, const QString& data) {
                         line() << "launcher  " << command << " " << data << "\n";
                     });

    // What the summary counts; the stand-ins' own records are forgotten every round, so
    // a long run keeps its memory.
    int statusFrames = 0, popupsAcknowledged = 0, baseUnitCommands = 0, launcherCommands = 0;
    const auto tally = [&] {
        statusFrames += processData.statusFrames().size();
        popupsAcknowledged += notifications.acknowledgements().size();
        baseUnitCommands += baseUnit.receivedCount(BaseUnitSimulator::CMD);
        launcherCommands += launcher.commands().size();
        world.forgetRecords();
    };
    // More connections than the REST API has handlers for, while http-flood is on.
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    const auto switchSurroundingFaults = [&](bool on) {
        if (faultOn("baseunit-restart")) {
            line() << "fault     base unit " << (on ? "switched off" : "switched on again") << "\n";
            baseUnit.setRunning(!on);
        }
        if (faultOn("baseunit-cut") && on) {
            line() << "fault     base unit cuts its line in the middle of a message\n";
            baseUnit.cutInMessage(BaseUnitSimulator::CMD, "cut short", 15);
        }
        if (faultOn("baseunit-garbage") && on) {
            line() << "fault     base unit sends garbage and a message that never ends\n";
            baseUnit.sendRaw("\x01\x02 garbage \xff");
            baseUnit.sendRaw(QByteArray("LrdA\x03\x00\xff\xff\0\0\0\0", 12));
        }
        if (faultOn("dbus-gone")) {
            line() << "fault     system bus with NetworkManager " << (on ? "gone" : "back") << "\n";
            if (on)
                world.networkManager.stop();
            else
                world.networkManager.start();
        }
        if (faultOn("i2c-silent")) {
            line() << "fault     battery gauge " << (on ? "silent" : "answers again") << "\n";
            world.i2c.setFault(SimulatedI2cBus::GAUGE,
                               on ? SimulatedI2cBus::NoAcknowledge : SimulatedI2cBus::NoFault);
        }
        if (faultOn("http-flood")) {
            line() << "fault     " << (on ? "120 idle connections to" : "idle connections leave")
                   << " the REST API\n";
            for (int i = 0; on && i < 120; ++i) {
                flood.emplace_back(new QTcpSocket);
                flood.back()->connectToHost(QHostAddress::LocalHost, quint16(httpPort));
            }
            if (!on)
                flood.clear();
        }
    };
    const QString history = world.sysroot.path() + "/var/lib/norviklinklibdata/notification.db";
    const auto switchLocalFaults = [&](bool on) {
        for (const QString& name : localFaults) {
            if (faults.contains(name))
                line() << "fault     " << name << (on ? " on" : " off") << "\n";
        }
        if (faultOn("serial-noise"))
            ip.setCorruption(on ? 0.01 : 0, quint32(sinceStart.elapsed()));
        if (faultOn("ip-silent"))
            ip.setSilent(on);
        if (faultOn("launcher-gone") && on)
            launcher.close();
        else if (faultOn("launcher-gone"))
            launcher.listen();
        if (faultOn("history-unwritable")) {
            // A directory where the database file belongs; the file waits beside it.
            if (on) {
                QFile::rename(history, history + ".away");
                QDir().mkpath(history);
            } else {
                QDir(history).removeRecursively();
                QFile::rename(history + ".away", history);
            }
        }
        if (faultOn("stop-unreadable") && on)
            QFile::remove(stopButton);
        else if (faultOn("stop-unreadable"))
            remoteworld::writeFile(stopButton, "1");
        if (!on && (faultOn("serial-noise") || faultOn("ip-silent"))) {
            line() << "script    the internal processor starts the handshake again\n";
            events.sendEvent(SystemEventService::RESET);
        }
    };

    // The script, on a 100 ms tick, repeated every 14 s.
    int tick = 0;
    int charge = 80;
    world.i2c.setDesignCapacity(4400);
    QTimer script;
    QObject::connect(&script, &QTimer::timeout, [&] {
        // What was printed shows within a tick, in a pipe too.
        out.flush();
        const int t = ++tick * 100;
        const int phase = t % 14000;
        if (phase == 0)
            tally();
        if (!faults.isEmpty() && (phase == 3500 || phase == 5000))
            switchLocalFaults(phase == 3500);
        if (!faults.isEmpty() && (phase == 5000 || phase == 13500))
            switchSurroundingFaults(phase == 5000);
        if (phase == 300) {
            line() << "script    the internal processor starts the handshake\n";
            events.sendEvent(SystemEventService::RESET);
        } else if (phase == 2000) {
            rest.get(QNetworkRequest(QUrl(
                QString("http://127.0.0.1:%1/api/1.0/tags/?id=state,ru_identity").arg(httpPort))));
        } else if (phase == 2500) {
            line() << "script    arm\n";
            link.arm();
        } else if (phase == 3000) {
            QByteArray frame(14, '\0');
            frame[4] = char(0x2C);
            frame[5] = char(0x01);
            baseUnit.setPeriodicData(frame);
            baseUnit.setPeriodicInterval(200);
        } else if (phase == 4000) {
            notifications.raise(7, 3, 1, QStringLiteral("Battery low"));
        } else if (phase == 4500) {
            notifications.raisePopup(8, 5, 2, QStringLiteral("Drop detected"));
        } else if (phase == 5500) {
            line() << "script    operator presses the machine stop\n";
            remoteworld::writeFile(stopButton, "0");
        } else if (phase == 6500) {
            remoteworld::writeFile(stopButton, "1");
        } else if (phase == 8000) {
            line() << "script    command round trip\n";
            link.sendCmd(QStringLiteral("lift"));
            baseUnit.sendCommand("lifted");
        } else if (phase == 9000) {
            link.startApp(QStringLiteral("diagnostics_ui"));
        } else if (phase == 10000) {
            line() << "script    internal processor stops answering\n";
            ip.setWithholdAcks(true);
            events.setAutoReply(false);
            link.disarm();
        } else if (phase == 11500) {
            line() << "script    internal processor answers again\n";
            ip.setWithholdAcks(false);
            events.setAutoReply(true);
            events.sendEvent(SystemEventService::RESET);
        }
        // The peripherals move with the stand-ins: the battery drains for 7 s and then
        // charges, the light and the access point's signal change every 2 s.
        if (t % 1000 == 0) {
            const bool charging = phase >= 7000;
            charge = qBound(0, charge + (charging ? 1 : -1), 100);
            world.i2c.setAverageCurrent(charging ? 400 : -250);
            world.i2c.setRelativeStateOfCharge(qint16(charge));
        }
        if (t % 2000 == 0) {
            world.i2c.setLightResult(quint8(2 + (t / 2000) % 4),
                                     quint16(600 + (t / 2000) % 7 * 50));
            world.networkManager.setStrength(uchar(40 + 30 * std::cos(t / 9000.0)));
        }
        if (phase == 6000) {
            line() << "script    backlight to 0.8, glove mode, the panel reports water\n";
            QMetaObject::invokeMethod(link.getBacklightHandler(), "setBacklightIntesity",
                                      Q_ARG(QVariant, 0.8));
            link.setTouchMode(2);
#ifdef NORVIK_TOUCH_STANDIN
            egalaxSimSetStateWord(0x800);
#endif
        } else if (phase == 12500) {
            link.setTouchMode(1);
#ifdef NORVIK_TOUCH_STANDIN
            egalaxSimSetStateWord(0);
#endif
        }
        processData.setJoystick(1, qint16(800 * std::sin(t / 700.0)));
        processData.setField(QStringLiteral("state"), events.rcState());
        processData.sendFrame();
    });
    script.start(100);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    tally();

    const NorvikLink::LinkHealth health = link.linkHealth();
    const auto value = [tags](const char* name) {
        Tag* tag = tags->get(QString::fromLatin1(name));
        return tag ? tag->getValue().toString() : QStringLiteral("-");
    };
    out << "\nsummary after " << sinceStart.elapsed() / 1000.0 << " s\n"
        << "  RC state                 "
        << QMetaEnum::fromType<SystemEventService::States>().valueToKey(
               link.systemEventService()->state())
        << "\n"
        << "  link status (g_link_status) " << value("g_link_status") << "\n"
        << "  remote identity          " << value("ru_identity") << "\n"
        << "  internal link frames     " << health.framesSent << " sent, " << health.framesReceived
        << " received, " << health.crcFailures << " damaged\n"
        << "  retransmissions          " << health.retransmissions << ", link failures "
        << health.linkFailures << "\n"
        << "  base-unit link           " << health.baseUnitReconnects << " reconnects, "
        << health.baseUnitDroppedMessages << " messages dropped\n"
        << "  status frames to IP      " << statusFrames << "\n"
        << "  popups acknowledged      " << popupsAcknowledged << "\n"
        << "  base-unit commands       " << baseUnitCommands << "\n"
        << "  launcher commands        " << launcherCommands << "\n"
        << "  battery, charge state    " << value("ru_battery") << " %, "
        << value("ru_charge_state") << " %\n"
        << "  backlight, light         " << value("backlightIntensity") << ", "
        << value("light_sensor_value") << " lx\n"
        << "  touch mode, state        " << value("touch_mode") << ", " << value("touch_state")
        << "\n"
        << "  WiFi signal              " << value("g_link_rssi") << " %\n"
        << "  live feed messages       " << feedMessages << Qt::endl;
    // The library's threads live until process exit, as on the remote.
    std::fflush(stdout);
    std::_Exit(0);
}
