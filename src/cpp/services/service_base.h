#ifndef SERVICE_BASE_H
#define SERVICE_BASE_H

#include "transport_layer.h"

#include <QByteArray>
#include <QObject>

// Service ids: the key of a service in the service layer and the service id
// byte of its packets on the internal link.
enum {
    SERV_ID_SYSTEM_EVENT = 0,
    SERV_ID_PROCESS_DATA = 1,
    SERV_ID_CONFIGURATION = 2,
    SERV_ID_NOTIFICATION = 3,
    SERV_ID_CFALLBACK = 4,
    SERV_ID_GFALLBACK = 5,
    SERV_ID_POWER = 6 // reserved, no service
};

// Base of every internal-link service. A service gets each packet addressed
// to it through readData() and sends through readyReadFromService(); the
// message class says whether the transport acknowledges the packet itself
// (1), the receiving service answers it (2), or it is such an answer (3).
// A service that receives class 2 must answer with exactly one class-3
// emission, or later answers pair with the wrong request.
class ServiceBase : public QObject
{
    Q_OBJECT

public:
    ServiceBase(qint8 serviceId, QObject* parent = nullptr);

    virtual void readData(const QByteArray& data, Link fromLink, quint8 messageClass) = 0;

    quint8 getServiceId() const { return serviceId; }

signals:
    void readyReadFromService(const QByteArray& data, Link toLink, quint8 serviceId,
                              quint8 messageClass);

protected:
    quint8 serviceId;
};

#endif
