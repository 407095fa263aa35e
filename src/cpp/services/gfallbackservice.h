#ifndef GFALLBACKSERVICE_H
#define GFALLBACKSERVICE_H

#include "service_base.h"

class GFallbackSession;

// Service 5: whole R-Uzad messages tunnelled through the internal
// processor's radio link in blocks of at most 252 bytes, one block per
// confirmation, and tunnel data coming back.
class GFallbackService : public ServiceBase
{
    Q_OBJECT

public:
    explicit GFallbackService(QObject* parent = nullptr);

    void readData(const QByteArray& data, Link origin, quint8 messageClass) override;

    bool hasSession() const { return _session != nullptr; }

public slots:
    void send(const QByteArray& data);
    void reset();

signals:
    void up();
    void down();
    void receive(const QByteArray& data);

private:
    void abort();
    void sendNextBlock();

    GFallbackSession* _session;
};

#endif
