#ifndef PROCESSDATAPEER_H
#define PROCESSDATAPEER_H

#include "servicepeer.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

class QTimer;

// The internal processor's side of process data (service 1): keeps an input
// frame laid out as an input tag table says, sends it on demand or at a
// rate, and records the status frames the library sends.
class ProcessDataPeer : public ServicePeer
{
    Q_OBJECT

public:
    static constexpr quint8 serviceId = 1;

    explicit ProcessDataPeer(InternalProcessorSim* sim, QObject* parent = nullptr);

    // Takes the byte positions from an input tag table; the frame becomes as
    // long as the table's last field reaches and all zero.
    bool loadLayout(const QString& tablePath);
    QByteArray frame() const { return m_frame; }
    int frameSize() const { return m_frame.size(); }

    // Writes a value into the frame as the table row of that tag says
    // (integer fields in their byte order and bit range, single bits for
    // booleans); false for a tag the table lacks.
    bool setField(const QString& tagName, qint64 value);
    bool setJoystick(int n, qint16 value); // "joystick_0n"
    bool setSwitch(int n, bool on); // "switch_0n"
    bool setEncoder(qint16 value); // "encoder_01"
    // Bytes straight into the frame, for layouts no table describes.
    void setBytes(int position, const QByteArray& bytes);

    // Sends the current frame once (class 1, or 2 or 3 to test the library).
    void sendFrame(quint8 messageClass = 1);
    void startSending(int intervalMs);
    void stopSending();

    // The library's status frames (class 1 on service 1), in arrival order.
    QList<QByteArray> statusFrames() const { return m_statusFrames; }
    void clearStatusFrames() { m_statusFrames.clear(); }

signals:
    void statusFrameReceived(const QByteArray& frame);

protected:
    bool handles(quint8 id) const override { return id == serviceId; }
    // Each status frame is recorded once, also when a late acknowledgement
    // made the library send it again.
    void handlePacket(const InternalProcessorSim::Packet& packet) override;

private:
    struct Field
    {
        int startByte = 0;
        int byteSize = 0;
        int startBit = 0;
        int bitSize = 0;
        QString dataType;
    };

    QTimer* m_timer;
    QHash<QString, Field> m_fields;
    QByteArray m_frame;
    QList<QByteArray> m_statusFrames;
};

#endif
