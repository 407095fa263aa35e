#ifndef HTTPREQUESTHANDLER_H
#define HTTPREQUESTHANDLER_H

#include <QObject>

namespace tessiro {

class HttpRequest;
class HttpResponse;

// Base of everything that answers requests. service() is called on the thread
// of the connection handler that read the request, so several calls may run at
// once; implementations guard their own shared state.
class HttpRequestHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpRequestHandler)

public:
    explicit HttpRequestHandler(QObject* parent = nullptr);
    ~HttpRequestHandler() override;

    virtual void service(HttpRequest& request, HttpResponse& response);
};

} // namespace tessiro

#endif
