#ifndef NORVIK_TESTS_CRANESETUP_H
#define NORVIK_TESTS_CRANESETUP_H

// The sample "crane" control-system application in a private copy, with its base unit at
// a loopback address of the test's own and configuration entries replaced or removed, and
// the tag database and application record the base-unit manager works with.

#include "app.h"
#include "sampleinstall.h"
#include "tagdatabase.h"

#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QStringList>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A base unit that never accepts: its listen queue (of one) is kept full, so the kernel drops
// further connection requests and an attempt to reach it stays "connecting" for seconds.
class StuckBaseUnit
{
public:
    ~StuckBaseUnit()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool listen(const QString& address, quint16 port = 1147)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(m_fd, 0))
            return false;
        m_filler.connectToHost(QHostAddress(address), port);
        return m_filler.waitForConnected(5000);
    }

private:
    int m_fd = -1;
    QTcpSocket m_filler;
};

class CraneSetup
{
public:
    // changes: key to new value; a null QString removes the entry.
    bool setUp(const QString& baseUnitAddress, QMap<QString, QString> changes = {},
               uint remoteId = 4660)
    {
        if (!install.isValid())
            return false;
        changes.insert(QStringLiteral("GSIP"), baseUnitAddress);
        if (!rewriteConfig(changes))
            return false;
        install.useApp(QStringLiteral("crane"));
        tags = std::make_unique<TagDatabase>();
        tags->prePopulate();
        app = std::make_unique<App>(QStringLiteral("crane_ui"), appDir());
        Tag* identity = tag("ru_identity");
        if (!identity)
            return false;
        identity->setValue(QVariant(remoteId));
        return true;
    }

    QString appDir() const { return install.appDir(QStringLiteral("crane")); }
    Tag* tag(const char* name) const { return tags->get(QString::fromLatin1(name)); }
    uint value(const char* name) const { return tag(name)->getValue().toUInt(); }

    SampleInstall install;
    std::unique_ptr<TagDatabase> tags;
    std::unique_ptr<App> app;

private:
    bool rewriteConfig(QMap<QString, QString> changes)
    {
        QFile file(appDir() + QStringLiteral("/config/app.csv"));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        file.close();
        QStringList out;
        for (const QString& line : lines) {
            QStringList fields = line.split(QLatin1Char(';'));
            const QString key = fields.value(0);
            if (!changes.contains(key)) {
                if (!line.isEmpty())
                    out << line;
                continue;
            }
            const QString value = changes.take(key);
            if (value.isNull())
                continue;
            fields[1] = value;
            out << fields.join(QLatin1Char(';'));
        }
        for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
            if (!it.value().isNull())
                out << it.key() + QLatin1Char(';') + it.value() + QLatin1Char(';') + it.key();
        }
        return install.writeFile(QStringLiteral("Applications/crane/config/app.csv"),
                                 (out.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    }
};

#endif
