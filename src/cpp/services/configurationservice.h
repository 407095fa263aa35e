#ifndef CONFIGURATIONSERVICE_H
#define CONFIGURATIONSERVICE_H

#include "service_base.h"

#include <QMap>
#include <QString>
#include <QVector>

class App;
class ConfigFile;
class TagDatabase;

// Configuration parameters exchanged with the internal processor (service 2),
// each named on the wire by a four-character key.
//
// The walk reads nineteen identification values one request at a time (the
// next request goes out when the answer to the previous one arrives) and
// stores each in its tag. Requests of the internal processor are answered
// from the running application's configuration and key tables.
//
// Pairing. An answer always belongs to the one request that is outstanding,
// so its value goes to that request's tag. A walk restarted while a request
// is outstanding begins once that answer is in, never shifting it onto the
// first entry. A link failure loses the outstanding request (the transport
// discards it); the walk then starts again from the first entry when the
// link is back (internalLinkRestored()), so the remote's identity always
// arrives.
//
// Threads. The service lives on the service thread, where readData() runs.
// setConfigurationParameters() and requestConfigurationParameters() may be
// called from any thread: from another thread they post themselves queued to
// the service's thread and return at once, so the walk position and the
// parameter map are only ever touched there. Calls made one after the other
// from one thread take effect in that order. The tags belong to the main
// thread: a value from the walk is looked up by name and written by a call
// queued to the tag database's thread (direct when the service shares it),
// so no tag pointer is kept here. The application's tables are only read.
//
// Short payloads. A value or request carries at least four bytes; anything
// after the fourth is ignored. A shorter answer of the walk is logged and
// counts as "no value": the walk goes on with the next parameter, since the
// internal processor has answered and waits for the next request. A shorter
// request is logged and still gets exactly one answer, the no-value answer,
// because the transport pairs answers with requests in order.
class ConfigurationService : public ServiceBase
{
    Q_OBJECT

public:
    struct RCConfig
    {
        QString configName; // the key sent to the internal processor
        QString tagName; // the tag that receives the value
    };

    explicit ConfigurationService(TagDatabase* tags, QObject* parent = nullptr);

    void readData(const QByteArray& data, Link fromLink, quint8 messageClass) override;

    bool hasValidConfigurationParameters() const { return false; }

    // The parameters read in a walk, in reading order.
    const QVector<RCConfig>& parameters() const { return m_configParams; }

public slots:
    // Starts the walk at the first parameter (again, if one is in progress).
    void requestConfigurationParameters();
    // Takes the application's configuration and key tables for the answers.
    // From another thread the tables are read later, on the service's thread:
    // the application must stay (applications live as long as their database).
    void setConfigurationParameters(App* app);
    // The transport gave up on the internal link: an outstanding request is lost.
    void internalLinkFailed();
    // The reset handshake brought the link back: an interrupted walk starts again.
    void internalLinkRestored();

private:
    // Copies every row of the table into configurationParameters.
    bool loadConfigFromFile(ConfigFile* file);
    void sendRequest();
    void storeValue(const RCConfig& entry, quint32 value);
    void answerRequest(const QByteArray& data);
    bool isKnownKey(const QString& key) const;

    TagDatabase* _tags;
    QMap<QString, quint32> configurationParameters;
    ConfigFile* configFile = nullptr;
    ConfigFile* keyFile = nullptr;
    const QVector<RCConfig> m_configParams;
    // The parameter whose value is awaited; end() when no walk is in progress.
    QVector<RCConfig>::const_iterator m_configParamsIterator;
    // The request for *m_configParamsIterator is out and its answer not yet in.
    bool m_requestOutstanding = false;
    // A walk was asked for while a request was outstanding.
    bool m_restartPending = false;
    // A link failure cut a walk short.
    bool m_walkInterrupted = false;
};

#endif
