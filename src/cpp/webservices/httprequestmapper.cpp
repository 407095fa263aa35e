#include "httprequestmapper.h"

#include "httprequest.h"
#include "httpresponse.h"
#include "mainthreadcall.h"
#include "restcontroller.h"
#include "staticfilecontroller.h"

#include <QSettings>

namespace {
const QByteArray apiPrefix = "/api/1.0/";

// Takes as long for a wrong token of the right length however much of it matches.
bool sameToken(const QByteArray& given, const QByteArray& expected)
{
    if (given.size() != expected.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given.at(i) ^ expected.at(i));
    return difference == 0;
}
} // namespace

NorvikLinkRequestMapper::NorvikLinkRequestMapper(QSettings* settings, NorvikLink* link,
                                                 QObject* parent)
    : tessiro::HttpRequestHandler(parent)
    , m_norviklink(link)
    , m_facadeCall(new MainThreadCall(this))
    , m_apiToken(settings->value(QStringLiteral("apiToken")).toString().toUtf8())
{
    if (settings->value(QStringLiteral("path")).toString().isEmpty())
        settings->setValue(QStringLiteral("path"), QStringLiteral("../html"));
    m_staticFileController = new tessiro::StaticFileController(settings, this);
}

void NorvikLinkRequestMapper::close()
{
    m_facadeCall->close();
}

bool NorvikLinkRequestMapper::authorized(const tessiro::HttpRequest& request) const
{
    if (m_apiToken.isEmpty())
        return true;
    const QByteArray header = request.getHeader("authorization").trimmed();
    const QByteArray scheme = "bearer ";
    return header.left(scheme.size()).toLower() == scheme
        && sameToken(header.mid(scheme.size()).trimmed(), m_apiToken);
}

void NorvikLinkRequestMapper::service(tessiro::HttpRequest& request,
                                      tessiro::HttpResponse& response)
{
    if (request.getPath().startsWith(apiPrefix)) {
        if (!authorized(request)) {
            response.setStatus(401, "Unauthorized");
            response.setHeader("WWW-Authenticate", "Bearer");
            return;
        }
        RestController controller(m_norviklink, m_facadeCall);
        controller.service(request, response);
    } else if (request.getMethod() == "GET") {
        m_staticFileController->service(request, response);
    }
}
