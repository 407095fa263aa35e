#ifndef SERVICE_LAYER_H
#define SERVICE_LAYER_H

#include "service_base.h"

#include <QMap>
#include <QObject>

class TagDatabase;
class TransportLayer;

// Top of the internal link stack. Built by run() on the service thread: the
// transport layer (and with it the serial port) and one object of each
// service live there; packets are handed to the service their header names.
// The creator moves the layer to its thread, invokes run() with a blocking
// queued call and then takes the service map to connect the services.
class ServiceLayer : public QObject
{
    Q_OBJECT

public:
    explicit ServiceLayer(TagDatabase* tags, QObject* parent = nullptr);

    QMap<unsigned char, ServiceBase*> getServices() const { return _services; }
    TransportLayer* transport() const { return _transport; }

public slots:
    void run();
    void readDataFromTransport(QByteArray data, Link link, quint8 serviceId, quint8 messageClass);

private:
    TagDatabase* _tags;
    TransportLayer* _transport = nullptr;
    QMap<unsigned char, ServiceBase*> _services;
};

#endif
