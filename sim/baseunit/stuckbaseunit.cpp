#include "stuckbaseunit.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

StuckBaseUnit::~StuckBaseUnit()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool StuckBaseUnit::listen(const QString& address, quint16 port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0
        || ::listen(m_fd, 0) != 0)
        return false;
    m_filler.connectToHost(QHostAddress(address), port);
    return m_filler.waitForConnected(5000);
}
