#ifndef CONFIGURATIONPEER_H
#define CONFIGURATIONPEER_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>

class InternalProcessorSim;

// The internal processor's side of the configuration parameters (service 2):
// answers the library's parameter requests from a table, and asks the
// library for application parameters of its own.
class ConfigurationPeer : public QObject
{
    Q_OBJECT

public:
    explicit ConfigurationPeer(InternalProcessorSim* sim, QObject* parent = nullptr);

    // The answer to a request for `key`: the value, 4 bytes little-endian.
    void setValue(const QByteArray& key, quint32 value);
    // Answered FF FF FF FF, as is every key the table does not hold.
    void setNoValue(const QByteArray& key);
    // Any payload, e.g. a broken, short one.
    void setAnswer(const QByteArray& key, const QByteArray& payload);
    // Off: requests stay unanswered.
    void setAnswering(bool on) { m_answering = on; }

    // The keys the library asked for, in order.
    QList<QByteArray> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

    // Asks the library for a parameter (class 2); the answer is recorded.
    void requestParameter(const QByteArray& key);
    // (key asked for, answer payload), in the order the answers came.
    QList<QPair<QByteArray, QByteArray>> answers() const { return m_answers; }

    static QByteArray encode(quint32 value);

signals:
    void parameterRequested(const QByteArray& key);
    void answerReceived(const QByteArray& key, const QByteArray& payload);

private:
    InternalProcessorSim* m_sim;
    QHash<QByteArray, QByteArray> m_table;
    bool m_answering = true;
    QList<QByteArray> m_requests;
    QHash<quint8, QByteArray> m_open; // packet number -> key asked for
    QList<QPair<QByteArray, QByteArray>> m_answers;
};

#endif
