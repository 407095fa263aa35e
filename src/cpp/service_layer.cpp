#include "service_layer.h"

#include "cfallbackservice.h"
#include "configurationservice.h"
#include "gfallbackservice.h"
#include "notificationservice.h"
#include "processdata.h"
#include "systemeventservice.h"
#include "transport_layer.h"
#include "tsan.h"

ServiceLayer::ServiceLayer(TagDatabase* tags, QObject* parent)
    : QObject(parent)
    , _tags(tags)
{
}

void ServiceLayer::run()
{
    _transport = new TransportLayer(this);

    _services.insert(SERV_ID_SYSTEM_EVENT, new SystemEventService(this));
    _services.insert(SERV_ID_PROCESS_DATA, new ProcessData(_tags, this));
    _services.insert(SERV_ID_CONFIGURATION, new ConfigurationService(_tags, this));
    _services.insert(SERV_ID_NOTIFICATION, new NotificationService(this));
    _services.insert(SERV_ID_CFALLBACK, new CFallbackService(this));
    _services.insert(SERV_ID_GFALLBACK, new GFallbackService(this));

    auto* events = static_cast<SystemEventService*>(_services.value(SERV_ID_SYSTEM_EVENT));
    auto* configuration
        = static_cast<ConfigurationService*>(_services.value(SERV_ID_CONFIGURATION));
    connect(_transport, &TransportLayer::readyRead, this, &ServiceLayer::readDataFromTransport);
    connect(_transport, &TransportLayer::internalLinkFailed, events,
            &SystemEventService::internalLinkFailed);
    // A configuration walk cut by a link failure starts again once the reset
    // handshake has brought the link back.
    connect(_transport, &TransportLayer::internalLinkFailed, configuration,
            &ConfigurationService::internalLinkFailed);
    connect(events, &SystemEventService::stateChanged, configuration,
            [configuration](SystemEventService::States state) {
                if (state != SystemEventService::NO_RI_Link)
                    configuration->internalLinkRestored();
            });
    for (ServiceBase* service : qAsConst(_services))
        connect(service, &ServiceBase::readyReadFromService, _transport,
                &TransportLayer::readDataFromService);
    // The creator waits in a blocking queued call and then reads the map.
    NORVIK_TSAN_RELEASE(this);
}

void ServiceLayer::readDataFromTransport(QByteArray data, Link link, quint8 serviceId,
                                         quint8 messageClass)
{
    if (serviceId > SERV_ID_GFALLBACK || link != Internal)
        return;
    ServiceBase* service = _services.value(serviceId);
    if (service)
        service->readData(data, Internal, messageClass);
}
