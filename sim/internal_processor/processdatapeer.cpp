#include "processdatapeer.h"

#include "configfile.h"
#include "internalprocessorsim.h"

#include <QFile>
#include <QTimer>

namespace {

int column(const ConfigFile& table, const QString& row, const char* key)
{
    return table.getValue(row, QLatin1String(key)).toInt();
}
} // namespace

ProcessDataPeer::ProcessDataPeer(InternalProcessorSim* sim, QObject* parent)
    : ServicePeer(sim, parent)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, [this] { sendFrame(); });
}

void ProcessDataPeer::handlePacket(const InternalProcessorSim::Packet& p)
{
    if (p.messageClass != 1)
        return;
    m_statusFrames.append(p.payload);
    emit statusFrameReceived(p.payload);
}

bool ProcessDataPeer::loadLayout(const QString& tablePath)
{
    if (!QFile::exists(tablePath))
        return false;
    const ConfigFile table(tablePath);
    m_fields.clear();
    int size = 0;
    for (const QString& name : table.getAllTags()) {
        Field f;
        f.startByte = column(table, name, "startByte");
        f.byteSize = column(table, name, "byteSize");
        f.startBit = column(table, name, "startBit");
        f.bitSize = column(table, name, "bitSize");
        f.dataType = table.getValue(name, QStringLiteral("dataType"));
        m_fields.insert(name, f);
        size = qMax(size, f.startByte + f.byteSize);
    }
    m_frame = QByteArray(size, '\0');
    return true;
}

bool ProcessDataPeer::setField(const QString& tagName, qint64 value)
{
    const auto it = m_fields.constFind(tagName);
    if (it == m_fields.constEnd() || it->byteSize < 1 || it->byteSize > 8)
        return false;
    const Field& f = *it;
    const bool bigEndian = f.dataType.startsWith(QLatin1String("BE_"));
    // The field's bytes as one little-endian word, changed, written back.
    const auto index = [&](int k) { return f.startByte + (bigEndian ? f.byteSize - 1 - k : k); };
    quint64 word = 0;
    for (int k = 0; k < f.byteSize; ++k)
        word |= quint64(quint8(m_frame.at(index(k)))) << (8 * k);
    int shift = 0;
    int width = 8 * f.byteSize;
    if (f.dataType.endsWith(QLatin1String("BOOLEAN"))) {
        shift = f.startBit;
        width = 1;
    } else if (f.bitSize != 0) {
        shift = f.startBit;
        width = f.bitSize;
    }
    const quint64 mask = (width >= 64 ? ~quint64(0) : (quint64(1) << width) - 1) << shift;
    word = (word & ~mask) | ((quint64(value) << shift) & mask);
    for (int k = 0; k < f.byteSize; ++k)
        m_frame[index(k)] = char((word >> (8 * k)) & 0xFF);
    return true;
}

bool ProcessDataPeer::setJoystick(int n, qint16 value)
{
    return setField(QStringLiteral("joystick_%1").arg(n, 2, 10, QLatin1Char('0')), value);
}

bool ProcessDataPeer::setSwitch(int n, bool on)
{
    return setField(QStringLiteral("switch_%1").arg(n, 2, 10, QLatin1Char('0')), on ? 1 : 0);
}

bool ProcessDataPeer::setEncoder(qint16 value)
{
    return setField(QStringLiteral("encoder_01"), value);
}

void ProcessDataPeer::setBytes(int position, const QByteArray& bytes)
{
    if (m_frame.size() < position + bytes.size())
        m_frame.append(QByteArray(position + bytes.size() - m_frame.size(), '\0'));
    m_frame.replace(position, bytes.size(), bytes);
}

void ProcessDataPeer::sendFrame(quint8 messageClass)
{
    if (messageClass == 3)
        sim()->sendAnswer(serviceId, 0, m_frame);
    else
        sim()->sendPacket(serviceId, messageClass, m_frame);
}

void ProcessDataPeer::startSending(int intervalMs)
{
    m_timer->start(intervalMs);
}

void ProcessDataPeer::stopSending()
{
    m_timer->stop();
}
