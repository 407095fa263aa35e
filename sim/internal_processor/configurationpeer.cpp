#include "configurationpeer.h"

#include "internalprocessorsim.h"

namespace {
constexpr quint8 serviceId = 2;
}

ConfigurationPeer::ConfigurationPeer(InternalProcessorSim* sim, QObject* parent)
    : QObject(parent)
    , m_sim(sim)
{
    m_sim->setRequestHandler(serviceId, [this](const InternalProcessorSim::Packet& request) {
        if (!request.repeat) {
            m_requests.append(request.payload);
            emit parameterRequested(request.payload);
        }
        if (!m_answering)
            return std::optional<QByteArray>();
        return std::optional<QByteArray>(m_table.value(request.payload, encode(0xFFFFFFFFu)));
    });
    connect(m_sim, &InternalProcessorSim::packetReceived, this,
            [this](const InternalProcessorSim::Packet& p) {
                if (p.serviceId != serviceId || p.messageClass != 3
                    || !m_open.contains(p.packetNumber))
                    return;
                const QByteArray key = m_open.take(p.packetNumber);
                m_answers.append(qMakePair(key, p.payload));
                emit answerReceived(key, p.payload);
            });
}

QByteArray ConfigurationPeer::encode(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int k = 0; k < 4; ++k)
        bytes[k] = char((value >> (8 * k)) & 0xFF);
    return bytes;
}

void ConfigurationPeer::setValue(const QByteArray& key, quint32 value)
{
    m_table.insert(key, encode(value));
}

void ConfigurationPeer::setNoValue(const QByteArray& key)
{
    m_table.insert(key, encode(0xFFFFFFFFu));
}

void ConfigurationPeer::setAnswer(const QByteArray& key, const QByteArray& payload)
{
    m_table.insert(key, payload);
}

void ConfigurationPeer::requestParameter(const QByteArray& key)
{
    m_open.insert(m_sim->sendPacket(serviceId, 2, key), key);
}
