// Arbitrary payloads for services 3, 4 and 5 as the transport hands them
// over, and arbitrary messages for the R-Uzad tunnel as the base-unit manager
// hands them over. The first byte picks the service, the message class and
// the direction; no block may leave the tunnel larger than 252 bytes.
#include "cfallbackservice.h"
#include "gfallbackservice.h"
#include "notificationservice.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

namespace {
void quiet(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_services";
    static char* argv[] = { name, nullptr };
    static QCoreApplication* app = [] {
        qInstallMessageHandler(quiet);
        return new QCoreApplication(argc, argv);
    }();
    Q_UNUSED(app)
    static NotificationService* notification = new NotificationService;
    static CFallbackService* serviceForward = new CFallbackService;
    static GFallbackService* tunnel = [] {
        auto* service = new GFallbackService;
        QObject::connect(service, &ServiceBase::readyReadFromService,
                         [](const QByteArray& block, Link, quint8, quint8) {
                             if (block.size() > 252)
                                 abort();
                         });
        return service;
    }();

    if (size == 0)
        return 0;
    const quint8 selector = data[0];
    const quint8 messageClass = selector & 0x03;
    const QByteArray payload(reinterpret_cast<const char*>(data + 1), int(size - 1));
    switch ((selector >> 2) % 5) {
    case 0:
        notification->readData(payload, Internal, messageClass);
        break;
    case 1:
        serviceForward->readData(payload, Internal, messageClass);
        break;
    case 2:
        tunnel->readData(payload, Internal, messageClass);
        break;
    case 3:
        tunnel->send(payload);
        break;
    default:
        tunnel->reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        break;
    }
    return 0;
}
