// Arbitrary bytes from the launcher: parsed as one message text, and sent
// over a real local socket to a connected LauncherClient. A parsed command
// holds no whitespace, its data is trimmed, and a rebuilt message parses back
// to the same parts; the client's unread data stays within its limits.
#include "launcherclient.h"
#include "launchermessage.h"
#include "launchersimulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>

#include <cstdint>
#include <cstdlib>
#include <stdlib.h>

namespace {
void quiet(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        abort();
}

struct Link
{
    LauncherSimulator launcher;
    LauncherClient* client = nullptr;
    QLocalSocket* clientSocket = nullptr;
};

Link* setUp()
{
    static int argc = 1;
    static char name[] = "fuzz_launcher";
    static char* argv[] = { name, nullptr };
    qInstallMessageHandler(quiet);
    new QCoreApplication(argc, argv);
    // A private socket folder, so the fuzzer never meets a real launcher.
    char dir[] = "/tmp/fuzz_launcher-XXXXXX";
    if (!mkdtemp(dir))
        abort();
    qputenv("TMPDIR", dir);
    auto* link = new Link;
    if (!link->launcher.listen())
        abort();
    link->client = new LauncherClient(QStringLiteral("NKLauncher"));
    link->clientSocket = link->client->findChild<QLocalSocket*>();
    while (link->launcher.clientCount() == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return link;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Link* link = setUp();
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));

    const LauncherMessage message(QString::fromUtf8(bytes));
    for (const QChar c : message.getCommand())
        if (c.isSpace())
            abort();
    const QString dataPart = message.getData();
    if (!dataPart.isEmpty() && (dataPart.front().isSpace() || dataPart.back().isSpace()))
        abort();
    if (message.getCommand().isEmpty() && !dataPart.isEmpty())
        abort();
    const LauncherMessage reparsed(message.getMessage());
    if (reparsed.getCommand() != message.getCommand() || reparsed.getData() != dataPart)
        abort();
    message.hasValidCommand();

    link->launcher.send(bytes);
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
    if (link->clientSocket->bytesAvailable()
        > LauncherClient::maxBacklog + LauncherClient::maxLineLength + 256 * 1024)
        abort();
    if (link->launcher.clientCount() != 1)
        abort();
    link->launcher.clearReceived();
    return 0;
}
