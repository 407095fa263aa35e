#include "frame_layer.h"

FrameLayer::FrameLayer(QObject* parent)
    : QObject(parent)
{
}

QByteArray FrameLayer::add(QByteArray data)
{
    QByteArray frame;
    frame.reserve(2 * data.size() + 2);
    frame.append(stx);
    frame.append(parseData(data, ADD));
    frame.append(etx);
    return frame;
}

QByteArray FrameLayer::remove(QByteArray data)
{
    return parseData(data, REMOVE);
}

QByteArray FrameLayer::parseData(QByteArray data, Action action)
{
    const char* in = data.constData();
    const int size = data.size();
    QByteArray out;
    if (action == ADD) {
        out.resize(2 * size);
        char* o = out.data();
        for (int i = 0; i < size; ++i) {
            const char b = in[i];
            if (b == dle || b == etx || b == stx) {
                *o++ = dle;
                *o++ = char(b ^ 0x80);
            } else {
                *o++ = b;
            }
        }
        out.resize(int(o - out.constData()));
        return out;
    }

    out.resize(size);
    char* o = out.data();
    for (int i = 0; i < size; ++i) {
        const char b = in[i];
        if (b == etx || b == stx)
            continue; // delimiters carry no data, wherever they are
        if (b == dle) {
            // The byte after an escape is taken whatever it is; an escape at
            // the very end stands for an escaped zero byte.
            *o++ = char((i + 1 < size ? in[i + 1] : 0) ^ 0x80);
            ++i;
        } else {
            *o++ = b;
        }
    }
    out.resize(int(o - out.constData()));
    return out;
}
