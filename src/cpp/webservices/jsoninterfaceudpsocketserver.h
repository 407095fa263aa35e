#ifndef JSONINTERFACEUDPSOCKETSERVER_H
#define JSONINTERFACEUDPSOCKETSERVER_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class NorvikLink;
class NorvikLinkJsonInterface;
class QUdpSocket;

// The JSON interface over UDP, one message per datagram, with one peer fixed
// by configuration: datagrams are received on host:inPort and every outgoing
// message goes to host:outPort, whoever sent the request. An empty host is
// the loopback address. Nothing is bound before start().
class JsonInterfaceUdpSocketServer : public QObject
{
    Q_OBJECT

public:
    JsonInterfaceUdpSocketServer(NorvikLink* link, QString host, unsigned int inPort,
                                 unsigned int outPort, int interval, QObject* parent);
    ~JsonInterfaceUdpSocketServer() override;

    bool addPeriodicData(QString tagName, bool trigger);
    void start();

signals:
    void readyRead(QByteArray datagram);
    void error();

public slots:
    void sendData(QByteArray data);
    void readData();
    void sendMessage(const QString& message);

private:
    NorvikLinkJsonInterface* m_jsonInterface = nullptr;
    QUdpSocket* m_serverSocket = nullptr;
    QHostAddress m_host;
    unsigned int m_inPort = 0;
    unsigned int m_outPort = 0;
};

#endif
