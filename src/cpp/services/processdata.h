#ifndef PROCESSDATA_H
#define PROCESSDATA_H

#include "service_base.h"

#include <QVector>

class ProcessdataElement;
class QTimer;
class TagDatabase;

// Process data (service 1): frames of the internal processor's inputs go to
// the tag database, and every 500 ms the eight status tags go out as one
// class-1 frame, their encodings concatenated in a fixed order (see
// ProcessdataElement for the encodings and how values cross threads).
//
// Lives on the service thread and must be built there after the tag database
// is populated: the elements find their tags, and take their values, at
// construction. newProcessData is connected to the tag database's
// processProsessData, so a frame is decoded on the database's thread.
class ProcessData : public ServiceBase
{
    Q_OBJECT

public:
    explicit ProcessData(TagDatabase* tags, QObject* parent = nullptr);

    void readData(const QByteArray& data, Link fromLink, quint8 messageClass) override;

    const QVector<ProcessdataElement*>& elements() const { return processDataVector; }

signals:
    void newProcessData(QByteArray data);

public slots:
    void storeAndSendProcessData();

private:
    TagDatabase* _tags;
    QTimer* sendDataTimer = nullptr;
    const int storeAndSendIntervalMs;
    QVector<ProcessdataElement*> processDataVector;
};

#endif
