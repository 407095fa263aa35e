// The HTTP server driven over real loopback sockets: request parsing and its
// limits, response framing, the handler pool and its threads, static files, TLS.
#include "httpcookie.h"
#include "httplistener.h"
#include "httprequest.h"
#include "httprequesthandler.h"
#include "httpresponse.h"
#include "httpsessionstore.h"
#include "rawhttpclient.h"
#include "remoteworld.h"
#include "staticfilecontroller.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

using namespace tessiro;

namespace {
const QByteArray TEXT_413
    = "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
const QByteArray EMPTY_OK = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";

QByteArray ok(const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n"
        + body;
}

int threadCount()
{
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

// Echoes what the server parsed, so that a test sees the request as the handler does.
class TestHandler : public HttpRequestHandler
{
public:
    std::atomic<int> blocked { 0 };
    std::atomic<Qt::HANDLE> thread { nullptr };
    std::atomic<quint32> peer { 0 };
    HttpSessionStore* sessions = nullptr;

    void service(HttpRequest& request, HttpResponse& response) override
    {
        thread = QThread::currentThreadId();
        peer = request.getPeerAddress().toIPv4Address();
        const QByteArray path = request.getPath();
        if (path == "/chunked") {
            response.write("hello");
            response.write("0123456789abcdefg");
            return;
        }
        if (path == "/redirect")
            return response.redirect("/there");
        if (path == "/nothing")
            return;
        if (path == "/block") {
            // Busy until the handler's owner asks its thread to stop.
            ++blocked;
            while (!QThread::currentThread()->isInterruptionRequested())
                QThread::msleep(5);
            return;
        }
        QByteArray out = request.getMethod() + ' ' + path + '\n';
        for (const QByteArray& name : request.getParameterMap().uniqueKeys())
            out += "P " + name + '=' + request.getParameters(name).join('|') + '\n';
        for (const QByteArray& name : request.getHeaderMap().uniqueKeys())
            if (name.startsWith("x-"))
                out += "H " + name + '=' + request.getHeaders(name).join('|') + '\n';
        for (auto it = request.getCookieMap().cbegin(); it != request.getCookieMap().cend(); ++it)
            out += "C " + it.key() + '=' + it.value() + '\n';
        if (QTemporaryFile* file = request.getUploadedFile("file"))
            out += "F " + file->readAll() + '\n';
        if (!request.getBody().isEmpty())
            out += "B " + request.getBody() + '\n';
        if (path == "/session") {
            HttpSession session = sessions->getSession(request, response);
            session.set("n", session.get("n").toInt() + 1);
            out += "S " + session.get("n").toByteArray() + '\n';
        }
        if (path == "/cookie")
            response.setCookie(
                HttpCookie("sid", "v1", 60, "/", "note", "example.org", false, true));
        response.write(out, true);
    }
};

} // namespace

class tst_HttpServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exchange_data();
    void exchange();
    void keepAliveAndPipelining();
    void sessions();
    void staticFiles_data();
    void staticFiles();
    void staticFileCache();
    void tls();
    void destroyWithOpenConnections();

private:
    QSettings* settings(const QVariantMap& values);
    quint16 listen(const QVariantMap& values, HttpRequestHandler* handler);

    QTemporaryDir dir;
    TestHandler handler;
    std::vector<std::unique_ptr<QSettings>> allSettings;
    std::vector<std::unique_ptr<HttpListener>> listeners;
    quint16 port = 0;
    quint16 filePort = 0;
    int baseThreads = 0;
    std::unique_ptr<StaticFileController> files;
};

QSettings* tst_HttpServer::settings(const QVariantMap& values)
{
    const QString name = dir.filePath(QString("server%1.ini").arg(allSettings.size()));
    allSettings.emplace_back(new QSettings(name, QSettings::IniFormat));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        allSettings.back()->setValue(it.key(), it.value());
    return allSettings.back().get();
}

quint16 tst_HttpServer::listen(const QVariantMap& values, HttpRequestHandler* requestHandler)
{
    QVariantMap all { { "host", "127.0.0.1" } };
    all.insert(values);
    listeners.emplace_back(new HttpListener(settings(all), requestHandler));
    return listeners.back()->serverPort();
}

void tst_HttpServer::initTestCase()
{
    QVERIFY(dir.isValid());
    baseThreads = threadCount();
    handler.sessions = new HttpSessionStore(settings({}), this);
    port = listen({ { "maxRequestSize", 2000 }, { "maxMultiPartSize", 4000 } }, &handler);
    QVERIFY(port != 0);
}

void row(const char* name, const QByteArray& request, const QByteArray& response,
         bool closed = false, const QByteArray& warning = QByteArray())
{
    QTest::newRow(name) << request << response << closed << warning;
}

void refused(const char* name, const QByteArray& request, const QByteArray& warning)
{
    row(name, request, TEXT_413, true, "HttpRequest: " + warning);
}

void tst_HttpServer::exchange_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QByteArray>("warning");

    row("query", "GET /echo%20x?a=1&b=x+y%21&a=2&flag HTTP/1.1\r\n\r\n",
        ok("GET /echo x\nP a=1|2\nP b=x y!\nP flag=\n"));
    const QByteArray form = "name=J%C3%B6rg+K&n=5";
    row("form post",
        "POST /echo?q=1 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: 20\r\n\r\n"
            + form,
        ok("POST /echo\nP n=5\nP name=J\xc3\xb6rg K\nP q=1\nB " + form + '\n'));
    row("folded and repeated headers",
        "GET /echo HTTP/1.1\r\nX-Multi: one\r\nX-Folded: first\r\n\t second "
        "\r\nx-multi:two\r\n\r\n",
        ok("GET /echo\nH x-folded=first second\nH x-multi=one|two\n"));
    row("cookies", "GET /cookie HTTP/1.1\r\nCookie: a=1; b=\"x;y\"\r\nCookie: c = 3\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 34\r\nSet-Cookie: sid=v1; Comment=note; "
        "Domain=example.org; Max-Age=60; Path=/; HttpOnly; Version=1\r\n\r\n"
        "GET /cookie\nC a=1\nC b=\"x;y\"\nC c=3\n");
    row("chunked", "GET /chunked HTTP/1.1\r\n\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "5\r\nhello\r\n11\r\n0123456789abcdefg\r\n0\r\n\r\n");
    row("HTTP/1.0 closes", "GET /chunked HTTP/1.0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nhello0123456789abcdefg", true);
    row("Connection: close", "GET /echo HTTP/1.1\r\nconnection: Close\r\n\r\n",
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 10\r\n\r\nGET /echo\n", true);
    row("redirect", "GET /redirect HTTP/1.1\r\n\r\n",
        "HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: /there\r\n\r\nRedirect");
    static const char fileData[] = "line1\r\n--not\r\nbin\0\xff";
    const QByteArray file(fileData, sizeof fileData - 1);
    const QByteArray multipart = "--XyZ\r\nContent-Disposition: form-data; name=\"field\"\r\n\r\n"
                                 "value 1\r\n--XyZ\r\nContent-Disposition: form-data; "
                                 "name=\"file\"; filename=\"a.bin\"\r\nContent-Type: x/y\r\n\r\n"
        + file + "\r\n--XyZ--\r\n";
    row("upload",
        "POST /up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"XyZ\"\r\n"
        "Content-Length: "
            + QByteArray::number(multipart.size()) + "\r\n\r\n" + multipart,
        ok("POST /up\nP field=value 1\nP file=a.bin\nF " + file + '\n'));
    QByteArray parts, fields;
    for (int i = 0; i < 33; ++i) {
        const QByteArray name = i < 32 ? QByteArray::number(i).rightJustified(2, '0') : "file";
        parts += "--B\r\nContent-Disposition: form-data; name=\"" + name
            + "\"; filename=\"x\"\r\n\r\nd\r\n";
        fields += i < 32 ? "P " + name + "=x\n" : QByteArray();
    }
    parts += "--B--\r\n";
    row("upload of too many files",
        "POST /up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=B\r\nContent-Length: "
            + QByteArray::number(parts.size()) + "\r\n\r\n" + parts,
        ok("POST /up\n" + fields), false, "HttpRequest: too many uploaded files, file dropped");

    const QByteArray firstLine = "received broken HTTP request, invalid first line";
    refused("two-part request line", "GET /x\r\n\r\n", firstLine);
    refused("four-part request line", "GET /x HTTP/1.1 y\r\n\r\n", firstLine);
    refused("no HTTP version", "GET /x FTP/1\r\n\r\n", firstLine);
    refused("body over the total",
            "POST /echo HTTP/1.1\r\nContent-Length: 1990\r\n\r\n" + QByteArray(1990, 'b'),
            "received too many bytes");
    const QByteArray multipartHead
        = "POST /up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=B\r\nContent-Length: ";
    refused("multipart of exactly the limit",
            multipartHead + "4000\r\n\r\n" + QByteArray(4000, 'm'),
            "received too many multipart bytes");
    refused("multipart above the limit", multipartHead + "4001\r\n\r\n",
            "expected multipart body is too large");
    refused("negative length", "POST /echo HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
            "received broken HTTP request, invalid Content-Length");
}

void tst_HttpServer::exchange()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, response);
    QFETCH(bool, closed);
    QFETCH(QByteArray, warning);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.constData());

    RawHttpClient client(port, request);
    QTRY_COMPARE_WITH_TIMEOUT(client.received, response, 10000);
    if (closed)
        QTRY_VERIFY(client.closed());
    else
        QVERIFY(!client.closed());
}

void tst_HttpServer::keepAliveAndPipelining()
{
    RawHttpClient client(port, "GET /nothing HTTP/1.1\r\n\r\nGET /echo?x=1 HTTP/1.1\r\n\r\n");
    const QByteArray both = EMPTY_OK + ok("GET /echo\nP x=1\n");
    QTRY_COMPARE(client.received, both);
    client.socket.write("GET /nothing HTTP/1.1\r\n\r\n");
    QTRY_COMPARE(client.received, both + EMPTY_OK);
    QVERIFY(!client.closed());
    QVERIFY(handler.thread != QThread::currentThreadId());
    QCOMPARE(handler.peer.load(), QHostAddress(QHostAddress::LocalHost).toIPv4Address());
}

void tst_HttpServer::sessions()
{
    RawHttpClient first(port, "GET /session HTTP/1.1\r\n\r\n");
    QTRY_VERIFY(first.received.contains("S 1\n"));
    const int start = first.received.indexOf("Set-Cookie: sessionid=") + 22;
    const QByteArray id = first.received.mid(start, first.received.indexOf(';', start) - start);
    QVERIFY(first.received.contains("sessionid=" + id + "; Max-Age=3600; Version=1\r\n"));
    RawHttpClient again(port, "GET /session HTTP/1.1\r\nCookie: sessionid=" + id + "\r\n\r\n");
    QTRY_VERIFY(again.received.contains("S 2\n"));
    QVERIFY(again.received.contains("sessionid=" + id + "; Max-Age=3600; Version=1\r\n"));
    RawHttpClient forged(port, "GET /session HTTP/1.1\r\nCookie: sessionid=x\r\n\r\n");
    QTRY_VERIFY(forged.received.contains("S 1\n"));
    QVERIFY(!forged.received.contains("Set-Cookie: sessionid=x;"));
}

void tst_HttpServer::staticFiles_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QByteArray>("warning");
    const auto add = [](const char* path, const QByteArray& response, const QByteArray& warning) {
        QTest::newRow(path) << QByteArray(path) << response << warning;
    };
    const QByteArray head = "HTTP/1.1 200 OK\r\nCache-Control: max-age=30\r\n";
    const QByteArray chunked = "Transfer-Encoding: chunked\r\n\r\n";
    add("/",
        head + "Content-Type: text/html; charset=UTF-8\r\n" + chunked
            + "9\r\n<p>hi</p>\r\n0\r\n\r\n",
        {});
    add("/sub/i.png", head + "Content-Type: image/png\r\n" + chunked + "3\r\nPNG\r\n0\r\n\r\n", {});
    add("/data.bin", head + chunked + "2\r\n\x01\x02\r\n0\r\n\r\n", {});
    add("/nope.txt", "HTTP/1.1 404 not found\r\nContent-Length: 13\r\n\r\n404 not found", {});
    const QByteArray forbidden
        = "HTTP/1.1 403 forbidden\r\nContent-Length: 13\r\n\r\n403 forbidden";
    const QByteArray climbing = "StaticFileController: detected forbidden characters in path ";
    add("/sub/../../secret.txt", forbidden, climbing + "/sub/../../secret.txt");
    add("/%2e%2e/secret.txt", forbidden, climbing + "/../secret.txt");
    add("/locked", forbidden,
        "StaticFileController: Cannot open existing file "
            + QFile::encodeName(dir.filePath("docs/locked/index.html")) + " for reading");
}

void tst_HttpServer::staticFiles()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, response);
    QFETCH(QByteArray, warning);
    if (!files) {
        // The document root is given relative to the settings file.
        QVERIFY(QDir(dir.path()).mkpath("docs/locked/index.html"));
        for (const auto& [path, content] : { std::pair("docs/index.html", "<p>hi</p>"),
                                             { "docs/sub/i.png", "PNG" },
                                             { "docs/data.bin", "\x01\x02" },
                                             { "secret.txt", "s" },
                                             { "docs/c.txt", "old" } })
            QVERIFY(remoteworld::writeFile(dir.filePath(path), content));
        QSettings* s = settings({ { "path", "docs" }, { "maxAge", 30000 } });
        files.reset(new StaticFileController(s));
        filePort = listen({ { "path", "docs" } }, files.get());
    }
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    RawHttpClient client(filePort, "GET " + path + " HTTP/1.1\r\n\r\n");
    QTRY_COMPARE(client.received, response);
}

void tst_HttpServer::staticFileCache()
{
    QVERIFY(files);
    const QByteArray head = "HTTP/1.1 200 OK\r\nCache-Control: max-age=30\r\n";
    RawHttpClient first(filePort, "GET /c.txt HTTP/1.1\r\n\r\n");
    QTRY_COMPARE(first.received,
                 head
                     + "Content-Type: text/plain; charset=UTF-8\r\n"
                       "Transfer-Encoding: chunked\r\n\r\n3\r\nold\r\n0\r\n\r\n");
    QVERIFY(remoteworld::writeFile(dir.filePath("docs/c.txt"), "new!"));
    // Within the cache time the old document comes from memory, in one piece.
    RawHttpClient second(filePort, "GET /c.txt HTTP/1.1\r\n\r\n");
    QTRY_COMPARE(second.received,
                 head
                     + "Content-Length: 3\r\n"
                       "Content-Type: text/plain; charset=UTF-8\r\n\r\nold");
}

void tst_HttpServer::tls()
{
    QProcess openssl;
    openssl.setWorkingDirectory(dir.path());
    openssl.start("openssl",
                  { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "k.pem", "-out",
                    "c.pem", "-days", "2", "-subj", "/CN=127.0.0.1" });
    QVERIFY2(openssl.waitForFinished(60000) && openssl.exitCode() == 0,
             openssl.readAllStandardError());
    const quint16 tlsPort = listen(
        { { "sslKeyFile", "k.pem" }, { "sslCertFile", "c.pem" }, { "maxThreads", 1 } }, &handler);
    // Twice, so that the one handler's socket serves a second handshake.
    for (int round = 0; round < 2; ++round) {
        QSslSocket socket;
        QByteArray received;
        connect(&socket, &QSslSocket::readyRead, [&] { received += socket.readAll(); });
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted("127.0.0.1", tlsPort);
        QTRY_VERIFY_WITH_TIMEOUT(socket.isEncrypted(), 10000);
        QVERIFY(socket.sessionProtocol() == QSsl::TlsV1_2
                || socket.sessionProtocol() == QSsl::TlsV1_3);
        socket.write("GET /nothing HTTP/1.1\r\nConnection: close\r\n\r\n");
        QTRY_COMPARE(received, "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    }
}

void tst_HttpServer::destroyWithOpenConnections()
{
    listeners.clear();
    QTRY_COMPARE(threadCount(), baseThreads);
    const quint16 doomed = listen({ { "cleanupInterval", 60000 } }, &handler);
    RawHttpClient idle(doomed, "GET /nothing HTTP/1.0\r\n\r\n");
    QTRY_VERIFY(idle.closed());
    RawHttpClient keepAlive(doomed, "GET /nothing HTTP/1.1\r\n\r\n");
    QTRY_COMPARE(keepAlive.received, EMPTY_OK);
    RawHttpClient partial(doomed, "GET /echo HTTP/1.1\r\nX-A: 1\r\n");
    RawHttpClient silent(doomed);
    RawHttpClient busy(doomed, "GET /block HTTP/1.1\r\n\r\n");
    QTRY_COMPARE(handler.blocked.load(), 1);
    QTRY_VERIFY(silent.socket.state() == QAbstractSocket::ConnectedState
                && threadCount() >= baseThreads + 4);

    QElapsedTimer timer;
    timer.start();
    listeners.clear();
    QVERIFY(timer.elapsed() < 5000);
    QTRY_COMPARE(threadCount(), baseThreads);
    QTRY_VERIFY(keepAlive.closed() && partial.closed() && silent.closed() && busy.closed());
}

QTEST_MAIN(tst_HttpServer)
#include "tst_httpserver.moc"
