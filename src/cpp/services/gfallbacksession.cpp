#include "gfallbacksession.h"

#include "error.h"

#include <QTimer>

GFallbackSession::GFallbackSession(QObject* parent)
    : QObject(parent)
    , _ready(true)
    , _rx_timer(new QTimer(this))
{
    _rx_timer->setInterval(rxTimeoutMs);
    _rx_timer->setSingleShot(true);
    connect(_rx_timer, &QTimer::timeout, this, &GFallbackSession::timeout);
    qInfo("R-Uzad fallback session established!");
}

GFallbackSession::~GFallbackSession()
{
    _rx_timer->stop();
    _rx_timer->deleteLater();
    qInfo("R-Uzad fallback session removed!");
}

quint8 GFallbackSession::ruzadMessageId(const QByteArray& message)
{
    NORVIK_ASSERT(message.size() >= ruzadHeaderSize);
    return quint8(message.at(ruzadMessageIdOffset));
}

bool GFallbackSession::write(const QByteArray& data)
{
    // A command may overtake the message being sent; anything else waits
    // for an empty buffer and is dropped otherwise.
    if (ruzadMessageId(data) != ruzadIdCmd && !_data_buffer.isEmpty())
        return false;
    _data_buffer.append(data);
    return true;
}

QByteArray GFallbackSession::nextBlock()
{
    const QByteArray block = _data_buffer.left(blockSize);
    _data_buffer.remove(0, block.size());
    return block;
}

void GFallbackSession::poke()
{
    _rx_timer->start();
}
