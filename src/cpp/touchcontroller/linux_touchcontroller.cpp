#include "linux_touchcontroller.h"

#include "egalaxpcap_calls.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QDebug>
#include <QTimer>

#include <cstring>

namespace {

constexpr int POLL_PERIOD_MS = 1000;

// State-word flags worth a line in the log, in the order they are reported.
struct StateFlag
{
    uint32_t mask;
    const char* text;
};
constexpr StateFlag STATE_FLAGS[] = {
    { 0x200, "TouchController: INFO_STRAY_CONFIDENCE" },
    { 0x400, "TouchController: INFO_EXT_DISABLE_TOUCH" },
    { 0x800, "TouchController: INFO_WATER_DISABLE_TOUCH" },
    { 0x1000, "TouchController: INFO_SW_DISABLE_TOUCH" },
    { 0x8000, "TouchController: INFO_STRAY_INVALID" },
    { 0x200000, "TouchController: INFO_NOISE_CONDITION" },
    { 0x400000, "TouchController: INFO_WATER_CONDITION" },
};

// Why touch is off, as "touch_state" tells it: 1 by software, 2 by water,
// 3 from outside, 0 not at all. Software wins over water, water over outside.
int touchStateFromWord(uint32_t word)
{
    if (word & 0x1000)
        return 1;
    if (word & 0x800)
        return 2;
    if (word & 0x400)
        return 3;
    return 0;
}

// A name buffer the library filled, read up to its NUL or its end.
QString nameFrom(const char (&buffer)[PCAP_NAME_BUFFER_SIZE])
{
    return QString::fromLocal8Bit(buffer, int(qstrnlen(buffer, sizeof(buffer))));
}

} // namespace

TouchController::TouchController(TagDatabase* tagDatabase, QObject* parent)
    : QObject(parent)
    , m_tagDatabase(tagDatabase)
{
    if (m_tagDatabase) {
        m_modeTag = m_tagDatabase->get(QStringLiteral("touch_mode"));
        m_stateTag = m_tagDatabase->get(QStringLiteral("touch_state"));
    }
    if (!m_modeTag)
        qWarning("Missing tag \"touch_mode\"");
    if (!m_stateTag)
        qWarning("Missing tag \"touch_state\"");

    initDevice();

    auto* poll = new QTimer(this);
    poll->setObjectName(QStringLiteral("touchStatePoll"));
    connect(poll, &QTimer::timeout, this, &TouchController::checkDeviceState);
    poll->start(POLL_PERIOD_MS);
}

TouchController::~TouchController()
{
    closeDevice();
}

bool TouchController::initDevice()
{
    closeDevice();
    m_open = OpenDevice() != 0;
    if (!m_open) {
        qCritical("TouchController::OpenDevice failed");
        return false;
    }
    EX5960SoftRestart(0);

    // Each name into a cleared buffer: the library writes only the name's bytes.
    const auto readName = [this](int (*get)(char*), const char* call, QString* into) {
        char name[PCAP_NAME_BUFFER_SIZE] = {};
        if (!get(name)) {
            qCritical("TouchController - %s failed!", call);
            closeDevice();
            return false;
        }
        *into = nameFrom(name);
        return true;
    };
    if (!readName(GetDevModelName, "GetDevModelName", &m_model)
        || !readName(GetDevTypeName, "GetDevTypeName", &m_type)
        || !readName(GetDevVersionName, "GetDevVersionName", &m_version))
        return false;

    qInfo().noquote() << "TouchController detected:" << m_type << m_model << m_version;
    setTouchMode(FingerMode);
    return m_open;
}

bool TouchController::closeDevice()
{
    if (m_open) {
        CloseDevice();
        m_open = false;
    }
    return true;
}

int TouchController::touchState()
{
    unsigned char state = 0;
    if (m_open && PCAPGetTouchState(PCAP_TOUCH_PANEL, &state))
        return state;
    qCritical("TouchController - PCAPGetTouchState failed!");
    return -1;
}

bool TouchController::setTouchState(int state)
{
    if (m_open) {
        if (touchState() == state)
            return true;
        const auto written = static_cast<unsigned char>(state);
        if (PCAPSetTouchState(PCAP_TOUCH_PANEL, written)) {
            // Preset to the other value, so a read that fills nothing is no success.
            unsigned char readBack = state == 0 ? 1 : 0;
            PCAPGetTouchState(PCAP_TOUCH_PANEL, &readBack);
            if (readBack == written)
                return true;
        }
    }
    qCritical("TouchController - PCAPSetTouchState(%d) failed!", state);
    return false;
}

int TouchController::fingerGloveMode()
{
    unsigned char mode = 0xFF;
    if (!m_open)
        return mode;
    if (!FingerGloveMode(PCAP_READ, &mode))
        qCritical("TouchController - GET FingerGloveMode failed!");
    return mode;
}

bool TouchController::setFingerGloveMode(int value)
{
    auto mode = static_cast<unsigned char>(value);
    if (m_open && FingerGloveMode(PCAP_WRITE, &mode))
        return true;
    qCritical("TouchController - SET FingerGloveMode(%d) failed!", value);
    return false;
}

void TouchController::setTouchMode(int mode)
{
    QMutexLocker lock(&m_lock);
    // Touch off writes the finger/glove byte as well (0xFF for mode 0), so the
    // controller learns of every mode change in both settings.
    bool ok = mode >= 0 && setTouchState(mode >= FingerMode ? 1 : 0)
        && setFingerGloveMode(mode - FingerMode);
    if (m_modeTag)
        m_modeTag->setValue(QVariant(ok ? mode : TouchError));
}

int TouchController::touchMode()
{
    QMutexLocker lock(&m_lock);
    const int state = touchState();
    const int fingerGlove = fingerGloveMode();
    if (state < 0 || fingerGlove < 0)
        return TouchError;
    if (state == 0)
        return TouchDisabled;
    return FingerMode + fingerGlove;
}

void TouchController::checkDeviceState()
{
    QMutexLocker lock(&m_lock);
    uint32_t word = 0;
    // A failed read is not reported: it would repeat every second.
    if (!m_open || !GetDevStateInfo(&word) || int(word) == m_infoCode)
        return;
    if (word == 0)
        qInfo("TouchController: INFO_NORMAL_STATE");
    for (const StateFlag& flag : STATE_FLAGS)
        if (word & flag.mask)
            qInfo("%s", flag.text);
    m_infoCode = int(word);
    if (m_stateTag)
        m_stateTag->setValue(QVariant(touchStateFromWord(word)));
}
