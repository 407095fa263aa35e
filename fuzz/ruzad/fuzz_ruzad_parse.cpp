// Feeds arbitrary byte streams into RUzad::Connection over both of its inputs: the TCP read
// buffer and the fallback tunnel, in chunks of fuzzer-chosen sizes, with the tunnel going up
// and down in between. Checks that the buffers stay bounded.
#include "connection.h"

#include <QCoreApplication>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {
// Less than one message stays behind: a header and the largest payload the size field allows.
constexpr int kMaxKept = RUzad::HEADER_SIZE + 0xFFFF;

void quiet(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        std::abort();
}

QCoreApplication* app = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qInstallMessageHandler(quiet);
    app = new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray checksum = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    RUzad::Connection conn(0x42, 0x1234, checksum);
    QByteArray tcp;
    while (input.remaining_bytes() > 0) {
        const uint8_t control = input.ConsumeIntegral<uint8_t>();
        const std::string chunk = input.ConsumeRandomLengthString(4096);
        const QByteArray bytes(chunk.data(), int(chunk.size()));
        switch (control % 8) {
        case 0:
            conn.resetFallback();
            break;
        case 1:
        case 2:
        case 3:
            conn.handleFallback(bytes);
            break;
        default:
            tcp.append(bytes);
            QMetaObject::invokeMethod(&conn, "parse", Qt::DirectConnection, Q_ARG(QByteArray&, tcp),
                                      Q_ARG(RUzad::MessageOrigin, RUzad::ORIGIN_TCP));
            if (tcp.size() >= kMaxKept)
                std::abort();
            break;
        }
    }
    return 0;
}
