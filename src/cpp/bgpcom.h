#ifndef BGPCOM_H
#define BGPCOM_H

#include "message.h"
#include "norvik_link_defines.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <atomic>

class App;
class QTimer;
class Tag;
class TagDatabase;

namespace RUzad {
class Client;
}

// The base-unit manager: runs the R-Uzad client on a thread of its own, keeps the link
// status tags, decides which outgoing messages also travel through the internal link's
// fallback tunnel, feeds tunnelled bytes back into the connection and turns handshake
// errors into popup notifications.
//
// Threads. The manager is constructed on the main thread (where the tags and the
// application record live) and then moved to its own thread, where run() starts the link.
// It never touches a tag's internals from its own thread:
//  - everything it needs from the configuration ("BUID", "GSIP", "GFBM", "ru_identity")
//    and the tag pointers themselves are taken once in the constructor;
//  - the tags it decides on ("state", "g_link_cable") are mirrored: their valueUpdated
//    reaches the manager through a queued connection once it lives on its own thread;
//  - "g_link_status" is written only here, so the manager's own copy is the authority;
//  - tag values are written by an invocation queued to the tag database (a direct call when
//    both live on the same thread); the tags are held as guarded pointers and are checked
//    there, on their own thread, so that clearing the database (which disposes of its tags)
//    never leaves the manager with a dangling tag. Writes stop once a tag is gone.
// The tag database itself must outlive the manager.
//
// Machine stop. A stop stays held from sendMachineStop() until machineStopReleased(); every
// handshake completed while it is held (over TCP or through the tunnel) sends the stop again,
// so that a stop held at power-on or across a reconnection reaches the base unit as soon as
// there is a path to it.
//
// Lifetime. The manager may be deleted on its own thread at any moment; its client, the
// connection and the timers go with it and nothing is posted to it afterwards.
//
// Incomplete configuration of a "controlSystem" application:
//  - no "BUID" (or one that is not an unsigned decimal number): there is no base unit to
//    pair with, so no link is attempted at all. run() logs a critical message, raises a
//    warning popup and sets "g_link_status" to STATE_LINK_ERROR; commands, machine stops,
//    service forwards and tunnel traffic are dropped for the rest of the run.
//  - no "GFBM": the fallback tunnel stays unused (as FALLBACK_MODE_DISABLED) and the
//    constructor warns once; the TCP link works as usual. A "GFBM" that is not a number is
//    treated like one out of range: reported on every fallback attempt and dropped.
class BGPCom : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 BASE_UNIT_PORT = 1147;
    static constexpr int FALLBACK_OFFER_INTERVAL_MS = 1000;

    BGPCom(TagDatabase* tags, App* app, QObject* parent = nullptr);

    // The address run() connects to: "GSIP", or the factory default of the base unit.
    QHostAddress baseUnitAddress() const { return _address; }

    // Link health since start-up, safe to read from any thread while the manager exists.
    // TCP connections to the base unit established after the first one.
    quint64 reconnects() const;
    // Messages thrown away: those the connection drops (RUzad::Connection::droppedMessages(),
    // service forwards too long to send), base-unit status messages too short to read, and
    // commands, machine stops and service forwards that left on no path (before the link was
    // started, or while TCP was down and the tunnel did not take them). Tunnel bytes refused
    // by the fallback policy are not counted: that is configuration, not loss.
    quint64 droppedMessages() const;

signals:
    void readyReadCmd(QByteArray cmd);
    void readyReadPeriodicData(QByteArray data);
    void sendFallback(QByteArray data);
    void sendServiceForward(QByteArray data);
    void configErrorNotification(QString message, bool popup,
                                 NorvikLinkDefines::NotificationSeverity severity, int reference);

public slots:
    void run();
    void sendCmd(QByteArray cmd);
    void sendMachineStop();
    void machineStopReleased();
    void receiveServiceForward(QByteArray data);
    void initFallback();
    void resetFallback();
    void receiveFallback(QByteArray data);

private slots:
    void handleBuStatus(QByteArray data);
    void handleFallback(RUzad::Message msg);
    void handleConfigError(RUzad::ErrorCode err, QString str);
    void handleInitialized(RUzad::MessageOrigin origin);
    void handleTimeout(RUzad::MessageOrigin origin);
    void handleDisconnected();
    void rcStateChanged(QVariant value);
    void cableChanged(QVariant value);

private:
    // Fallback mode for a "GFBM" entry that is not a number.
    static constexpr int FALLBACK_MODE_INVALID = -1;

    Tag* findTag(const QString& name) const;
    // An entry of the application's configuration, null QString when it has none.
    QString configValue(const QString& key) const;
    void setLinkStatus(RUzad::State state);
    void writeTag(const QPointer<Tag>& tag, const QVariant& value);
    // Whether the fallback policy lets tunnel traffic through right now (logs a
    // misconfigured mode).
    bool fallbackAllowed() const;
    bool armed() const;
    // Sends over TCP and offers to the tunnel; counts the message dropped when neither took it.
    void sendToBaseUnit(const RUzad::Message& msg);
    void countDropped() { _dropped.fetch_add(1, std::memory_order_relaxed); }

    // Read on the constructing thread; afterwards only the context that tag writes are
    // queued to, see above.
    TagDatabase* _tags;
    const App* _app;
    RUzad::Client* _rUzadClient = nullptr;
    QTimer* _fallback_timer = nullptr;

    // Taken on the constructing thread, see above; dereferenced on the tags' thread only.
    QPointer<Tag> _linkStatusTag;
    QPointer<Tag> _buIdentityTag;
    QPointer<Tag> _buStateTag;
    bool _hasBaseId = false;
    quint32 _baseId = 0;
    quint32 _remoteId = 0;
    QHostAddress _address;
    int _fallbackMode = RUzad::FALLBACK_MODE_DISABLED;
    quint32 _rcState = 0;
    bool _cableLink = false;
    RUzad::State _linkStatus = RUzad::STATE_UNUSED;
    bool _machineStopHeld = false;
    bool _tunnelTook = false; // handleFallback() passed the last offered message on

    // The client for readers on other threads, published once run() has built it.
    std::atomic<const RUzad::Client*> _publishedClient { nullptr };
    std::atomic<quint64> _dropped { 0 };
};

#endif
