#ifndef NORVIK_TESTS_REMOTEWORLD_H
#define NORVIK_TESTS_REMOTEWORLD_H

// Small pieces shared by the whole-remote test, the desk runner and the
// benchmarks: files of the remote's world in a temporary sysroot, waiting on
// the event loop, free loopback ports, and latency summaries.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace remoteworld {

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The machine-stop GPIO value file (line 37) below a sysroot.
inline QString stopButton(const QString& sysroot)
{
    return sysroot + QStringLiteral("/sys/class/gpio/gpio37/value");
}

// The files and folders the facade expects below "/": the GPIO line of the
// machine stop (released), "/etc" and the notification database folder.
inline bool prepareSysroot(const QString& sysroot)
{
    const QString gpio = sysroot + QStringLiteral("/sys/class/gpio/");
    return writeFile(gpio + QStringLiteral("export"), QByteArray())
        && writeFile(gpio + QStringLiteral("gpio37/direction"), QByteArray())
        && writeFile(stopButton(sysroot), "1") && QDir().mkpath(sysroot + QStringLiteral("/etc"))
        && QDir().mkpath(sysroot + QStringLiteral("/var/lib/norviklinklibdata"));
}

// A loopback port that is free for the socket's kind at the time of the call
// (a QTcpSocket or a QUdpSocket).
inline quint16 freeLoopbackPort(QAbstractSocket&& socket = QTcpSocket())
{
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return socket.localPort();
}

// Runs the event loop until `done` or the timeout; false on timeout. The loop
// sleeps until an event or the next 5 ms look at `done`, so waiting costs no CPU.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

inline void report(const char* what, const std::vector<double>& v, const char* unit)
{
    std::printf("%-46s n=%zu  p50 %.3f  p99 %.3f  max %.3f  min %.3f %s\n", what, v.size(),
                percentile(v, 0.5), percentile(v, 0.99), percentile(v, 1.0), percentile(v, 0.0),
                unit);
}

} // namespace remoteworld

#endif
