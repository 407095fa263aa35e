#include "norvik_link.h"

#include "app.h"
#include "appconfig.h"
#include "appdatabase.h"
#include "backlighthandler.h"
#include "batteryHandler.h"
#include "bgpcom.h"
#include "cfallbackservice.h"
#include "configfile.h"
#include "configurationservice.h"
#include "data.h"
#include "gfallbackservice.h"
#include "httplistener.h"
#include "httprequestmapper.h"
#include "i2chandler.h"
#include "jsoninterfaceudpsocketserver.h"
#include "jsoninterfacewebsocketserver.h"
#include "launcherclient.h"
#include "linux_touchcontroller.h"
#include "machinestop.h"
#include "notificationservice.h"
#include "notificationstoreage.h"
#include "periodicdatahandler.h"
#include "platformpaths.h"
#include "service_layer.h"
#include "tag.h"
#include "tagdatabase.h"
#include "transport_layer.h"
#include "tsan.h"
#include "user.h"
#include "userdatabase.h"
#include "utillityfunctions.h"
#include "wifiSetupAndStatus.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QtQml>

#include <cstdio>
#include <iterator>

namespace {
const char* const noIpAddress = "No IP Address";

QString firstAddress(const char* interfaceName)
{
    const QList<QNetworkAddressEntry> entries
        = QNetworkInterface::interfaceFromName(QString::fromLatin1(interfaceName)).addressEntries();
    return entries.isEmpty() ? QString::fromLatin1(noIpAddress) : entries.first().ip().toString();
}

// The link-health counters as tags.
struct HealthTag
{
    const char* name;
    const char* label;
    quint64 NorvikLink::LinkHealth::*field;
};
using H = NorvikLink::LinkHealth;
const HealthTag healthTagTable[] = {
    { "link_frames_sent", "Internal link frames sent", &H::framesSent },
    { "link_frames_received", "Internal link frames received intact", &H::framesReceived },
    { "link_crc_failures", "Internal link damaged frames dropped", &H::crcFailures },
    { "link_retransmissions", "Internal link retransmissions", &H::retransmissions },
    { "link_failures", "Internal link failures", &H::linkFailures },
    { "bu_reconnects", "Base-unit link reconnections", &H::baseUnitReconnects },
    { "bu_dropped_messages", "Base-unit link messages dropped", &H::baseUnitDroppedMessages },
};
} // namespace

NorvikLink::NorvikLink(QObject* parent)
    : QObject(parent)
{
    qSetMessagePattern(
        "[%{time yy-MM-dd/HH:mm:ss.zzz}] %{if-info}Inf%{endif}%{if-debug}\033[36mDbg%{endif}"
        "%{if-warning}\033[33mWrn%{endif}%{if-critical}\033[31mErr%{endif}"
        "%{if-fatal}\033[35mFatal%{endif} (%{appname}:%{function}):\n%{message}\033[0m\n");

    qRegisterMetaType<Link>("Link");
    qRegisterMetaType<NorvikLinkDefines::NotificationSeverity>("NotificationSeverity");
    qmlRegisterUncreatableType<NorvikLinkDefines>("NorvikRemote.Defines", 1, 0, "Defines",
                                                  "Do not instance!");
    qmlRegisterUncreatableType<SystemEventService>("NorvikRemote.Services", 1, 0, "SystemEvent",
                                                   "Do not instance!");

    notificationStore = new NotificationStorage(this);

    applications = new AppDatabase(this);
    applications->prePopulate();
    thisApp = applications->getThisApp();
    qInfo() << "--- NorvikLink [" << __DATE__ << __TIME__ << "] launched by"
            << (thisApp ? thisApp->getName() : QCoreApplication::applicationName()) << "---";

    users = new UserDatabase(applications, this);

    tagDatabase = new TagDatabase(this);
    tagDatabase->prePopulate();

    initTouchController();
    initWifi();
    updateIPs();

    Tag* dataValid = new Tag(QStringLiteral("tagDataValid"), this);
    dataValid->setLabel(QStringLiteral("Tag data valid"));
    tagDatabase->append(dataValid);
    systemStateTag = new Tag(QStringLiteral("systemEventServiceState"), this);
    tagDatabase->append(systemStateTag);
    for (const HealthTag& entry : healthTagTable) {
        Tag* counter = new Tag(QLatin1String(entry.name), this);
        counter->setLabel(QLatin1String(entry.label));
        tagDatabase->append(counter);
        healthTags << counter;
    }

    periodicDataHandler = new PeriodicDataHandler(this, tagDatabase);
    launcherClient = new LauncherClient(QStringLiteral("NKLauncher"), this);
    machineStop = new MachineStop(nullptr);

    serviceLayer = new ServiceLayer(tagDatabase, nullptr);
    serviceThread = new QThread;
    serviceLayer->moveToThread(serviceThread);
    serviceThread->start(QThread::InheritPriority);
    QMetaObject::invokeMethod(serviceLayer, "run", Qt::BlockingQueuedConnection);
    NORVIK_TSAN_ACQUIRE(serviceLayer); // what run() built
    transportLayer = serviceLayer->transport();

    _services = serviceLayer->getServices();
    eventService = qobject_cast<SystemEventService*>(_services.value(SERV_ID_SYSTEM_EVENT));
    configurationService
        = qobject_cast<ConfigurationService*>(_services.value(SERV_ID_CONFIGURATION));
    notificationService = qobject_cast<NotificationService*>(_services.value(SERV_ID_NOTIFICATION));
    cFallbackService = qobject_cast<CFallbackService*>(_services.value(SERV_ID_CFALLBACK));
    gFallbackService = qobject_cast<GFallbackService*>(_services.value(SERV_ID_GFALLBACK));

    configurationService->setConfigurationParameters(thisApp);

    connect(notificationService, &NotificationService::notificationNew, this,
            &NorvikLink::newNotificationSlot);
    connect(notificationService, &NotificationService::popupNotificationNew, this,
            &NorvikLink::newPopupNotificationSlot);
    connect(this, &NorvikLink::ackNotification, notificationService,
            &NotificationService::acknowledge);
    connect(notificationService, &NotificationService::resetNotification, notificationStore,
            &NotificationStorage::notificationResetSlot);
    connect(notificationService, &NotificationService::resetNotification, this,
            &NorvikLink::removePopupNotification);
    connect(this, &NorvikLink::buzzer, notificationService, &NotificationService::buzzer);
    connect(this, &NorvikLink::vibrate, notificationService, &NotificationService::vibrate);
    connect(eventService, &SystemEventService::stateChanged, this,
            &NorvikLink::newSystemEventState);
    connect(machineStop, &MachineStop::stopPressed, this, &NorvikLink::stopPressed);
    connect(machineStop, &MachineStop::stopReleased, this, &NorvikLink::stopReleased);
    connect(machineStop, &MachineStop::stopPressed, eventService,
            &SystemEventService::stopTriggered);
    connect(machineStop, &MachineStop::stopReleased, eventService,
            &SystemEventService::stopReleased);
    if (Tag* state = tagDatabase->get(QStringLiteral("state")))
        connect(state, &Tag::valueUpdated, this, &NorvikLink::rcStateChanged);
    // The button reported a stop held at start-up while it was being built,
    // before anything was connected to it: hand that stop on now.
    if (machineStop->buttonState() == STOP_BUTTON_PRESSED) {
        QMetaObject::invokeMethod(eventService, &SystemEventService::stopTriggered,
                                  Qt::QueuedConnection);
        // The interface connects once the constructor has returned.
        QTimer::singleShot(0, this, [this] {
            if (machineStop->buttonState() == STOP_BUTTON_PRESSED)
                emit stopPressed();
        });
    }

    i2c2Handler = new i2cHandler(this, QStringLiteral("/dev/i2c-2"));
    batteryHandler = new battery(this, tagDatabase, i2c2Handler);
    backlightHandler = new BacklightHandler(this, tagDatabase, i2c2Handler);

    configurationService->requestConfigurationParameters();

    // The configuration walk delivers the remote's identity as "ru_id";
    // "ru_identity" is the tag the status frame, /etc/ruid and the base-unit
    // link follow, so it takes every value "ru_id" gets.
    Tag* walkedId = tagDatabase->get(QStringLiteral("ru_id"));
    Tag* identity = tagDatabase->get(QStringLiteral("ru_identity"));
    if (walkedId && identity && walkedId != identity)
        connect(walkedId, &Tag::valueUpdated, identity,
                [identity](const QVariant& v) { identity->setValue(QVariant(v.toUInt())); });

    remoteIdTag = tagDatabase->get(QStringLiteral("ru_identity"));
    if (remoteIdTag) {
        if (remoteIdTag->getValue().toUInt() != 0)
            storeRuid(remoteIdTag->getValue());
        else
            connect(remoteIdTag, &Tag::valueUpdated, this, &NorvikLink::storeRuid);
        if (thisApp && thisApp->getConfig(QStringLiteral("type")))
            connect(remoteIdTag, &Tag::valueUpdated, this, &NorvikLink::initializeBGPCom);
    } else {
        qWarning("norvikLink: The remoteIdTag (ru_identity) doesn't exist!");
    }

    initWebServices();

    checkMyIpTimer = new QTimer;
    connect(checkMyIpTimer, &QTimer::timeout, this, &NorvikLink::updateIPs);
    // The launcher may restart; its client does not reconnect by itself, so
    // while it is unconnected it tries again on the same tick.
    connect(checkMyIpTimer, &QTimer::timeout, launcherClient, [this] {
        if (launcherClient->state() == QLocalSocket::UnconnectedState)
            launcherClient->connectToServer(QStringLiteral("NKLauncher"));
    });
    // The link-health counters reach the properties and tags on the same tick.
    connect(checkMyIpTimer, &QTimer::timeout, this, [this] { publishLinkHealth(); });
    checkMyIpTimer->start(1000);

    qmlRegisterInterface<Data>("Data", 1);
    qmlRegisterInterface<App>("App", 1);
    qmlRegisterInterface<User>("User", 1);
    qmlRegisterInterface<Tag>("Tag", 1);
    qmlRegisterInterface<TagDatabase>("Tags", 1);
    qmlRegisterInterface<AppDatabase>("Applications", 1);
    qmlRegisterInterface<UserDatabase>("Users", 1);
    qmlRegisterInterface<NotificationStorage>("NotificationStorage", 1);
    qmlRegisterInterface<BacklightHandler>("BacklightHandler", 1);
}

NorvikLink::~NorvikLink()
{
    // The web services first: the HTTP handler threads wait on this thread for
    // the facade, so their access ends before the server joins them.
    if (requestMapper)
        requestMapper->close();
    delete httpListener;
    httpListener = nullptr;
    delete webSocketServer;
    webSocketServer = nullptr;
    delete udpServer;
    udpServer = nullptr;
    delete checkMyIpTimer;
    // The manager first: it writes tags and feeds the fallback services.
    endThread(bgpComThread, bgpCom);
    bgpComThread = nullptr;
    bgpCom = nullptr;
    // The service layer takes the services, the transport and the serial
    // port (joining its read thread) with it.
    _services.clear();
    eventService = nullptr;
    transportLayer = nullptr;
    endThread(serviceThread, serviceLayer);
    serviceThread = nullptr;
    serviceLayer = nullptr;
    delete machineStop;
    machineStop = nullptr;
    // The bus clients before the bus, whose worker thread ends with it.
    delete backlightHandler;
    delete batteryHandler;
    delete i2c2Handler;
    backlightHandler = nullptr;
    batteryHandler = nullptr;
    i2c2Handler = nullptr;
    delete m_touchController;
    m_touchController = nullptr;
    delete wss;
    wss = nullptr;
    // The databases, the history and the launcher client are children and
    // go with QObject's destructor, after every thread above has ended.
}

void NorvikLink::endThread(QThread* thread, QObject* worker)
{
    if (!thread)
        return;
    // The worker goes on its own thread, as the thread's last act; wait()
    // returns after that.
    // The token orders the lambda's captures, written here, before their use there.
    [[maybe_unused]] static char handOver;
    connect(
        thread, &QThread::finished, worker,
        [thread, worker] {
            NORVIK_TSAN_ACQUIRE(&handOver);
            delete worker;
            NORVIK_TSAN_RELEASE(thread);
        },
        Qt::DirectConnection);
    NORVIK_TSAN_RELEASE(&handOver);
    thread->quit();
    thread->wait();
    NORVIK_TSAN_ACQUIRE(thread);
    delete thread;
}

NorvikLink::LinkHealth NorvikLink::linkHealth() const
{
    LinkHealth health;
    if (transportLayer) {
        health.framesSent = transportLayer->framesSent();
        health.framesReceived = transportLayer->framesReceived();
        health.crcFailures = transportLayer->crcFailures();
        health.retransmissions = transportLayer->retransmissions();
        health.linkFailures = transportLayer->linkFailures();
    }
    if (bgpCom) {
        health.baseUnitReconnects = bgpCom->reconnects();
        health.baseUnitDroppedMessages = bgpCom->droppedMessages();
    }
    return health;
}

void NorvikLink::publishLinkHealth()
{
    const LinkHealth before = publishedHealth;
    publishedHealth = linkHealth();
    bool changed = false;
    for (size_t i = 0; i < std::size(healthTagTable); ++i) {
        const quint64 value = publishedHealth.*healthTagTable[i].field;
        if (value == before.*healthTagTable[i].field)
            continue;
        changed = true;
        if (Tag* tag = healthTags.value(int(i)))
            tag->setValue(QVariant(qulonglong(value)));
    }
    if (changed)
        emit linkHealthChanged();
}

bool NorvikLink::isControlSystem() const
{
    return thisApp && thisApp->getType() == QLatin1String("controlSystem");
}

// ---- start-up hooks -------------------------------------------------------

void NorvikLink::newSystemEventState(SystemEventService::States state)
{
    if (systemStateTag)
        systemStateTag->setValue(QVariant(int(state)));
    if (state == SystemEventService::WAITING && isControlSystem())
        emit eventService->eventFired(SystemEventService::SELECT);
}

void NorvikLink::rcStateChanged(QVariant state)
{
    const uint value = state.toUInt();
    qInfo().noquote() << "RC State:" << RCStateToString(RC_STATE_T(value));
    if (value == RC_STATE_STOP || value == RC_STATE_FAILED)
        emit eventService->eventFired(SystemEventService::STOP_TRIGGERED);
}

void NorvikLink::storeRuid(QVariant ruIdentity)
{
    const uint ruid = ruIdentity.toUInt();
    if (ruid == 0) {
        qWarning("Unable to fetch RUID");
        return;
    }
    const QByteArray path
        = QFile::encodeName(PlatformPaths::systemPath(QStringLiteral("/etc/ruid")));
    FILE* file = std::fopen(path.constData(), "w+");
    if (!file) {
        qWarning("Unable to open ruid file '/etc/ruid'");
        return;
    }
    const int written = std::fprintf(file, "%u", ruid);
    if (written != 4)
        qCritical() << "Unable to write RUID to file '/etc/ruid' properly - wrote" << ruid << "("
                    << written << "bytes )";
    std::fclose(file);
}

void NorvikLink::initializeBGPCom(QVariant value)
{
    Q_UNUSED(value)
    AppConfig* type = thisApp ? thisApp->getConfig(QStringLiteral("type")) : nullptr;
    if (!type || type->getValue() != QLatin1String("controlSystem"))
        return;
    if (bgpCom)
        qFatal("Panic! A remote shall never change id number...");

    bgpCom = new BGPCom(tagDatabase, thisApp, nullptr);
    connect(bgpCom, &BGPCom::readyReadCmd, this, &NorvikLink::recvCmdSlot);
    connect(this, &NorvikLink::sendCmdSignal, bgpCom, &BGPCom::sendCmd);
    connect(machineStop, &MachineStop::stopPressed, bgpCom, &BGPCom::sendMachineStop);
    connect(bgpCom, &BGPCom::sendServiceForward, cFallbackService, &CFallbackService::cFallbackRx);
    connect(cFallbackService, &CFallbackService::cFallbackTx, bgpCom,
            &BGPCom::receiveServiceForward);
    connect(gFallbackService, &GFallbackService::up, bgpCom, &BGPCom::initFallback);
    connect(gFallbackService, &GFallbackService::down, bgpCom, &BGPCom::resetFallback);
    connect(gFallbackService, &GFallbackService::receive, bgpCom, &BGPCom::receiveFallback);
    connect(bgpCom, &BGPCom::sendFallback, gFallbackService, &GFallbackService::send);
    connect(bgpCom, &BGPCom::readyReadPeriodicData, periodicDataHandler,
            &PeriodicDataHandler::recvPeriodicData);
    connect(bgpCom, &BGPCom::configErrorNotification, this, &NorvikLink::newLocalNotificationSlot);

    connect(machineStop, &MachineStop::stopReleased, bgpCom, &BGPCom::machineStopReleased);

    bgpComThread = new QThread;
    connect(bgpComThread, &QThread::started, bgpCom, &BGPCom::run);
    bgpCom->moveToThread(bgpComThread);
    // A stop held now reaches the base unit as soon as the link is up.
    if (machineStop->buttonState() == STOP_BUTTON_PRESSED)
        QMetaObject::invokeMethod(bgpCom, &BGPCom::sendMachineStop, Qt::QueuedConnection);
    bgpComThread->start(QThread::InheritPriority);
}

// ---- notifications --------------------------------------------------------

void NorvikLink::newNotificationSlot(QString message, NOTIFICATION_ID_T id, int reference,
                                     NorvikLinkDefines::NotificationSeverity severity)
{
    notificationStore->insert(message, id, false, reference, severity);
    emit newNotification(message, id, reference, quint8(severity));
}

void NorvikLink::newPopupNotificationSlot(QString message, NOTIFICATION_ID_T id, int reference,
                                          NorvikLinkDefines::NotificationSeverity severity)
{
    notificationStore->insert(message, id, true, reference, severity);
    emit newPopupNotification(message, id, reference, quint8(severity));
}

void NorvikLink::newLocalNotificationSlot(QString message, bool popup,
                                          NorvikLinkDefines::NotificationSeverity severity,
                                          int reference)
{
    Q_UNUSED(reference)
    if (popup)
        newPopupNotificationSlot(message, NTFY_ID_GENERIC, -1, severity);
    else
        newNotificationSlot(message, NTFY_ID_GENERIC, -1, severity);
}

void NorvikLink::ackNotificationSlot(int reference)
{
    notificationStore->markAsAcked(reference);
    emit ackNotification(reference);
}

void NorvikLink::vibrateSlot(int numOfVibrations, int whichMotor, bool longSignal)
{
    emit vibrate(numOfVibrations, whichMotor, longSignal);
}

void NorvikLink::buzzerSlot(int numOfBuzzes, bool longSignal)
{
    emit buzzer(numOfBuzzes, longSignal);
}

NotificationStorage* NorvikLink::getNotificationStore()
{
    return notificationStore;
}

BacklightHandler* NorvikLink::getBacklightHandler()
{
    return backlightHandler;
}

void NorvikLink::setTouchMode(int mode)
{
    if (m_touchController)
        m_touchController->setTouchMode(mode);
}

void NorvikLink::initTouchController()
{
    m_touchController = new TouchController(tagDatabase, nullptr);
}

void NorvikLink::initWifi()
{
    wss = new WifiSetupAndStatus(tagDatabase, nullptr);
    wss->run();
    if (!thisApp)
        return;
    // A missing entry counts as empty; without a network name nothing is joined.
    const auto entry = [this](const char* key) {
        AppConfig* config = thisApp->getConfig(QString::fromLatin1(key));
        if (!config)
            qWarning().noquote() << "Could not find" << key
                                 << "key in configfile app.csv... ( needed for wifi setup )";
        return config ? config->getValue() : QString();
    };
    const QString ssid = entry("SID1");
    const QString passphrase = entry("WPA1");
    if (!ssid.isEmpty())
        wss->connectToWifi(ssid, passphrase);
}

void NorvikLink::initWebServices()
{
    const QString path = PlatformPaths::appPath(QStringLiteral("/config/webservices.cfg"));
    if (!QFileInfo::exists(path)) {
        qWarning().noquote() << "WebServices not started, no configuration file" << path;
        return;
    }
    webSettings = new QSettings(path, QSettings::IniFormat, this);
    // Read before the HTTP server's start leaves "restapi" as the current group.
    const auto value = [this](const char* key, const QVariant& fallback) {
        return webSettings->value(QLatin1String(key), fallback);
    };
    const bool restEnabled = value("restapi/enabled", false).toBool();
    const bool webSocketsEnabled = value("websockets/enabled", false).toBool();
    const QString webSocketsHost = value("websockets/host", QString()).toString();
    const quint16 webSocketsPort = quint16(value("websockets/port", 6259).toUInt());
    const int webSocketsInterval = qMax(500, value("websockets/interval", 2000).toInt());
    const bool udpEnabled = value("udpserver/enabled", false).toBool();
    const QString udpHost = value("udpserver/host", QString()).toString();
    const uint udpInPort = value("udpserver/inport", 6261).toUInt();
    const uint udpOutPort = value("udpserver/outport", 6260).toUInt();
    const int udpInterval = qMax(200, value("udpserver/interval", 200).toInt());

    const ConfigFile periodicData(
        PlatformPaths::appPath(QStringLiteral("/config/periodicdata.csv")));
    const auto addPeriodicTags = [&periodicData](auto* server) {
        for (const QString& tag : periodicData.getAllTags()) {
            if (tag.startsWith(QLatin1Char('#')) || tag.startsWith(QLatin1String("//")))
                continue;
            const QString trigger = periodicData.getValue(tag, QStringLiteral("trigger"));
            server->addPeriodicData(tag, trigger.isEmpty() || trigger.toInt() != 0);
        }
    };

    if (restEnabled) {
        // The HTTP server reads its keys from the group as long as it runs.
        webSettings->beginGroup(QStringLiteral("restapi"));
        requestMapper = new NorvikLinkRequestMapper(webSettings, this, this);
        httpListener = new tessiro::HttpListener(webSettings, requestMapper, this);
        qInfo().noquote() << "Starting REST API server on"
                          << httpListener->serverAddress().toString() << "port"
                          << httpListener->serverPort();
    } else {
        qInfo().noquote() << "REST API disabled in" << path;
    }

    if (webSocketsEnabled) {
        webSocketServer = new JsonInterfaceWebSocketServer(this, webSocketsHost, webSocketsPort,
                                                           webSocketsInterval, this);
        addPeriodicTags(webSocketServer);
    } else {
        qInfo().noquote() << "WebSockets JsonInterface disabled in" << path;
    }

    if (udpEnabled) {
        udpServer = new JsonInterfaceUdpSocketServer(this, udpHost, udpInPort, udpOutPort,
                                                     udpInterval, this);
        addPeriodicTags(udpServer);
        udpServer->start();
    } else {
        qInfo().noquote() << "UdpSocket JsonInterface disabled in" << path;
    }
}

// ---- operations -----------------------------------------------------------

void NorvikLink::arm()
{
    emit eventService->eventFired(SystemEventService::ARM_REQUEST);
}

void NorvikLink::disarm()
{
    emit eventService->eventFired(SystemEventService::DISARM_REQUEST);
}

void NorvikLink::startApp(QString tag)
{
    startApp(tag, QString());
}

void NorvikLink::startApp(QString tag, QString password)
{
    emit appStarting();
    launchingApp = nullptr;

    App* app = nullptr;
    for (int i = 0; i < applications->size() && !app; ++i) {
        App* candidate = qobject_cast<App*>(applications->at(i));
        if (candidate && candidate->getDirectory() + '/' + candidate->getExecutableName() == tag)
            app = candidate;
    }
    if (!app)
        app = qobject_cast<App*>(applications->get(tag));
    if (!app) {
        emit appStartFailed();
        qWarning().noquote() << "The application '" + tag + "' doesn't exists.";
        return;
    }
    // A protected application starts only with its own password, compared
    // exactly; an empty or wrong one is refused the same way.
    if (app->hasPassword() && password != app->getPassword()) {
        emit appStartFailed();
        qWarning("The application requires a password to start. Please pass the password as the "
                 "second argument in startApp( tag, password )");
        return;
    }
    launchingApp = app;
    configurationService->setConfigurationParameters(app);
    launcherClient->sendMessage(QStringLiteral("appStart ") + app->getDirectory() + '/'
                                + app->getExecutableName());
}

void NorvikLink::closeApp()
{
    if (isControlSystem())
        emit eventService->eventFired(SystemEventService::RESET);
    launcherClient->sendMessage(QStringLiteral("appClose"));
}

void NorvikLink::closeAppSlot()
{
    closeApp();
}

void NorvikLink::userLogin(QString user)
{
    User* found = users->getUser(user);
    if (!found) {
        qWarning().noquote() << "User '" + user + "' doesn't exists";
        return;
    }
    launcherClient->sendMessage(QStringLiteral("userLogin ") + user);
    users->setCurrentUser(found);
}

void NorvikLink::userLogOut()
{
    User* current = users->getCurrentUser();
    if (!current) {
        qWarning("userLogOut: nobody is logged in");
        return;
    }
    launcherClient->sendMessage(QStringLiteral("userLogOut ") + current->getTag());
    // Nobody is logged in afterwards, so getApps() offers every application again.
    users->setCurrentUser(nullptr);
}

int NorvikLink::getLedValue(int ledNo)
{
    Tag* leds = tagDatabase->get(QStringLiteral("led_control_1_to_8"));
    const QByteArray bytes = leds ? leds->getRawData() : QByteArray();
    if (ledNo < 1 || ledNo > bytes.size())
        return -1; // no such LED
    return quint8(bytes.at(ledNo - 1));
}

void NorvikLink::setLedValue(int ledNo, int value)
{
    Tag* leds = tagDatabase->get(QStringLiteral("led_control_1_to_8"));
    QByteArray bytes = leds ? leds->getRawData() : QByteArray();
    if (ledNo < 1 || ledNo > bytes.size()) {
        qWarning("setLedValue: no LED %d", ledNo);
        return;
    }
    bytes[ledNo - 1] = char(value & 0xFF);
    leds->setValue(bytes);
}

void NorvikLink::sendCmd(QByteArray data)
{
    if (data.size() < 1 || data.size() > 16) {
        qCritical("ERROR: sendCommand invalid data size (%d)", int(data.size()));
        return;
    }
    emit sendCmdSignal(data);
}

void NorvikLink::sendCmd(QString data)
{
    if (data.size() < 1 || data.size() > 16) {
        qCritical("ERROR: sendCommand invalid data size (%d)", int(data.size()));
        return;
    }
    emit sendCmdSignal(data.toUtf8());
}

void NorvikLink::recvCmdSlot(QByteArray data)
{
    const int end = data.indexOf('\0');
    emit recvCmd(QString::fromUtf8(end < 0 ? data : data.left(end)));
    emit recvBinaryCmd(data);
}

TagDatabase* NorvikLink::getTags()
{
    return tagDatabase;
}

AppDatabase* NorvikLink::getApps()
{
    User* current = users ? users->getCurrentUser() : nullptr;
    return current ? current->getApps() : applications;
}

UserDatabase* NorvikLink::getUsers()
{
    return users;
}

void NorvikLink::updateIPs()
{
    if (ipTagsFound) {
        // Cleared from the tag database since: nothing left to refresh.
        if (!wlanIpTag || !ethIpTag || !cableTag)
            return;
    } else {
        ipTagsFound = true;
        wlanIpTag = tagDatabase->get(QStringLiteral("wlan0ip"));
        if (!wlanIpTag)
            qFatal("Tag \"wlan0ip\" not found!");
        ethIpTag = tagDatabase->get(QStringLiteral("eth0ip"));
        if (!ethIpTag)
            qFatal("Tag \"eth0Ip\" not found!");
        cableTag = tagDatabase->get(QStringLiteral("g_link_cable"));
        if (!cableTag)
            qFatal("Tag \"g_link_cable\" not found!");
    }
    const QString eth = firstAddress("eth0");
    wlanIpTag->setValue(QVariant(firstAddress("wlan0")));
    ethIpTag->setValue(QVariant(eth));
    cableTag->setValue(QVariant(eth != QLatin1String(noIpAddress) ? 1 : 0));
}
