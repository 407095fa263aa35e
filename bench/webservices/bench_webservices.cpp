// The remote's HTTP server under load, with nginx beside it as the reference:
//   wrk (a child process) against the REST API of the facade on the stand-ins:
//     a 50-tag read, a 2 KB static file, POST /api/1.0/arm
//   wrk against an nginx started from a temporary folder: the same 2 KB file and
//     a JSON file of the size of the 50-tag answer
//   each with keep-alive and with "Connection: close", latency distribution on
//   the remote's resident memory and thread count: idle, right after the load,
//     one pool cleanup interval later and once the pool has shrunk back
//   the JSON interface over WebSocket: process data to 50 clients in a child
//     process (this program with --ws-client), messages per client per second and
//     the remote's CPU meanwhile
// Needs wrk and nginx (scripts/bench-web.sh installs them). Run it in a private
// network namespace: unshare --net (with lo up); it only uses 127.0.0.1.
#include "norvik_link.h"
#include "remoteworld.h"
#include "standins.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>
#include <vector>

using namespace remoteworld;

namespace {

struct Options
{
    QString wrk;
    QString nginx;
    int threads = 2;
    int connections = 16;
    int seconds = 10;
    int nginxWorkers = 2;
    QString only;
};

struct WrkResult
{
    QString name;
    bool keepAlive = true;
    bool ok = false;
    double rps = 0;
    double p50 = 0; // ms
    double p99 = 0; // ms
    qint64 requests = 0;
    qint64 non2xx = 0;
    qint64 socketErrors = 0;
    double cpuPercent = -1; // of one core, the remote's process during the run
    double cpuPerRequest = 0; // microseconds of the remote's process CPU per request
};

struct ProcStatus
{
    qint64 rssKb = 0;
    int threads = 0;
};

ProcStatus procStatus()
{
    ProcStatus s;
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return s;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            s.rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        else if (line.startsWith("Threads:"))
            s.threads = line.mid(8).trimmed().toInt();
    }
    return s;
}

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void printStatus(const char* when, const ProcStatus& s, const ProcStatus& idle)
{
    std::printf("  %-34s VmRSS %7lld kB (%+6lld)  Threads %3d (%+d)\n", when,
                static_cast<long long>(s.rssKb), static_cast<long long>(s.rssKb - idle.rssKb),
                s.threads, s.threads - idle.threads);
    std::fflush(stdout);
}

// "1.23ms", "850.00us", "1.01s" in milliseconds.
double toMs(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^([0-9.]+)(us|ms|s|m)$"));
    const QRegularExpressionMatch m = re.match(text.trimmed());
    if (!m.hasMatch())
        return -1;
    const double v = m.captured(1).toDouble();
    const QString unit = m.captured(2);
    if (unit == QLatin1String("us"))
        return v / 1000;
    if (unit == QLatin1String("ms"))
        return v;
    if (unit == QLatin1String("s"))
        return v * 1000;
    return v * 60000;
}

// Runs wrk as a child while the event loop (and with it the facade) goes on.
WrkResult runWrk(const Options& o, const QString& name, const QString& url, bool keepAlive,
                 const QString& script = QString())
{
    WrkResult r;
    if (!name.contains(o.only))
        return r;
    r.name = name;
    r.keepAlive = keepAlive;
    QStringList args { QStringLiteral("-t%1").arg(o.threads),
                       QStringLiteral("-c%1").arg(o.connections),
                       QStringLiteral("-d%1s").arg(o.seconds), QStringLiteral("--latency") };
    if (!keepAlive)
        args << QStringLiteral("-H") << QStringLiteral("Connection: close");
    if (!script.isEmpty())
        args << QStringLiteral("-s") << script;
    args << url;
    QProcess wrk;
    wrk.setProcessChannelMode(QProcess::MergedChannels);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    wrk.start(o.wrk, args);
    if (!wrk.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(o.wrk));
        return r;
    }
    waitFor([&] { return wrk.state() == QProcess::NotRunning; }, (o.seconds + 60) * 1000);
    const double cpuUsed = cpuSeconds() - cpuBefore;
    r.cpuPercent = 100 * cpuUsed / (wall.nsecsElapsed() / 1e9);
    if (wrk.state() != QProcess::NotRunning) {
        wrk.kill();
        wrk.waitForFinished(5000);
        std::fprintf(stderr, "wrk did not finish: %s\n", qPrintable(args.join(' ')));
        return r;
    }
    const QString out = QString::fromLocal8Bit(wrk.readAll());
    QRegularExpressionMatch m;
    if ((m = QRegularExpression(QStringLiteral("Requests/sec:\\s+([0-9.]+)")).match(out))
            .hasMatch())
        r.rps = m.captured(1).toDouble();
    if ((m = QRegularExpression(QStringLiteral("\\n\\s+50%\\s+(\\S+)")).match(out)).hasMatch())
        r.p50 = toMs(m.captured(1));
    if ((m = QRegularExpression(QStringLiteral("\\n\\s+99%\\s+(\\S+)")).match(out)).hasMatch())
        r.p99 = toMs(m.captured(1));
    if ((m = QRegularExpression(QStringLiteral("(\\d+) requests in")).match(out)).hasMatch())
        r.requests = m.captured(1).toLongLong();
    if ((m = QRegularExpression(QStringLiteral("Non-2xx or 3xx responses: (\\d+)")).match(out))
            .hasMatch())
        r.non2xx = m.captured(1).toLongLong();
    m = QRegularExpression(
            QStringLiteral(
                "Socket errors: connect (\\d+), read (\\d+), write (\\d+), timeout (\\d+)"))
            .match(out);
    if (m.hasMatch())
        for (int i = 1; i <= 4; ++i)
            r.socketErrors += m.captured(i).toLongLong();
    r.ok = wrk.exitCode() == 0 && r.rps > 0;
    if (r.requests > 0)
        r.cpuPerRequest = cpuUsed * 1e6 / double(r.requests);
    if (!r.ok)
        std::fprintf(stderr, "wrk failed (%s):\n%s\n", qPrintable(args.join(' ')), qPrintable(out));
    const ProcStatus after = procStatus();
    std::printf("  %-28s %-10s %10.0f req/s  p50 %7.3f ms  p99 %7.3f ms  non-2xx %lld  "
                "socket errors %lld  CPU %.0f%% (%.0f us/req)  VmRSS %lld kB  Threads %d\n",
                qPrintable(name), keepAlive ? "keep-alive" : "close", r.rps, r.p50, r.p99,
                static_cast<long long>(r.non2xx), static_cast<long long>(r.socketErrors),
                r.cpuPercent, r.cpuPerRequest, static_cast<long long>(after.rssKb), after.threads);
    std::fflush(stdout);
    return r;
}

QByteArray httpGet(QNetworkAccessManager& client, const QString& url, int* status)
{
    QNetworkReply* reply = client.get(QNetworkRequest(QUrl(url)));
    waitFor([reply] { return reply->isFinished(); }, 10000);
    *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

bool makeReadable(const QString& path)
{
    return QFile::setPermissions(path,
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                     | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                     | QFile::ExeOther);
}

// nginx in the foreground from a temporary folder, with its own configuration,
// pid file, error log and temporary paths; no access log.
class Nginx
{
public:
    // In a folder the workers can reach once they have dropped root rights.
    explicit Nginx(const QString& tempRoot)
        : m_dir(tempRoot + "/bench-nginx-XXXXXX")
    {
    }
    bool start(const Options& o, const QByteArray& staticFile, const QByteArray& json)
    {
        if (!m_dir.isValid())
            return false;
        const QString d = m_dir.path();
        m_port = freeLoopbackPort();
        // The workers drop root rights: everything they serve must be world-readable.
        QDir().mkpath(d + "/www");
        QDir().mkpath(d + "/tmp");
        makeReadable(d);
        makeReadable(d + "/www");
        writeFile(d + "/www/static2k.html", staticFile);
        writeFile(d + "/www/tags50.json", json);
        const QString conf = QStringLiteral(R"(daemon off;
master_process on;
worker_processes %1;
pid %2/nginx.pid;
error_log %2/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    types { text/html html; application/json json; }
    default_type application/octet-stream;
    client_body_temp_path %2/tmp/body;
    proxy_temp_path %2/tmp/proxy;
    fastcgi_temp_path %2/tmp/fastcgi;
    uwsgi_temp_path %2/tmp/uwsgi;
    scgi_temp_path %2/tmp/scgi;
    keepalive_requests 100000000;
    server {
        listen 127.0.0.1:%3;
        root %2/www;
    }
}
)")
                                 .arg(o.nginxWorkers)
                                 .arg(d)
                                 .arg(m_port);
        writeFile(d + "/nginx.conf", conf.toUtf8());
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(o.nginx, { "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log" });
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && m_process.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
            if (probe.waitForConnected(200))
                return true;
            QThread::msleep(50);
        }
        std::fprintf(stderr, "nginx did not come up:\n%s\n",
                     readFile(d + "/error.log").constData());
        return false;
    }
    ~Nginx()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate(); // SIGTERM: fast shutdown of master and workers
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
    }
    int port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

const WrkResult* find(const std::vector<WrkResult>& results, const QString& name, bool keepAlive)
{
    for (const WrkResult& r : results)
        if (r.name == name && r.keepAlive == keepAlive && r.ok)
            return &r;
    return nullptr;
}

// The child's side of the WebSocket run: opens the clients, says "connected" once
// all are open, counts the text messages of each for the given time and prints
// the counts on one line.
int webSocketClients(const QString& url, int clients, int seconds)
{
    std::vector<QWebSocket*> sockets;
    std::vector<qint64> counts(size_t(clients), 0);
    int open = 0;
    bool counting = false;
    for (int i = 0; i < clients; ++i) {
        auto* socket = new QWebSocket;
        QObject::connect(socket, &QWebSocket::connected, [&open] { ++open; });
        QObject::connect(socket, &QWebSocket::textMessageReceived, [&counts, &counting, i] {
            if (counting)
                ++counts[size_t(i)];
        });
        socket->open(QUrl(url));
        sockets.push_back(socket);
    }
    if (!waitFor([&] { return open == clients; }, 20000)) {
        std::printf("only %d of %d clients connected\n", open, clients);
        return 1;
    }
    std::printf("connected\n");
    std::fflush(stdout);
    counting = true;
    waitFor([] { return false; }, seconds * 1000);
    counting = false;
    QByteArray line = "counts";
    for (qint64 c : counts)
        line += ' ' + QByteArray::number(c);
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
    for (QWebSocket* socket : sockets)
        socket->close();
    waitFor([] { return false; }, 200);
    qDeleteAll(sockets);
    return 0;
}

// The remote's process CPU (in % of one core) over a time on the event loop.
double cpuOver(int ms)
{
    const double before = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    waitFor([] { return false; }, ms);
    return 100 * (cpuSeconds() - before) / (wall.nsecsElapsed() / 1e9);
}

// The JSON interface over WebSocket as the facade starts it from the configuration
// (interval 500 ms, the sample's periodic-data list), 50 clients in a child
// process, process data arriving from the internal processor.
void webSocketRun(StandIns& world, int port, int clients, int seconds)
{
    // Process data at 20 Hz with a moving joystick, as on the machine.
    world.process.startSending(50);
    QTimer joystick;
    qint16 position = 0;
    QObject::connect(&joystick, &QTimer::timeout, [&] {
        position = qint16((position + 97) % 2000 - 1000);
        world.process.setJoystick(1, position);
    });
    joystick.start(50);

    std::printf("\nWebSocket: JSON interface on 127.0.0.1:%d, interval 500 ms, the periodic tags "
                "of periodicdata.csv, process data every 50 ms\n",
                port);
    std::printf("  remote CPU, no client, 5 s: %.1f%%\n", cpuOver(5000));
    std::fflush(stdout);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                { "--ws-client", QStringLiteral("ws://127.0.0.1:%1").arg(port), "--ws-clients",
                  QString::number(clients), "--ws-seconds", QString::number(seconds) });
    QByteArray out;
    const auto collect = [&child, &out] {
        out += child.readAllStandardOutput();
        return out.contains("connected\n") || child.state() == QProcess::NotRunning;
    };
    waitFor(collect, 30000);
    if (!out.contains("connected\n")) {
        std::printf("  the clients did not connect: %s\n", out.constData());
        return;
    }
    const double before = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    waitFor([&] { return child.state() == QProcess::NotRunning; }, (seconds + 30) * 1000);
    const double cpu = 100 * (cpuSeconds() - before) / (wall.nsecsElapsed() / 1e9);
    out += child.readAllStandardOutput();
    std::vector<double> rates;
    const int at = out.indexOf("counts ");
    if (at >= 0)
        for (const QByteArray& c : out.mid(at + 7).trimmed().split(' '))
            rates.push_back(c.toDouble() / seconds);
    joystick.stop();
    world.process.stopSending();
    if (int(rates.size()) != clients) {
        std::printf("  no counts from the clients: %s\n", out.constData());
        return;
    }
    std::printf("  %d clients for %d s: messages per client per second min %.2f  median %.2f  "
                "max %.2f\n",
                clients, seconds, percentile(rates, 0), percentile(rates, 0.5),
                percentile(rates, 1));
    std::printf("  remote CPU with the clients (child process not counted): %.1f%% of a core "
                "(%.3f CPU-s per s)\n",
                cpu, cpu / 100);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The stand-ins move TMPDIR to a private folder.
    const QString systemTemp = QDir::tempPath();
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "duration", "Seconds per wrk run.", "s", "10" });
    parser.addOption({ "threads", "wrk threads.", "n", "2" });
    parser.addOption({ "connections", "wrk connections.", "n", "16" });
    parser.addOption({ "max-threads", "The server's maxThreads (handler pool size).", "n", "32" });
    parser.addOption({ "cleanup-interval", "The server's cleanupInterval.", "ms", "1000" });
    parser.addOption({ "nginx-workers", "nginx worker_processes.", "n", "2" });
    parser.addOption({ "wrk", "The wrk program.", "path", "wrk" });
    parser.addOption({ "nginx", "The nginx program.", "path", "/usr/sbin/nginx" });
    parser.addOption({ "ws-clients", "WebSocket clients (0: no WebSocket run).", "n", "50" });
    parser.addOption({ "ws-seconds", "Seconds the WebSocket clients receive.", "s", "20" });
    parser.addOption({ "ws-client", "Internal: be the WebSocket clients for this URL.", "url" });
    parser.addOption({ "rounds", "Times the remote's runs are repeated.", "n", "1" });
    parser.addOption({ "skip-nginx", "Measure the remote only." });
    parser.addOption(
        { "only", "Runs whose name contains this text only (e.g. REST, static).", "text" });
    parser.process(app);
    if (parser.isSet("ws-client"))
        return webSocketClients(parser.value("ws-client"),
                                qMax(1, parser.value("ws-clients").toInt()),
                                qMax(1, parser.value("ws-seconds").toInt()));
    Options o;
    o.seconds = qMax(1, parser.value("duration").toInt());
    o.threads = qMax(1, parser.value("threads").toInt());
    o.connections = qMax(o.threads, parser.value("connections").toInt());
    o.nginxWorkers = qMax(1, parser.value("nginx-workers").toInt());
    o.wrk = parser.value("wrk");
    o.nginx = parser.value("nginx");
    o.only = parser.value("only");
    const int maxThreads = qMax(1, parser.value("max-threads").toInt());
    const int cleanupInterval = qMax(10, parser.value("cleanup-interval").toInt());
    QLoggingCategory::setFilterRules("*.info=false\n*.warning=false");

    StandIns world;
    if (!world.isValid()) {
        std::fprintf(stderr, "the stand-ins did not come up\n");
        return 1;
    }
    const QString crane = world.sample.appDir("crane");
    // The 2 KB file, in the document root "../html" of the configuration folder.
    QByteArray staticFile = "<!DOCTYPE html><html><body><pre>\n";
    while (staticFile.size() < 2048 - 21)
        staticFile += "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde\n";
    staticFile.truncate(2048 - 21);
    staticFile += "</pre></body></html>\n";
    Q_ASSERT(staticFile.size() == 2048);
    QDir().mkpath(crane + "/html");
    writeFile(crane + "/html/static2k.html", staticFile);
    const int port = freeLoopbackPort();
    const int webSocketPort = freeLoopbackPort();
    const bool webSockets = parser.value("ws-clients").toInt() > 0;
    if (!world.setWebServices({ { "restapi/enabled", true },
                                { "restapi/host", "127.0.0.1" },
                                { "restapi/port", port },
                                { "restapi/minThreads", 1 },
                                { "restapi/maxThreads", maxThreads },
                                { "restapi/cleanupInterval", cleanupInterval },
                                { "websockets/enabled", webSockets },
                                { "websockets/host", "127.0.0.1" },
                                { "websockets/port", webSocketPort },
                                { "websockets/interval", 500 } })) {
        std::fprintf(stderr, "the web-services configuration could not be written\n");
        return 1;
    }
    NorvikLink* link = new NorvikLink;
    waitFor([] { return false; }, 500); // let the start-up traffic settle

    // 50 tags spread evenly over the sample database (names that need no escaping),
    // so that the lookups cost what an arbitrary selection costs.
    QStringList candidates;
    const TagDatabase* tags = link->getTags();
    static const QRegularExpression plain("^[A-Za-z0-9_]+$");
    for (qint32 i = 0; i < tags->size(); ++i)
        if (const Tag* tag = tags->at(i); tag && plain.match(tag->getTag()).hasMatch())
            candidates << tag->getTag();
    QStringList names;
    for (int k = 0; k < 50 && candidates.size() >= 50; ++k)
        names << candidates.at(int(qint64(k) * candidates.size() / 50));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const QString tagUrl = base + "/api/1.0/tags/?id=" + names.join(',');
    QNetworkAccessManager client;
    int status = 0;
    const QByteArray tagAnswer = httpGet(client, tagUrl, &status);
    if (status != 200 || names.size() < 50) {
        std::fprintf(stderr, "the 50-tag read failed: %d tags, status %d\n", int(names.size()),
                     status);
        return 1;
    }
    if (httpGet(client, base + "/static2k.html", &status) != staticFile || status != 200) {
        std::fprintf(stderr, "the static file is not served (status %d)\n", status);
        return 1;
    }
    QTemporaryDir scratch;
    const QString postScript = scratch.path() + "/post.lua";
    writeFile(postScript,
              "wrk.method = \"POST\"\n"
              "wrk.body = \"{}\"\n"
              "wrk.headers[\"Content-Type\"] = \"application/json\"\n");

    std::printf("load average at the start: %s\n", readFile("/proc/loadavg").trimmed().constData());
    std::printf("wrk: %d threads, %d connections, %d s per run, --latency\n", o.threads,
                o.connections, o.seconds);
    std::printf("remote: REST API on 127.0.0.1:%d, minThreads 1, maxThreads %d, cleanupInterval "
                "%d ms; 50 of the %d tags, answer %d bytes; static file %d bytes\n",
                port, maxThreads, cleanupInterval, int(tags->size()), int(tagAnswer.size()),
                int(staticFile.size()));
    std::fflush(stdout);

    std::vector<WrkResult> results;
    // The set-up requests' connection closed, its handler back in the pool.
    client.clearConnectionCache();
    waitFor([] { return false; }, 300);
    const ProcStatus idle = procStatus();
    std::printf("remote process (VmRSS, Threads from /proc/self/status):\n");
    printStatus("idle", idle, idle);
    std::printf("the remote:\n");
    // The pool frees one idle handler per cleanup interval.
    const int settleMs = cleanupInterval * (maxThreads + 5);
    const int rounds = qMax(1, parser.value("rounds").toInt());
    for (int round = 1; round <= rounds; ++round) {
        for (bool keepAlive : { true, false }) {
            results.push_back(runWrk(o, "REST GET 50 tags", tagUrl, keepAlive));
            results.push_back(runWrk(o, "static 2 KB file", base + "/static2k.html", keepAlive));
            results.push_back(
                runWrk(o, "REST POST arm", base + "/api/1.0/arm", keepAlive, postScript));
        }
        if (round == rounds)
            break;
        // Between rounds: a growth that comes back each round is memory kept, not reused.
        waitFor([&] { return procStatus().threads <= idle.threads; }, settleMs);
        malloc_trim(0);
        const QByteArray label = "after round " + QByteArray::number(round) + ", shrunk, trimmed";
        printStatus(label.constData(), procStatus(), idle);
    }
    std::vector<std::pair<const char*, ProcStatus>> statuses;
    statuses.emplace_back("right after the runs", procStatus());
    waitFor([] { return false; }, cleanupInterval + 200);
    statuses.emplace_back("one cleanup interval later", procStatus());
    QElapsedTimer sinceRuns;
    sinceRuns.start();

    if (!parser.isSet("skip-nginx")) {
        Nginx nginx(systemTemp);
        if (nginx.start(o, staticFile, tagAnswer)) {
            std::printf("nginx: worker_processes %d, 127.0.0.1:%d, access_log off, JSON as a "
                        "static file of %d bytes\n",
                        o.nginxWorkers, nginx.port(), int(tagAnswer.size()));
            const QString nbase = QStringLiteral("http://127.0.0.1:%1").arg(nginx.port());
            for (bool keepAlive : { true, false }) {
                results.push_back(
                    runWrk(o, "nginx static 2 KB file", nbase + "/static2k.html", keepAlive));
                results.push_back(
                    runWrk(o, "nginx JSON (50-tag size)", nbase + "/tags50.json", keepAlive));
            }
        } else {
            std::fprintf(stderr, "nginx did not start; no reference numbers\n");
        }
    }
    waitFor([&] { return procStatus().threads <= idle.threads; },
            int(qMax<qint64>(0, settleMs - sinceRuns.elapsed())));
    char settled[64];
    std::snprintf(settled, sizeof settled, "%.1f s after the runs", sinceRuns.elapsed() / 1000.0);
    statuses.emplace_back(settled, procStatus());
    // What the allocator keeps for reuse, as opposed to memory still in use.
    malloc_trim(0);
    statuses.emplace_back("then after malloc_trim(0)", procStatus());

    std::printf("load average at the end: %s\n", readFile("/proc/loadavg").trimmed().constData());
    std::printf("\n%-28s %-10s %12s %10s %10s %8s %8s  %s\n", "target", "connection", "requests/s",
                "p50 ms", "p99 ms", "non-2xx", "errors", "remote CPU us/req");
    for (const WrkResult& r : results)
        if (r.name.contains(o.only))
            std::printf("%-28s %-10s %12.0f %10.3f %10.3f %8lld %8lld  %s%s\n", qPrintable(r.name),
                        r.keepAlive ? "keep-alive" : "close", r.rps, r.p50, r.p99,
                        static_cast<long long>(r.non2xx), static_cast<long long>(r.socketErrors),
                        r.name.startsWith("nginx")
                            ? "-"
                            : qPrintable(QString::number(r.cpuPerRequest, 'f', 0)),
                        r.ok ? "" : "  (failed)");
    std::printf("\n");
    const WrkResult* ours = find(results, "static 2 KB file", true);
    const WrkResult* theirs = find(results, "nginx static 2 KB file", true);
    if (ours && theirs)
        std::printf("static file, keep-alive, requests/s ours/nginx: %.2f (target >= 0.5) %s\n",
                    ours->rps / theirs->rps, ours->rps / theirs->rps >= 0.5 ? "met" : "MISSED");
    for (bool keepAlive : { true, false })
        if (const WrkResult* rest = find(results, "REST GET 50 tags", keepAlive))
            std::printf("REST 50-tag read p99, %s: %.3f ms (target <= 5 ms) %s\n",
                        keepAlive ? "keep-alive" : "close", rest->p99,
                        rest->p99 <= 5 ? "met" : "MISSED");
    std::printf("remote process (VmRSS, Threads from /proc/self/status):\n");
    printStatus("idle", idle, idle);
    for (const auto& s : statuses)
        printStatus(s.first, s.second, idle);
    std::fflush(stdout);

    if (webSockets)
        webSocketRun(world, webSocketPort, parser.value("ws-clients").toInt(),
                     qMax(1, parser.value("ws-seconds").toInt()));

    // The facade's threads live until exit, as in the other benchmarks.
    std::_Exit(0);
}
