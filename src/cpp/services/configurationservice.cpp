#include "configurationservice.h"

#include "app.h"
#include "configfile.h"
#include "tagdatabase.h"
#include "tsan.h"

#include <QThread>

namespace {
constexpr int valueSize = 4;
constexpr quint32 noValue = 0xFFFFFFFFu;

quint32 readLittleEndian(const QByteArray& data)
{
    quint32 value = 0;
    for (int k = 0; k < valueSize; ++k)
        value |= quint32(quint8(data.at(k))) << (8 * k);
    return value;
}

QByteArray toLittleEndian(quint32 value)
{
    QByteArray bytes(valueSize, '\0');
    for (int k = 0; k < valueSize; ++k)
        bytes[k] = char((value >> (8 * k)) & 0xFF);
    return bytes;
}

// Runs `call` on the object's own thread: returns false after posting it
// there when the caller is on another thread, true when the caller may go on.
template<typename Call> bool onOwnThread(QObject* object, Call call)
{
    if (QThread::currentThread() == object->thread())
        return true;
    // Whatever the caller prepared (the application's tables) is read on the
    // other side; Qt's event queue orders that, the annotations say so.
    NORVIK_TSAN_RELEASE(object);
    QMetaObject::invokeMethod(
        object,
        [object, call] {
            NORVIK_TSAN_ACQUIRE(object);
            call();
        },
        Qt::QueuedConnection);
    return false;
}
} // namespace

ConfigurationService::ConfigurationService(TagDatabase* tags, QObject* parent)
    : ServiceBase(SERV_ID_CONFIGURATION, parent)
    , _tags(tags)
    , m_configParams({
          { QStringLiteral("RCSR"), QStringLiteral("rc_sw_rev") },
          { QStringLiteral("ECSR"), QStringLiteral("ec_sw_rev") },
          { QStringLiteral("HWRV"), QStringLiteral("hw_rev") },
          { QStringLiteral("HWID"), QStringLiteral("hw_id") },
          { QStringLiteral("RUID"), QStringLiteral("ru_id") },
          { QStringLiteral("IRTY"), QStringLiteral("clink_radio_type") },
          { QStringLiteral("IJS1"), QStringLiteral("joystick_01_id") },
          { QStringLiteral("IJS2"), QStringLiteral("joystick_02_id") },
          { QStringLiteral("IJS3"), QStringLiteral("joystick_03_id") },
          { QStringLiteral("IJS4"), QStringLiteral("joystick_04_id") },
          { QStringLiteral("IEF1"), QStringLiteral("switch_01_id") },
          { QStringLiteral("IEF2"), QStringLiteral("switch_02_id") },
          { QStringLiteral("IEF3"), QStringLiteral("switch_03_id") },
          { QStringLiteral("IEF4"), QStringLiteral("switch_04_id") },
          { QStringLiteral("IEF5"), QStringLiteral("switch_05_id") },
          { QStringLiteral("IEF6"), QStringLiteral("switch_06_id") },
          { QStringLiteral("IEF7"), QStringLiteral("switch_07_id") },
          { QStringLiteral("IEF8"), QStringLiteral("switch_08_id") },
          { QStringLiteral("IENC"), QStringLiteral("encoder_id") },
      })
    , m_configParamsIterator(m_configParams.cend())
{
}

void ConfigurationService::requestConfigurationParameters()
{
    if (!onOwnThread(this, [this] { requestConfigurationParameters(); }))
        return;
    if (m_requestOutstanding) {
        // The answer on its way belongs to the request it answers; the new
        // walk begins when it is in.
        m_restartPending = true;
        return;
    }
    m_configParamsIterator = m_configParams.cbegin();
    sendRequest();
}

void ConfigurationService::internalLinkFailed()
{
    if (!m_requestOutstanding && !m_restartPending)
        return;
    qWarning("ConfigurationService: internal link failed during the configuration walk, it "
             "starts again when the link is back");
    m_requestOutstanding = false;
    m_restartPending = false;
    m_walkInterrupted = true;
    m_configParamsIterator = m_configParams.cend();
}

void ConfigurationService::internalLinkRestored()
{
    if (!m_walkInterrupted)
        return;
    m_walkInterrupted = false;
    m_configParamsIterator = m_configParams.cbegin();
    sendRequest();
}

void ConfigurationService::setConfigurationParameters(App* app)
{
    if (!onOwnThread(this, [this, app] { setConfigurationParameters(app); }))
        return;
    if (!app) {
        qWarning("No valid app passed to function.");
        return;
    }
    configFile = app->getConfigFile();
    if (!loadConfigFromFile(configFile))
        qWarning("App exists, but has no valid config file.");
    // Loaded second, so the key table wins for a key that both tables hold.
    keyFile = app->getKeyFile();
    if (!loadConfigFromFile(keyFile))
        qWarning("App exists, but has no valid key file.");
}

bool ConfigurationService::loadConfigFromFile(ConfigFile* file)
{
    if (!file) {
        qWarning("File does not exist.");
        return false;
    }
    const QVector<QString> keys = file->getAllTags();
    for (const QString& key : keys) {
        bool ok = false;
        const quint32 value = file->getValue(key, QStringLiteral("value")).toUInt(&ok, 10);
        configurationParameters.insert(key, ok ? value : 0);
    }
    return true;
}

void ConfigurationService::readData(const QByteArray& data, Link fromLink, quint8 messageClass)
{
    Q_UNUSED(fromLink)
    switch (messageClass) {
    case MSG_CLASS_ACK:
        break;
    case MSG_CLASS_SERVICE_ACK:
        answerRequest(data);
        return;
    default:
        return;
    }

    if (!m_requestOutstanding)
        return; // no request of the walk awaits an answer
    m_requestOutstanding = false;
    const RCConfig& entry = *m_configParamsIterator;
    if (data.size() < valueSize) {
        qWarning("ConfigurationService: answer of %d bytes for %s is too short, %s left unchanged",
                 int(data.size()), qPrintable(entry.configName), qPrintable(entry.tagName));
    } else {
        const quint32 value = readLittleEndian(data);
        if (value != noValue)
            storeValue(entry, value);
    }
    if (m_restartPending) {
        m_restartPending = false;
        m_configParamsIterator = m_configParams.cbegin();
    } else {
        ++m_configParamsIterator;
    }
    if (m_configParamsIterator != m_configParams.cend())
        sendRequest();
}

void ConfigurationService::sendRequest()
{
    m_requestOutstanding = true;
    emit readyReadFromService(m_configParamsIterator->configName.toLocal8Bit(), Internal, serviceId,
                              MSG_CLASS_SERVICE_ACK);
}

void ConfigurationService::storeValue(const RCConfig& entry, quint32 value)
{
    if (!_tags)
        return;
    const unsigned b0 = value & 0xFF;
    const unsigned b2 = (value >> 16) & 0xFF;
    const unsigned b3 = (value >> 24) & 0xFF;
    QVariant v;
    if (entry.tagName == QLatin1String("rc_sw_rev") || entry.tagName == QLatin1String("hw_rev"))
        v = QStringLiteral("%1.%2").arg(b3).arg(b2);
    else if (entry.tagName == QLatin1String("ec_sw_rev"))
        v = QStringLiteral("%1.%2.%3").arg(b3).arg(b2).arg(b0);
    else
        v = QVariant(value);
    // Looked up and written on the tags' own thread, so a tag database cleared
    // meanwhile leaves nothing dangling here.
    TagDatabase* tags = _tags;
    const QString name = entry.tagName;
    QMetaObject::invokeMethod(
        tags,
        [tags, name, v] {
            if (Tag* tag = tags->get(name))
                tag->setValue(v);
        },
        Qt::AutoConnection);
}

void ConfigurationService::answerRequest(const QByteArray& data)
{
    quint32 value = noValue;
    if (data.size() < valueSize) {
        qWarning("ConfigurationService: request of %d bytes has no key, answered without a value",
                 int(data.size()));
    } else {
        const QString key = QString::fromLatin1(data.constData(), valueSize);
        if (isKnownKey(key))
            value = configurationParameters.value(key);
    }
    emit readyReadFromService(toLittleEndian(value), Internal, serviceId, MSG_CLASS_ACK);
}

bool ConfigurationService::isKnownKey(const QString& key) const
{
    return (configFile && configFile->keyExists(key)) || (keyFile && keyFile->keyExists(key));
}
