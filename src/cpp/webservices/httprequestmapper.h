#ifndef HTTPREQUESTMAPPER_H
#define HTTPREQUESTMAPPER_H

#include "httprequesthandler.h"

class MainThreadCall;
class NorvikLink;
class QSettings;

namespace tessiro {
class StaticFileController;
}

// The HTTP server's handler: paths under "/api/1.0/" go to a RestController,
// other GET requests are served from the document root ("path", by default
// "../html" beside the configuration file). With "apiToken" set, an API request
// must carry "Authorization: Bearer <token>" or gets 401.
class NorvikLinkRequestMapper : public tessiro::HttpRequestHandler
{
    Q_OBJECT
    Q_DISABLE_COPY(NorvikLinkRequestMapper)

public:
    NorvikLinkRequestMapper(QSettings* settings, NorvikLink* link, QObject* parent = nullptr);

    void service(tessiro::HttpRequest& request, tessiro::HttpResponse& response) override;

    // Ends the API's access to the facade; requests still waiting for it are
    // answered 503. Called on the facade's thread before the server is ended.
    void close();

private:
    bool authorized(const tessiro::HttpRequest& request) const;

    NorvikLink* m_norviklink;
    tessiro::StaticFileController* m_staticFileController;
    MainThreadCall* m_facadeCall;
    QByteArray m_apiToken;
};

#endif
