#include "gfallbackservice.h"

#include "gfallbacksession.h"

GFallbackService::GFallbackService(QObject* parent)
    : ServiceBase(SERV_ID_GFALLBACK, parent)
    , _session(nullptr)
{
}

void GFallbackService::send(const QByteArray& data)
{
    if (data.size() < GFallbackSession::ruzadHeaderSize) {
        qWarning("GFallbackService: R-Uzad message of %d bytes is shorter than its %d-byte "
                 "header, dropped",
                 int(data.size()), GFallbackSession::ruzadHeaderSize);
        return;
    }
    if (!_session) {
        _session = new GFallbackSession(this);
        connect(_session, &GFallbackSession::timeout, this, &GFallbackService::reset);
        emit up();
    }
    // An accepted command goes out at once, even with a block in flight.
    if (_session->write(data))
        sendNextBlock();
}

void GFallbackService::readData(const QByteArray& data, Link origin, quint8 messageClass)
{
    Q_UNUSED(origin)
    // Whatever the payload means, a request must get its one answer or the
    // transport pairs later answers with the wrong request.
    if (messageClass == MSG_CLASS_SERVICE_ACK)
        emit readyReadFromService(QByteArray(), Internal, serviceId, MSG_CLASS_ACK);
    if (!_session) {
        qWarning("Got data, but no session was active!");
        return;
    }
    if (data.isEmpty()) {
        // The previous block was delivered.
        _session->ack();
        sendNextBlock();
        return;
    }
    _session->poke();
    emit receive(data);
}

void GFallbackService::sendNextBlock()
{
    const QByteArray block = _session->nextBlock();
    if (block.isEmpty())
        return;
    _session->send();
    emit readyReadFromService(block, Internal, serviceId, MSG_CLASS_TRANSP_ACK);
}

void GFallbackService::reset()
{
    abort();
    if (_session) {
        // No late timeout of the old session may end a new one.
        disconnect(_session, nullptr, this, nullptr);
        _session->deleteLater();
        _session = nullptr;
    }
    emit down();
}

void GFallbackService::abort()
{
    emit readyReadFromService(QByteArray(), Internal, serviceId, MSG_CLASS_TRANSP_ACK);
}
