// Arbitrary bytes from the serial line into the receive path: the input is
// cut at 0x0A the way the tty driver cuts it, and every piece goes through
// unstuffing, the CRC check and the transport header. Half of the runs also
// get the CRC fixed up so that the header handling is reached.
//
// Checked: the layer delivers only classes 1 to 3; every piece stuffs into a
// frame with its delimiters only at its ends and unstuffs back to itself, and a
// message with its CRC appended passes the check.
#include "crcstd32.h"
#include "frame_layer.h"
#include "transport_layer.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_transport";
    static char* argv[] = { name, nullptr };
    static QCoreApplication* app = [] {
        setenv("NORVIK_SYSROOT", "/nonexistent-norvik-fuzz-root", 1);
        return new QCoreApplication(argc, argv);
    }();
    Q_UNUSED(app)
    static TransportLayer* layer = [] {
        auto* created = new TransportLayer;
        QObject::connect(created, &TransportLayer::readyRead,
                         [](const QByteArray&, Link, quint8, quint8 messageClass) {
                             if (messageClass < 1 || messageClass > 3)
                                 abort();
                         });
        return created;
    }();

    if (size == 0)
        return 0;
    const bool fixCrc = data[0] & 1;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), int(size - 1));
    FrameLayer frames;
    for (const QByteArray& piece : input.split('\n')) {
        const QByteArray stuffed = frames.add(piece);
        if (stuffed.front() != FrameLayer::stx || stuffed.back() != FrameLayer::etx
            || stuffed.indexOf(FrameLayer::etx) != stuffed.size() - 1
            || stuffed.lastIndexOf(FrameLayer::stx) != 0 || frames.remove(stuffed) != piece)
            abort();
        if (fixCrc) {
            QByteArray message = frames.remove(piece);
            CrcStd32::add(message);
            if (!CrcStd32::check(message))
                abort();
            layer->readDataFromInternal(frames.add(message));
        } else {
            layer->readDataFromInternal(piece + '\n');
        }
    }
    // Answers from services must never pair beyond what was asked.
    layer->readDataFromService(QByteArray("a"), Internal, data[0] % 8, 3);
    return 0;
}
