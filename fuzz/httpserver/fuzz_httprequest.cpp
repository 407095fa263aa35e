// Feeds arbitrary bytes to the request parser as the data a client sends, cut
// into up to three reads, then looks at everything a handler can see.
//
// Input: two little-endian 16-bit cut offsets (each taken modulo the length of
// the rest), then the client's bytes.
#include "requestfeed.h"

#include <algorithm>
#include <cstdint>

namespace {
constexpr int kMaxRequestSize = 2000;
constexpr int kMaxMultiPartSize = 4000;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    silenceQtLog();
    static const QSettings* settings = requestSettings(kMaxRequestSize, kMaxMultiPartSize);
    if (size < 4)
        return 0;

    const QByteArray stream(reinterpret_cast<const char*>(data) + 4, int(size) - 4);
    int first = (data[0] | data[1] << 8) % (stream.size() + 1);
    int second = (data[2] | data[3] << 8) % (stream.size() + 1);
    if (first > second)
        std::swap(first, second);

    tessiro::HttpRequest request(settings);
    feed(request, stream.left(first));
    feed(request, stream.mid(first, second - first));
    feed(request, stream.mid(second));
    inspect(request);

    if (request.getStatus() == tessiro::HttpRequest::complete) {
        // Everything kept in memory stays within the limits.
        if (request.getBody().size() > kMaxRequestSize
            || request.getRawPath().size() > kMaxRequestSize)
            std::abort();
    }
    return 0;
}
