#include "processdata.h"

#include "processdataelement.h"
#include "tagdatabase.h"

#include <QTimer>

ProcessData::ProcessData(TagDatabase* tags, QObject* parent)
    : ServiceBase(SERV_ID_PROCESS_DATA, parent)
    , _tags(tags)
    , storeAndSendIntervalMs(500)
{
    if (_tags) {
        sendDataTimer = new QTimer(this);
        connect(sendDataTimer, &QTimer::timeout, this, &ProcessData::storeAndSendProcessData);
        sendDataTimer->start(storeAndSendIntervalMs);
    }
    static const char* const frameOrder[] = {
        "ru_identity",  "rc_state",   "g_link_status",   "g_link_rssi",
        "g_link_cable", "ru_battery", "ru_charge_state", "led_control_1_to_8",
    };
    for (const char* name : frameOrder)
        processDataVector.append(new ProcessdataElement(this, QLatin1String(name), _tags));
    if (_tags)
        connect(this, &ProcessData::newProcessData, _tags, &TagDatabase::processProsessData);
}

void ProcessData::readData(const QByteArray& data, Link fromLink, quint8 messageClass)
{
    Q_UNUSED(fromLink)
    // Class 3 only acknowledges one of our frames; a class-2 frame gets no answer.
    if (messageClass == MSG_CLASS_ACK)
        return;
    emit newProcessData(data);
}

void ProcessData::storeAndSendProcessData()
{
    QByteArray frame;
    for (const ProcessdataElement* element : qAsConst(processDataVector))
        frame.append(element->getValue());
    emit readyReadFromService(frame, Internal, serviceId, MSG_CLASS_TRANSP_ACK);
}
