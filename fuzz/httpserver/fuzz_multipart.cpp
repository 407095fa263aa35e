// Feeds arbitrary bytes as the body of a well-formed multipart/form-data
// upload, so that the splitting into fields and files gets the coverage.
#include "requestfeed.h"

#include <cstdint>

namespace {
constexpr int kMaxRequestSize = 2000;
constexpr int kMaxMultiPartSize = 100000;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    silenceQtLog();
    static const QSettings* settings = requestSettings(kMaxRequestSize, kMaxMultiPartSize);

    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    const QByteArray head = "POST /upload HTTP/1.1\r\n"
                            "Host: 127.0.0.1\r\n"
                            "Content-Type: multipart/form-data; boundary=XyZ\r\n"
                            "Content-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n";

    tessiro::HttpRequest request(settings);
    feed(request, head + body);
    inspect(request);
    // Head and field values count against the limit as well, but the head stays
    // within the request size, so a body that leaves that much room is accepted.
    if (body.size() < kMaxMultiPartSize - kMaxRequestSize
        && request.getStatus() != tessiro::HttpRequest::complete)
        std::abort();
    return 0;
}
