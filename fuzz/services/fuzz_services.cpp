// Arbitrary payloads for services 0, 3, 4 and 5 as the transport hands them
// over, and arbitrary messages for the R-Uzad tunnel as the base-unit manager
// hands them over. The first byte picks the target and the message class; no
// block may leave the tunnel larger than 252 bytes.
#include "cfallbackservice.h"
#include "gfallbackservice.h"
#include "notificationservice.h"
#include "systemeventservice.h"

#include <QCoreApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char* argv[] = { const_cast<char*>("fuzz_services"), nullptr };
    static QCoreApplication app(argc, argv);
    static ServiceBase* services[] = { new SystemEventService, new NotificationService,
                                       new CFallbackService, new GFallbackService };
    static auto* tunnel = static_cast<GFallbackService*>(services[3]);
    static const bool setUp = [] {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
            if (type == QtFatalMsg)
                abort();
        });
        return QObject::connect(tunnel, &ServiceBase::readyReadFromService,
                                [](const QByteArray& block) {
                                    if (block.size() > 252)
                                        abort();
                                });
    }();
    if (size == 0 || !setUp)
        return 0;
    const QByteArray payload(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const int target = (data[0] >> 2) % 6;
    if (target < 4)
        services[target]->readData(payload, Internal, data[0] & 0x03);
    else if (target == 4)
        tunnel->send(payload);
    else
        tunnel->reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
