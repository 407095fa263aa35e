#include "internalprocessorsim.h"

#include "crcstd32.h"
#include "frame_layer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
// A line longer than this without a frame end is noise; drop it.
constexpr int maxLineBytes = 64 * 1024;

QElapsedTimer& simClock()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}
} // namespace

InternalProcessorSim::InternalProcessorSim(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<InternalProcessorSim::Packet>();
    simClock();
}

InternalProcessorSim::~InternalProcessorSim()
{
    closePort();
}

qint64 InternalProcessorSim::nowMs() const
{
    return simClock().elapsed();
}

bool InternalProcessorSim::open(const QString& sysroot)
{
    closePort();
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        qWarning("InternalProcessorSim: no pseudo-terminal: %s", strerror(errno));
        closePort();
        return false;
    }
    m_slaveName = QString::fromLocal8Bit(ptsname(m_master));
    // Holding the slave open keeps the master readable before and between
    // the library's opens, and lets us put the line into raw mode first so
    // that nothing is echoed back before the library configures it.
    m_slave = ::open(m_slaveName.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave >= 0) {
        termios raw;
        if (tcgetattr(m_slave, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(m_slave, TCSANOW, &raw);
        }
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    QDir().mkpath(sysroot + QStringLiteral("/dev"));
    m_linkPath = sysroot + QStringLiteral("/dev/ttymxc0");
    QFile::remove(m_linkPath);
    if (!QFile::link(m_slaveName, m_linkPath)) {
        qWarning("InternalProcessorSim: cannot link %s", qPrintable(m_linkPath));
        closePort();
        return false;
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InternalProcessorSim::onReadable);
    return true;
}

void InternalProcessorSim::closePort()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (!m_linkPath.isEmpty())
        QFile::remove(m_linkPath);
    m_linkPath.clear();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
}

void InternalProcessorSim::setRequestHandler(quint8 serviceId, RequestHandler handler)
{
    m_handlers.insert(serviceId, std::move(handler));
}

QByteArray InternalProcessorSim::frame(quint8 messageClass, quint8 packetNumber, quint8 serviceId,
                                       const QByteArray& payload)
{
    QByteArray message;
    message.append(char(quint8(messageClass << 6 | (packetNumber & 0x3F))));
    message.append(char(serviceId));
    message.append(payload);
    CrcStd32::add(message);
    return FrameLayer().add(message);
}

bool InternalProcessorSim::parseFrame(const QByteArray& wire, Packet* packet)
{
    QByteArray message = FrameLayer().remove(wire);
    if (message.size() < 6 || !CrcStd32::checkAndRemove(message))
        return false;
    packet->messageClass = quint8(message.at(0)) >> 6;
    packet->packetNumber = quint8(message.at(0)) & 0x3F;
    packet->serviceId = quint8(message.at(1));
    packet->payload = message.mid(2);
    return true;
}

quint8 InternalProcessorSim::sendPacket(quint8 serviceId, quint8 messageClass,
                                        const QByteArray& payload)
{
    const quint8 number = m_counter++ & 0x3F;
    writeFrame(frame(messageClass, number, serviceId, payload));
    return number;
}

void InternalProcessorSim::sendAnswer(quint8 serviceId, quint8 packetNumber,
                                      const QByteArray& payload)
{
    writeFrame(frame(3, packetNumber, serviceId, payload));
}

void InternalProcessorSim::writeRaw(const QByteArray& bytes)
{
    writeNow(bytes);
}

void InternalProcessorSim::setCorruption(double rate, quint32 seed)
{
    m_noiseRate = rate;
    m_noise.seed(seed);
}

int InternalProcessorSim::addNoise(QByteArray& bytes)
{
    int damaged = 0;
    for (int i = 0; m_noiseRate > 0 && i < bytes.size(); ++i) {
        if (m_noise.generateDouble() < m_noiseRate) {
            bytes[i] = char(bytes.at(i) ^ char(1 + m_noise.bounded(255)));
            ++damaged;
        }
    }
    return damaged;
}

void InternalProcessorSim::writeFrame(QByteArray bytes)
{
    if (m_silent)
        return;
    if (m_corruptFrames > 0 && bytes.size() > 2) {
        --m_corruptFrames;
        // Flip the lowest bit of the byte before etx; if that turned it into
        // a special byte the frame is still broken, which is the point.
        bytes[bytes.size() - 2] = char(bytes.at(bytes.size() - 2) ^ 0x01);
    }
    if (const int damaged = addNoise(bytes)) {
        m_corruptedBytesOut += damaged;
        ++m_corruptedFramesOut;
    }
    ++m_framesOut;
    emit frameWritten(bytes);
    if (m_trickleChunk <= 0) {
        writeNow(bytes);
        return;
    }
    for (int offset = 0, step = 0; offset < bytes.size(); offset += m_trickleChunk, ++step) {
        const QByteArray piece = bytes.mid(offset, m_trickleChunk);
        QTimer::singleShot(step * m_trickleDelayMs, this, [this, piece] { writeNow(piece); });
    }
}

void InternalProcessorSim::writeNow(const QByteArray& bytes)
{
    if (m_master < 0 || m_silent)
        return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            emit lineBytes(false, bytes.mid(int(done), int(n)));
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            usleep(200); // the line discipline is full; let the reader catch up
        } else {
            return;
        }
    }
}

void InternalProcessorSim::onReadable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        QByteArray chunk(buffer, int(n));
        m_corruptedBytesIn += addNoise(chunk);
        emit lineBytes(true, chunk);
        m_rx.append(chunk);
    }
    int start = 0;
    for (int end = m_rx.indexOf('\n'); end >= 0; end = m_rx.indexOf('\n', start)) {
        handleFrame(m_rx.mid(start, end - start + 1));
        start = end + 1;
    }
    m_rx.remove(0, start);
    if (m_rx.size() > maxLineBytes)
        m_rx.clear();
}

void InternalProcessorSim::handleFrame(const QByteArray& raw)
{
    ++m_framesIn;
    emit lineReceived(raw);
    if (m_silent)
        return;
    Packet packet;
    if (!parseFrame(raw, &packet)) {
        ++m_badFramesIn;
        emit frameRejected(raw);
        return;
    }
    packet.receivedAtMs = nowMs();
    if (packet.messageClass == 1 || packet.messageClass == 2) {
        // The library has one data packet in flight at a time, so a repeat
        // can only be of the packet just before it.
        packet.repeat = m_lastData.messageClass == packet.messageClass
            && m_lastData.packetNumber == packet.packetNumber
            && m_lastData.serviceId == packet.serviceId && m_lastData.payload == packet.payload;
        m_lastData = packet;
    }
    m_received.append(packet);
    emit packetReceived(packet);

    if (packet.messageClass == 1 && !m_withholdAcks) {
        const QByteArray ack = frame(3, packet.packetNumber, packet.serviceId, {});
        ++m_acksSent;
        if (m_ackDelayMs > 0)
            QTimer::singleShot(m_ackDelayMs, this, [this, ack] { writeFrame(ack); });
        else
            writeFrame(ack);
    } else if (packet.messageClass == 2) {
        const auto handler = m_handlers.value(packet.serviceId);
        const std::optional<QByteArray> answer = handler ? handler(packet) : QByteArray();
        if (answer)
            sendAnswer(packet.serviceId, packet.packetNumber, *answer);
    }
}
