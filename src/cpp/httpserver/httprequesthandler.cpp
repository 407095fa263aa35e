#include "httprequesthandler.h"

#include "httpresponse.h"

namespace tessiro {

HttpRequestHandler::HttpRequestHandler(QObject* parent)
    : QObject(parent)
{
}

HttpRequestHandler::~HttpRequestHandler() = default;

void HttpRequestHandler::service(HttpRequest& request, HttpResponse& response)
{
    Q_UNUSED(request)
    qCritical("HttpRequestHandler: you need to override the service() function");
    response.setStatus(501, "not implemented");
    response.write("501 not implemented", true);
}

} // namespace tessiro
