#ifndef FRAME_LAYER_H
#define FRAME_LAYER_H

#include <QByteArray>
#include <QObject>

// Byte stuffing of internal-link frames: stx, the stuffed message, etx. A
// special byte inside the message goes out as dle followed by the byte XOR
// 0x80, so 0x0A appears on the wire only as the end of a frame.
class FrameLayer : public QObject
{
    Q_OBJECT

public:
    static constexpr char stx = char(0x82);
    static constexpr char etx = char(0x0A);
    static constexpr char dle = char(0x90);

    enum Action { ADD = 0, REMOVE = 1 };

    explicit FrameLayer(QObject* parent = nullptr);

    QByteArray add(QByteArray data);
    QByteArray remove(QByteArray data);
    QByteArray parseData(QByteArray data, Action action);
};

#endif
