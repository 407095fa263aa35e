#include "jsoninterfaceudpsocketserver.h"

#include "norviklinkjsoninterface.h"

#include <QUdpSocket>

namespace {
constexpr unsigned int maxPort = 65535;
}

JsonInterfaceUdpSocketServer::JsonInterfaceUdpSocketServer(NorvikLink* link, QString host,
                                                           unsigned int inPort,
                                                           unsigned int outPort, int interval,
                                                           QObject* parent)
    : QObject(parent)
    , m_host(host.isEmpty() ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host))
    , m_inPort(inPort)
    , m_outPort(outPort)
{
    m_jsonInterface = new NorvikLinkJsonInterface(link, unsigned(qMax(interval, 0)), this);
    connect(m_jsonInterface, &NorvikLinkJsonInterface::sendMessage, this,
            &JsonInterfaceUdpSocketServer::sendMessage);
    // A datagram is one message; a NUL ends it early.
    connect(this, &JsonInterfaceUdpSocketServer::readyRead, m_jsonInterface,
            [this](const QByteArray& datagram) {
                const int nul = datagram.indexOf('\0');
                m_jsonInterface->processMessage(
                    QString::fromUtf8(nul < 0 ? datagram : datagram.left(nul)));
            });
}

JsonInterfaceUdpSocketServer::~JsonInterfaceUdpSocketServer()
{
    if (m_serverSocket)
        m_serverSocket->close();
    m_jsonInterface->deleteLater();
}

bool JsonInterfaceUdpSocketServer::addPeriodicData(QString tagName, bool trigger)
{
    return m_jsonInterface->addPeriodicData(tagName, trigger);
}

void JsonInterfaceUdpSocketServer::start()
{
    delete m_serverSocket;
    m_serverSocket = new QUdpSocket(this);
    // A host that is no address binds nothing, rather than every interface.
    if (m_host.isNull() || m_inPort > maxPort
        || !m_serverSocket->bind(m_host, quint16(m_inPort), QAbstractSocket::DefaultForPlatform)) {
        qWarning().noquote() << "JsonInterfaceUdpServer could not bind to" << m_host.toString()
                             << m_inPort;
        // Inert from here: an unbound socket would bind itself on the first send.
        delete m_serverSocket;
        m_serverSocket = nullptr;
        emit error();
        return;
    }
    connect(m_serverSocket, &QUdpSocket::readyRead, this, &JsonInterfaceUdpSocketServer::readData);
    qInfo().noquote() << "Starting JsonInterfaceUdpServer at" << m_host.toString() << "port"
                      << m_outPort << "listening at" << m_inPort;
}

void JsonInterfaceUdpSocketServer::readData()
{
    while (m_serverSocket && m_serverSocket->hasPendingDatagrams()) {
        const qint64 size = m_serverSocket->pendingDatagramSize();
        QByteArray datagram(int(qMax<qint64>(size, 0)), Qt::Uninitialized);
        const qint64 read = m_serverSocket->readDatagram(datagram.data(), datagram.size());
        if (read < 0)
            break;
        datagram.resize(int(read));
        emit readyRead(datagram);
    }
}

void JsonInterfaceUdpSocketServer::sendMessage(const QString& message)
{
    sendData(message.toUtf8());
}

void JsonInterfaceUdpSocketServer::sendData(QByteArray data)
{
    // Not started, or the bind failed: there is no peer to talk to.
    if (!m_serverSocket || m_outPort > maxPort)
        return;
    if (m_serverSocket->writeDatagram(data, m_host, quint16(m_outPort)) != data.size())
        emit error();
}
