#ifndef NORVIK_TESTS_RAWHTTPCLIENT_H
#define NORVIK_TESTS_RAWHTTPCLIENT_H

// A client that writes raw bytes to an HTTP server on loopback and collects everything
// that comes back, for requests no well-behaved client would send.

#include <QHostAddress>
#include <QTcpSocket>

struct RawHttpClient
{
    QTcpSocket socket;
    QByteArray received;

    explicit RawHttpClient(quint16 port, const QByteArray& request = QByteArray())
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(request);
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
};

#endif
