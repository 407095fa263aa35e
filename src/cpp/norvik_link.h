#ifndef NORVIK_LINK_H
#define NORVIK_LINK_H

#include "norvik_link_defines.h"
#include "systemeventservice.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <QVector>

class App;
class AppDatabase;
class BacklightHandler;
class BGPCom;
class CFallbackService;
class ConfigurationService;
class GFallbackService;
class LauncherClient;
class JsonInterfaceUdpSocketServer;
class JsonInterfaceWebSocketServer;
class MachineStop;
class NorvikLinkRequestMapper;
class QSettings;
class NotificationService;
class NotificationStorage;
class PeriodicDataHandler;
class QThread;
class QTimer;
class ServiceBase;
class ServiceLayer;
class Tag;
class TagDatabase;
class TouchController;
class TransportLayer;
class UserDatabase;
class WifiSetupAndStatus;
class battery;
namespace tessiro {
class HttpListener;
}
class i2cHandler;

// The one object the touch-screen interface creates. The constructor brings
// the library up in a fixed order (log format, registrations, databases,
// the internal link stack on its service thread, launcher, machine stop,
// the hooks that start the base-unit link once the remote knows its
// identity); afterwards it is the interface's single entry point.
//
// A machine stop held when the facade starts is not lost: once everything is
// connected the facade hands it to the remote-control state machine and to
// its own stopPressed(), and the base-unit manager, when it is created while
// the button is held, sends the stop as soon as its link is up.
//
// Shutdown. The destructor ends the library's threads before anything they
// use is freed: first the base-unit manager (deleted on its thread, which is
// then joined), then the service layer with the serial port and the six
// services (likewise, the serial read thread and the popup thread with it),
// then the machine-stop button, the battery gauge and backlight, the I2C bus
// with its worker thread, the touch controller and the WiFi handler; the databases, the
// notification history and the launcher client go last with the facade. Once the destructor returns
// no thread of the library is left running.
class NorvikLink : public QObject
{
    Q_OBJECT
    Q_PROPERTY(TagDatabase* tags READ getTags NOTIFY tagsChanged)
    Q_PROPERTY(AppDatabase* apps READ getApps NOTIFY appsChanged)
    // Link health, see LinkHealth; refreshed about once a second, with the tags of the same
    // names ("link_frames_sent", ..., "bu_dropped_messages").
    Q_PROPERTY(qulonglong framesSent READ framesSent NOTIFY linkHealthChanged)
    Q_PROPERTY(qulonglong framesReceived READ framesReceived NOTIFY linkHealthChanged)
    Q_PROPERTY(qulonglong crcFailures READ crcFailures NOTIFY linkHealthChanged)
    Q_PROPERTY(qulonglong retransmissions READ retransmissions NOTIFY linkHealthChanged)
    Q_PROPERTY(qulonglong linkFailures READ linkFailures NOTIFY linkHealthChanged)
    Q_PROPERTY(qulonglong baseUnitReconnects READ baseUnitReconnects NOTIFY linkHealthChanged)
    Q_PROPERTY(
        qulonglong baseUnitDroppedMessages READ baseUnitDroppedMessages NOTIFY linkHealthChanged)

public:
    // Health of the remote's two links, counted since start-up; nothing here changes what
    // goes on either wire. Internal link (TransportLayer): frames written to the line,
    // frames received intact, frames dropped as damaged, retransmissions, link failures
    // (each one takes the remote to NO_RI_Link). Base-unit link (BGPCom): TCP connections
    // after the first, and messages thrown away (BGPCom::droppedMessages()).
    struct LinkHealth
    {
        quint64 framesSent = 0;
        quint64 framesReceived = 0;
        quint64 crcFailures = 0;
        quint64 retransmissions = 0;
        quint64 linkFailures = 0;
        quint64 baseUnitReconnects = 0;
        quint64 baseUnitDroppedMessages = 0;
    };

    explicit NorvikLink(QObject* parent = nullptr);
    ~NorvikLink() override;

    Q_INVOKABLE void arm();
    Q_INVOKABLE void disarm();
    Q_INVOKABLE void startApp(QString tag, QString password);
    Q_INVOKABLE void startApp(QString tag);
    Q_INVOKABLE void closeApp();
    Q_INVOKABLE void userLogin(QString user);
    Q_INVOKABLE void userLogOut();
    Q_INVOKABLE int getLedValue(int ledNo);
    Q_INVOKABLE void setLedValue(int ledNo, int value);
    Q_INVOKABLE TagDatabase* getTags();
    Q_INVOKABLE AppDatabase* getApps();
    Q_INVOKABLE UserDatabase* getUsers();
    Q_INVOKABLE NotificationStorage* getNotificationStore();
    Q_INVOKABLE BacklightHandler* getBacklightHandler();
    Q_INVOKABLE void setTouchMode(int mode);

    // For integrators and tests: the components behind the facade.
    SystemEventService* systemEventService() const { return eventService; }
    BGPCom* baseUnitManager() const { return bgpCom; }
    MachineStop* machineStopButton() const { return machineStop; }
    TouchController* touchController() const { return m_touchController; }
    WifiSetupAndStatus* wifi() const { return wss; }

    // The counters as they are now (the properties and tags show them as of the last
    // refresh). Call on the facade's thread.
    LinkHealth linkHealth() const;
    qulonglong framesSent() const { return publishedHealth.framesSent; }
    qulonglong framesReceived() const { return publishedHealth.framesReceived; }
    qulonglong crcFailures() const { return publishedHealth.crcFailures; }
    qulonglong retransmissions() const { return publishedHealth.retransmissions; }
    qulonglong linkFailures() const { return publishedHealth.linkFailures; }
    qulonglong baseUnitReconnects() const { return publishedHealth.baseUnitReconnects; }
    qulonglong baseUnitDroppedMessages() const { return publishedHealth.baseUnitDroppedMessages; }

signals:
    void tagsChanged();
    void appsChanged();
    void appStarting();
    void appStartFailed();
    void appStartSuccessful();
    void initService();
    void ackNotification(int reference);
    void newNotification(QString message, NOTIFICATION_ID_T id, int reference, quint8 severity);
    void newPopupNotification(QString message, NOTIFICATION_ID_T id, int reference,
                              quint8 severity);
    void removePopupNotification(int reference);
    void vibrate(int numOfVibrations, int whichMotor, bool longSignal);
    void buzzer(int numOfBuzzes, bool longSignal);
    void sendCmdSignal(QByteArray data);
    void recvCmd(QString data);
    void recvBinaryCmd(QByteArray data);
    void stopPressed();
    void stopReleased();
    // The link-health properties changed; at most once per refresh, about once a second.
    void linkHealthChanged();

public slots:
    void newSystemEventState(SystemEventService::States state);
    void ackNotificationSlot(int reference);
    void newNotificationSlot(QString message, NOTIFICATION_ID_T id, int reference,
                             NorvikLinkDefines::NotificationSeverity severity);
    void newPopupNotificationSlot(QString message, NOTIFICATION_ID_T id, int reference,
                                  NorvikLinkDefines::NotificationSeverity severity);
    void vibrateSlot(int numOfVibrations, int whichMotor, bool longSignal);
    void buzzerSlot(int numOfBuzzes, bool longSignal);
    void sendCmd(QByteArray data);
    void sendCmd(QString data);
    void recvCmdSlot(QByteArray data);
    void closeAppSlot();
    void newLocalNotificationSlot(QString message, bool popup,
                                  NorvikLinkDefines::NotificationSeverity severity, int reference);

private slots:
    void initializeBGPCom(QVariant value);
    void storeRuid(QVariant ruIdentity);
    void updateIPs();
    void rcStateChanged(QVariant state);

private:
    bool isControlSystem() const;
    void initTouchController();
    void initWifi();
    void initWebServices();
    // Deletes the thread's worker on the thread itself, then joins it.
    static void endThread(QThread* thread, QObject* worker);
    // Takes the counters into the properties and tags when they changed.
    void publishLinkHealth();

    TagDatabase* tagDatabase = nullptr;
    AppDatabase* applications = nullptr;
    // Tags are guarded: TagDatabase::clear() may delete them at any time.
    QPointer<Tag> systemStateTag;
    App* thisApp = nullptr;
    App* launchingApp = nullptr;
    UserDatabase* users = nullptr;
    LauncherClient* launcherClient = nullptr;
    BGPCom* bgpCom = nullptr;
    ServiceLayer* serviceLayer = nullptr;
    SystemEventService* eventService = nullptr;
    NotificationService* notificationService = nullptr;
    ConfigurationService* configurationService = nullptr;
    CFallbackService* cFallbackService = nullptr;
    GFallbackService* gFallbackService = nullptr;
    PeriodicDataHandler* periodicDataHandler = nullptr;
    QMap<unsigned char, ServiceBase*> _services;
    NotificationStorage* notificationStore = nullptr;
    QPointer<Tag> remoteIdTag;
    MachineStop* machineStop = nullptr;
    i2cHandler* i2c2Handler = nullptr;
    battery* batteryHandler = nullptr;
    BacklightHandler* backlightHandler = nullptr;
    TouchController* m_touchController = nullptr;
    WifiSetupAndStatus* wss = nullptr;
    QSettings* webSettings = nullptr;
    NorvikLinkRequestMapper* requestMapper = nullptr;
    tessiro::HttpListener* httpListener = nullptr;
    JsonInterfaceWebSocketServer* webSocketServer = nullptr;
    JsonInterfaceUdpSocketServer* udpServer = nullptr;
    QThread* bgpComThread = nullptr;
    QThread* serviceThread = nullptr;
    QTimer* checkMyIpTimer = nullptr;
    // Found by the first updateIPs(), which the constructor runs.
    bool ipTagsFound = false;
    QPointer<Tag> wlanIpTag;
    QPointer<Tag> ethIpTag;
    QPointer<Tag> cableTag;
    // Lives on the service thread; its counters are atomics.
    TransportLayer* transportLayer = nullptr;
    LinkHealth publishedHealth;
    QVector<QPointer<Tag>> healthTags; // in the order of the fields of LinkHealth
};

#endif
