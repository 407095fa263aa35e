#include "transport_layer.h"

#include "frame_layer.h"
#include "internallink.h"
#include "message_layer.h"
#include "tsan.h"

#include <QLoggingCategory>
#include <QTimer>

namespace {
constexpr int headerSize = 2;
constexpr int crcSize = 4;
// Packet numbers have six bits: more open requests than that per service
// cannot be told apart, and a peer that never stops asking must not grow the
// table without bound.
constexpr int maxOpenRequests = 64;

void appendOpenRequest(QVector<unsigned char>& open, quint8 packetNumber, quint8 serviceId)
{
    if (open.size() >= maxOpenRequests) {
        qWarning("TransportLayer: service %u has %d unanswered requests, dropping the oldest",
                 unsigned(serviceId), int(open.size()));
        open.removeFirst();
    }
    open.append(packetNumber);
}
} // namespace

TransportLayer::TransportLayer(QObject* parent)
    : QObject(parent)
    , internalLink(new InternalLink)
    , messageLayer(new MessageLayer(this))
    , frameLayer(new FrameLayer(this))
    , sendInterval(50)
    , packetNumberSentInternal(0)
{
    qRegisterMetaType<Link>("Link");
    connect(internalLink, &InternalLink::readyRead, this, &TransportLayer::readDataFromInternal);
    connect(this, &TransportLayer::sendOnInternal, internalLink, &InternalLink::sendData);
    connect(this, &TransportLayer::newData, this, &TransportLayer::processSendBuffer);
}

TransportLayer::~TransportLayer()
{
    // The link is created without a parent; on the remote the layer lives
    // until process exit, elsewhere it goes with the layer.
    delete internalLink;
}

void TransportLayer::readDataFromService(QByteArray data, Link toLink, quint8 serviceId,
                                         quint8 messageClass)
{
    Q_UNUSED(toLink)
    quint8 packetNumber;
    if (messageClass == MSG_CLASS_ACK) {
        QVector<unsigned char>& pending = _unackedServicePackets[serviceId];
        if (pending.isEmpty())
            return; // an answer nobody asked for
        packetNumber = pending.takeFirst();
    } else {
        packetNumber = packetNumberSentInternal & 0x3F;
        ++packetNumberSentInternal;
        if (messageClass == MSG_CLASS_SERVICE_ACK)
            appendOpenRequest(_sentServicePackets[serviceId], packetNumber, serviceId);
    }
    sendData(data, packetNumber, serviceId, messageClass);
}

void TransportLayer::sendData(QByteArray data, quint8 packetNumber, quint8 serviceId,
                              quint8 messageClass)
{
    const QByteArray frame = buildFrame(data, messageClass, serviceId, packetNumber);
    if (messageClass == MSG_CLASS_ACK) {
        count(_framesSent);
        emit sendOnInternal(frame);
        return;
    }
    bufferItem item;
    item.data = frame;
    item.reTxTimer = new QTimer(this);
    item.reTxTimer->setSingleShot(true);
    item.reTxTimer->setTimerType(Qt::PreciseTimer);
    connect(item.reTxTimer, &QTimer::timeout, this, &TransportLayer::processSendBuffer);
    item.reTXCount = 0;
    item.packetNumber = packetNumber;
    item.serviceId = serviceId;
    item.messageClass = messageClass;
    sendBuffer.append(item);
    emit newData();
}

void TransportLayer::processSendBuffer()
{
    if (sendBuffer.isEmpty())
        return;
    bufferItem& head = sendBuffer.first();
    // In flight: whatever woke us (a new packet, an answer for another
    // packet) is no reason to send again or to give up before the timer ends.
    if (head.reTxTimer->isActive())
        return;
    if (head.reTXCount > 2) {
        discardSendBuffer();
        count(_linkFailures);
        emit internalLinkFailed();
        return;
    }
    if (++head.reTXCount > 1)
        count(_retransmissions);
    count(_framesSent);
    head.reTxTimer->start(sendInterval);
    emit sendOnInternal(head.data);
}

void TransportLayer::discardSendBuffer()
{
    for (const bufferItem& item : qAsConst(sendBuffer)) {
        item.reTxTimer->stop();
        item.reTxTimer->deleteLater();
        // A request that never went through has no answer to wait for; a
        // late answer must not pair with a later request that reuses its number.
        if (item.messageClass == MSG_CLASS_SERVICE_ACK)
            forgetSentRequest(item.serviceId, item.packetNumber);
    }
    sendBuffer.clear();
}

void TransportLayer::readDataFromInternal(QByteArray data)
{
    NORVIK_TSAN_ACQUIRE(&norvikTsanSerialBytes);
    QByteArray message = frameLayer->remove(data);
    // Anything shorter than a CRC and header cannot be a message, whatever the CRC
    // register says. Line noise shows up here, so every such frame is logged.
    if (message.size() < crcSize + headerSize || !messageLayer->check(message)) {
        count(_crcFailures);
        qWarning("TransportLayer: dropped a damaged frame of %d bytes", int(data.size()));
        return;
    }
    messageLayer->remove(message);
    count(_framesReceived);

    const quint8 serviceId = getServiceId(message);
    const quint8 messageClass = getMessageClass(message);
    const quint8 packetNumber = getPacketNumber(message);
    const QByteArray payload = removeHeader(message);

    switch (messageClass) {
    case MSG_CLASS_TRANSP_ACK:
        // Acknowledge first, straight to the line, then deliver.
        count(_framesSent);
        internalLink->sendData(buildFrame(QByteArray(), MSG_CLASS_ACK, serviceId, packetNumber));
        emit readyRead(payload, Internal, serviceId, messageClass);
        break;
    case MSG_CLASS_SERVICE_ACK:
        appendOpenRequest(_unackedServicePackets[serviceId], packetNumber, serviceId);
        emit readyRead(payload, Internal, serviceId, messageClass);
        break;
    case MSG_CLASS_ACK:
        removePacket(packetNumber);
        if (forgetSentRequest(serviceId, packetNumber))
            emit readyRead(payload, Internal, serviceId, messageClass);
        break;
    default:
        qWarning("TransportLayer: dropped packet %u of reserved class 0 for service %u",
                 unsigned(packetNumber), unsigned(serviceId));
        break;
    }
}

bool TransportLayer::forgetSentRequest(quint8 serviceId, quint8 packetNumber)
{
    QVector<unsigned char>& sent = _sentServicePackets[serviceId];
    const int index = sent.lastIndexOf(packetNumber);
    if (index < 0)
        return false;
    sent.remove(index);
    return true;
}

void TransportLayer::removePacket(quint8 packetNumber)
{
    for (int i = 0; i < sendBuffer.size(); ++i) {
        if (sendBuffer.at(i).packetNumber == packetNumber) {
            sendBuffer.at(i).reTxTimer->stop();
            sendBuffer.at(i).reTxTimer->deleteLater();
            sendBuffer.removeAt(i);
            break;
        }
    }
    emit newData();
}

QByteArray TransportLayer::buildFrame(const QByteArray& payload, quint8 messageClass,
                                      quint8 serviceId, quint8 packetNumber)
{
    QByteArray message = addHeader(payload, messageClass, serviceId, packetNumber);
    messageLayer->add(message);
    return frameLayer->add(message);
}

QByteArray TransportLayer::addHeader(QByteArray data, quint8 messageClass, quint8 serviceId,
                                     quint8 packetNumber)
{
    QByteArray packet;
    packet.reserve(headerSize + data.size() + crcSize);
    packet.append(char(quint8(messageClass * 64 + packetNumber)));
    packet.append(char(serviceId));
    packet.append(data);
    return packet;
}

QByteArray TransportLayer::removeHeader(QByteArray data)
{
    return data.mid(headerSize);
}

quint8 TransportLayer::getControlByte(QByteArray data)
{
    return data.isEmpty() ? 0 : quint8(data.at(0));
}

quint8 TransportLayer::getServiceId(QByteArray data)
{
    return data.size() < headerSize ? 0 : quint8(data.at(1));
}

quint8 TransportLayer::getMessageClass(QByteArray data)
{
    return getControlByte(data) >> 6;
}

quint8 TransportLayer::getPacketNumber(QByteArray data)
{
    return getControlByte(data) & 0x3F;
}
