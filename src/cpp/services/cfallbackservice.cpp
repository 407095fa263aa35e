#include "cfallbackservice.h"

CFallbackService::CFallbackService(QObject* parent)
    : ServiceBase(SERV_ID_CFALLBACK, parent)
{
}

void CFallbackService::readData(const QByteArray& data, Link fromLink, quint8 messageClass)
{
    if (fromLink != Internal)
        qFatal("Unexpected fromLink: not Internal!");
    if (messageClass == MSG_CLASS_ACK)
        return;
    if (messageClass == MSG_CLASS_SERVICE_ACK)
        emit readyReadFromService(QByteArray(), Internal, serviceId, MSG_CLASS_ACK);
    if (data.isEmpty()) {
        // Nothing to forward; the base unit has no use for an empty service packet.
        qWarning("CFallbackService: empty service-forward payload dropped");
        return;
    }
    emit cFallbackTx(data);
}

void CFallbackService::cFallbackRx(const QByteArray& data)
{
    emit readyReadFromService(data, Internal, serviceId, MSG_CLASS_TRANSP_ACK);
}
