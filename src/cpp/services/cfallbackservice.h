#ifndef CFALLBACKSERVICE_H
#define CFALLBACKSERVICE_H

#include "service_base.h"

// Service 4: service-forward bytes between the base-unit manager and the
// internal processor, relayed unchanged in both directions.
class CFallbackService : public ServiceBase
{
    Q_OBJECT

public:
    explicit CFallbackService(QObject* parent = nullptr);

    void readData(const QByteArray& data, Link fromLink, quint8 messageClass) override;

public slots:
    void cFallbackRx(const QByteArray& data);

signals:
    void cFallbackTx(const QByteArray& data);
};

#endif
