#include "bgpcom.h"

#include "app.h"
#include "appconfig.h"
#include "checksum.h"
#include "client.h"
#include "platformpaths.h"
#include "tagdatabase.h"
#include "tsan.h"

#include <QDebug>
#include <QTimer>
#include <QtEndian>
#include <climits>

using namespace RUzad;

namespace {
// Where the base unit answers when the application names no address.
const char kDefaultBaseUnitAddress[] = "192.168.32.1";
} // namespace

BGPCom::BGPCom(TagDatabase* tags, App* app, QObject* parent)
    : QObject(parent)
    , _tags(tags)
    , _app(app)
    , _address(QString::fromLatin1(kDefaultBaseUnitAddress))
{
    registerMetaTypes();
    qRegisterMetaType<NorvikLinkDefines::NotificationSeverity>("NotificationSeverity");

    _linkStatusTag = findTag(QStringLiteral("g_link_status"));
    _buIdentityTag = findTag(QStringLiteral("bu_identity"));
    _buStateTag = findTag(QStringLiteral("bu_state"));
    if (Tag* ruIdentity = findTag(QStringLiteral("ru_identity")))
        _remoteId = ruIdentity->getValue().toUInt();
    if (Tag* state = findTag(QStringLiteral("state"))) {
        _rcState = state->getValue().toUInt();
        connect(state, &Tag::valueUpdated, this, &BGPCom::rcStateChanged);
    }
    if (Tag* cable = findTag(QStringLiteral("g_link_cable"))) {
        _cableLink = cable->getValue().toUInt() != 0;
        connect(cable, &Tag::valueUpdated, this, &BGPCom::cableChanged);
    }

    const QString baseId = configValue(QStringLiteral("BUID"));
    _baseId = baseId.trimmed().toUInt(&_hasBaseId);

    const QString address = configValue(QStringLiteral("GSIP"));
    if (!address.isNull()) {
        if (!_address.setAddress(address.trimmed())) {
            qWarning().noquote() << "Invalid base unit IP address (GSIP):" << address << "- using"
                                 << kDefaultBaseUnitAddress;
            _address.setAddress(QString::fromLatin1(kDefaultBaseUnitAddress));
        }
    }

    const QString mode = configValue(QStringLiteral("GFBM"));
    if (mode.isNull()) {
        qWarning() << "G-Fallback mode (GFBM) is not configured. Fallback disabled.";
        _fallbackMode = FALLBACK_MODE_DISABLED;
    } else {
        bool ok = false;
        const uint value = mode.trimmed().toUInt(&ok);
        _fallbackMode = ok && value <= INT_MAX ? int(value) : FALLBACK_MODE_INVALID;
    }
}

Tag* BGPCom::findTag(const QString& name) const
{
    Tag* tag = _tags ? _tags->get(name) : nullptr;
    if (!tag)
        qWarning().noquote() << "BGPCom: tag missing:" << name;
    return tag;
}

QString BGPCom::configValue(const QString& key) const
{
    // Looked up quietly: an absent entry is a decision here, not an error of the lookup.
    const Database* configs = _app ? _app->getConfigs() : nullptr;
    const auto* entry = configs ? qobject_cast<const AppConfig*>(configs->get(key)) : nullptr;
    return entry ? entry->getValue() : QString();
}

void BGPCom::run()
{
    if (_rUzadClient)
        return;
    if (!_hasBaseId) {
        qCritical() << "No valid base unit id (BUID) configured. The base-unit link is not "
                       "started.";
        setLinkStatus(STATE_LINK_ERROR);
        emit configErrorNotification(
            QStringLiteral("No base unit configured (BUID). Pairing required."), true,
            NorvikLinkDefines::WARNING, 0);
        return;
    }

    const QByteArray checksum = calculateChecksum(PlatformPaths::appDir());
    _rUzadClient = new Client(_baseId, _remoteId, checksum, this);
    connect(_rUzadClient, &Client::readyReadCmd, this, &BGPCom::readyReadCmd);
    connect(_rUzadClient, &Client::readyReadPeriodicData, this, &BGPCom::readyReadPeriodicData);
    connect(_rUzadClient, &Client::readyReadServiceForward, this, &BGPCom::sendServiceForward);
    connect(_rUzadClient, &Client::readyReadBuStatus, this, &BGPCom::handleBuStatus);
    connect(_rUzadClient, &Client::sendFallback, this, &BGPCom::handleFallback);
    connect(_rUzadClient, &Client::timeout, this, &BGPCom::handleTimeout);
    connect(_rUzadClient, &Client::configError, this, &BGPCom::handleConfigError);
    connect(_rUzadClient, &Client::initialized, this, &BGPCom::handleInitialized);
    connect(_rUzadClient, &Client::disconnected, this, &BGPCom::handleDisconnected);
    _publishedClient.store(_rUzadClient, std::memory_order_release);

    setLinkStatus(STATE_NO_LINK);
    _rUzadClient->connect(_address, BASE_UNIT_PORT);

    // Until the tunnel reports up, a handshake is offered through it once a second.
    _fallback_timer = new QTimer(this);
    _fallback_timer->setInterval(FALLBACK_OFFER_INTERVAL_MS);
    connect(_fallback_timer, &QTimer::timeout, this,
            [this]() { handleFallback(_rUzadClient->generateInitMsg()); });
    _fallback_timer->start();
}

quint64 BGPCom::reconnects() const
{
    const Client* client = _publishedClient.load(std::memory_order_acquire);
    return client ? client->reconnects() : 0;
}

quint64 BGPCom::droppedMessages() const
{
    const Client* client = _publishedClient.load(std::memory_order_acquire);
    return _dropped.load(std::memory_order_relaxed) + (client ? client->droppedMessages() : 0);
}

void BGPCom::sendToBaseUnit(const Message& msg)
{
    if (!_rUzadClient) {
        countDropped();
        return;
    }
    // The connection offers the message to the tunnel (handleFallback, a direct call)
    // before it writes to TCP.
    const bool overTcp = _rUzadClient->isTcpConnected();
    _tunnelTook = false;
    _rUzadClient->send(msg);
    if (!overTcp && !_tunnelTook)
        countDropped();
}

void BGPCom::sendCmd(QByteArray cmd)
{
    Message msg(ID_CMD);
    msg._header._size = static_cast<quint16>(cmd.size());
    msg._payload._payload = cmd;
    sendToBaseUnit(msg);
}

void BGPCom::sendMachineStop()
{
    _machineStopHeld = true;
    Message msg(ID_E_STOP);
    msg._payload._payload = QByteArray(1, '\0');
    sendToBaseUnit(msg);
}

void BGPCom::machineStopReleased()
{
    _machineStopHeld = false;
}

void BGPCom::receiveServiceForward(QByteArray data)
{
    if (_rUzadClient)
        _rUzadClient->recvServiceForward(data); // counts what it cannot send
    else
        countDropped();
}

void BGPCom::initFallback()
{
    if (!_rUzadClient)
        return;
    _rUzadClient->initFallback();
    _fallback_timer->stop();
}

void BGPCom::resetFallback()
{
    if (!_rUzadClient)
        return;
    _rUzadClient->resetFallback();
    _fallback_timer->start();
}

void BGPCom::receiveFallback(QByteArray data)
{
    if (!_rUzadClient)
        return;
    if (_fallbackMode == FALLBACK_MODE_DISABLED)
        return;
    if (_fallbackMode == FALLBACK_MODE_WHEN_ARMED && !armed())
        return;
    _rUzadClient->recvFallback(data);
    // The answer goes back the same way, under the same policy.
    handleFallback(Message(ID_HEARTBEAT));
}

void BGPCom::handleBuStatus(QByteArray data)
{
    if (data.size() < 3) {
        countDropped();
        qWarning() << "Discarding short base unit status, length" << data.size();
        return;
    }
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    writeTag(_buIdentityTag, uint(qFromLittleEndian<quint16>(bytes)));
    writeTag(_buStateTag, uint(bytes[2]));
}

bool BGPCom::armed() const
{
    return _rcState == 2 || _rcState == 3; // RC states armed and enabled
}

bool BGPCom::fallbackAllowed() const
{
    if (_cableLink)
        return false; // the cable link carries everything
    if (_linkStatus == STATE_LINK_ERROR)
        return false;
    switch (_fallbackMode) {
    case FALLBACK_MODE_DISABLED:
        return false;
    case FALLBACK_MODE_ALWAYS:
        return true;
    case FALLBACK_MODE_WHEN_ARMED:
        return armed();
    default:
        qCritical() << "G-Fallback mode (GFBM) is misconfigured. Discarding...";
        return false;
    }
}

void BGPCom::handleFallback(Message msg)
{
    if (fallbackAllowed()) {
        _tunnelTook = true;
        emit sendFallback(msg.serialize());
    }
}

void BGPCom::handleConfigError(ErrorCode err, QString str)
{
    qWarning().noquote() << "R-Uzad configuration error:" << enumName(err);
    QString text;
    switch (err) {
    case E_REMOTE_NOT_PAIRED:
        text = QStringLiteral("RU is not paired with this BU.");
        break;
    case E_PROTOCOL_VERSION_MISMATCH:
        text = QStringLiteral("Communication protocol mismatch. System software upgrade required.");
        break;
    case E_BU_NOT_READY:
        text = QStringLiteral("Communication could not be established. BU not ready!");
        break;
    case E_APP_CHECKSUM_MISMATCH:
        text = QStringLiteral("Application checksum mismatch. Upgrade and pair required.");
        break;
    case E_GENERIC:
        text = str;
        break;
    default:
        text = QStringLiteral("Unrecognized configuration error! R-Uzad may be out of sync...");
        break;
    }
    emit configErrorNotification(text, true, NorvikLinkDefines::WARNING, 0);
    setLinkStatus(STATE_LINK_ERROR);
    if (_rUzadClient)
        _rUzadClient->disconnect();
}

void BGPCom::handleInitialized(MessageOrigin origin)
{
    // A refused pairing ends the link for the rest of the run, whatever arrives later.
    if (_linkStatus == STATE_LINK_ERROR)
        return;
    // Only a TCP connection that is up makes the link operational; one that is still being
    // attempted leaves a tunnelled handshake in fallback operation.
    if (origin == ORIGIN_TCP || _rUzadClient->isTcpConnected())
        setLinkStatus(STATE_OPERATIONAL);
    else
        setLinkStatus(STATE_FALLBACK);
    // A held stop is repeated on every new path to the base unit.
    if (_machineStopHeld)
        sendMachineStop();
}

void BGPCom::handleTimeout(MessageOrigin origin)
{
    if (_linkStatus == STATE_LINK_ERROR)
        return;
    if (origin == ORIGIN_TCP)
        setLinkStatus(_rUzadClient->isFallbackActive() ? STATE_FALLBACK : STATE_NO_LINK);
    else if (!_rUzadClient->isTcpConnected())
        setLinkStatus(STATE_NO_LINK);
}

void BGPCom::handleDisconnected()
{
    if (_linkStatus == STATE_LINK_ERROR)
        return;
    setLinkStatus(_rUzadClient->isFallbackActive() ? STATE_FALLBACK : STATE_NO_LINK);
}

void BGPCom::rcStateChanged(QVariant value)
{
    _rcState = value.toUInt();
}

void BGPCom::cableChanged(QVariant value)
{
    _cableLink = value.toUInt() != 0;
}

void BGPCom::setLinkStatus(State state)
{
    _linkStatus = state;
    writeTag(_linkStatusTag, uint(state));
}

void BGPCom::writeTag(const QPointer<Tag>& tag, const QVariant& value)
{
    // Only the guard is looked at here; the tag itself is reached on its own thread, through
    // the tag database's event queue, and only if it still exists there.
    if (!_tags || tag.isNull())
        return;
    QObject* context = _tags;
    NORVIK_TSAN_RELEASE(context);
    QMetaObject::invokeMethod(
        context,
        [context, tag, value]() {
            NORVIK_TSAN_ACQUIRE(context);
            if (tag)
                tag->setValue(value);
        },
        Qt::AutoConnection);
}
