#include "service_base.h"

ServiceBase::ServiceBase(qint8 serviceId, QObject* parent)
    : QObject(parent)
    , serviceId(quint8(serviceId))
{
}
