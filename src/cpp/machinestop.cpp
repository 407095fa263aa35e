#include "machinestop.h"

#include "error.h"
#include "platformpaths.h"

#include <QFile>
#include <QTimer>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int BGP_STOPBUTTON_GPIO_NUM = 37;
constexpr int POLL_PERIOD_MS = 250;

QByteArray gpioPath(const char* format)
{
    char relative[40];
    snprintf(relative, sizeof(relative), format, BGP_STOPBUTTON_GPIO_NUM);
    return QFile::encodeName(PlatformPaths::systemPath(QString::fromLatin1(relative)));
}

// Writes the whole text to a sysfs attribute; false when the file cannot be
// opened. 'written' gets the count write() returned.
bool writeAttribute(const QByteArray& path, const char* text, ssize_t length, ssize_t* written)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    *written = ::write(fd, text, size_t(length));
    ::close(fd);
    return true;
}
} // namespace

MachineStop::MachineStop(QObject* parent)
    : QObject(parent)
{
    exportGpio();
    setDirection();
    initialized = true;

    pollTimer = new QTimer(this);
    connect(pollTimer, &QTimer::timeout, this, &MachineStop::poll);
    // A button held at start-up is reported before the constructor returns.
    poll();
    pollTimer->start(POLL_PERIOD_MS);
}

void MachineStop::exportGpio()
{
    char number[8];
    const int length = snprintf(number, sizeof(number), "%d", BGP_STOPBUTTON_GPIO_NUM);
    ssize_t written = 0;
    if (!writeAttribute(gpioPath("/sys/class/gpio/export"), number, length, &written)) {
        qWarning("Not able to get GPIO for Machine Stop");
        return;
    }
    // The kernel refuses the write when the line is exported already.
    if (written < length)
        qWarning("BGP_STOPBUTTON_GPIO_NUM already exported");
}

void MachineStop::setDirection()
{
    ssize_t written = 0;
    if (!writeAttribute(gpioPath("/sys/class/gpio/gpio%d/direction"), "in", 2, &written)
        || written < 2)
        qWarning("Not able to set GPIO direction for Machine Stop");
}

void MachineStop::poll()
{
    checkButtonState();
}

STOPBUTTON_STATE MachineStop::checkButtonState()
{
    NORVIK_ASSERT(initialized);

    // Opened per sample: no descriptor is held between polls.
    const int fd
        = ::open(gpioPath("/sys/class/gpio/gpio%d/value").constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        qWarning("Failed to read stop button gpio fd");
        return reportPressed();
    }
    char level[3] = { 0, 0, 0 };
    if (::read(fd, level, sizeof(level)) < 0) {
        qWarning("Failed to read stop button gpio pin");
        level[0] = 0;
    }
    ::close(fd);

    if (level[0] == '0')
        return reportPressed();
    if (level[0] == '1') {
        if (stopButtonState == STOP_BUTTON_PRESSED) {
            stopButtonState = STOP_BUTTON_NOT_PRESSED;
            emit stopReleased();
        }
        return STOP_BUTTON_NOT_PRESSED;
    }
    qWarning("Error reading stop button");
    return reportPressed();
}

STOPBUTTON_STATE MachineStop::reportPressed()
{
    if (stopButtonState == STOP_BUTTON_NOT_PRESSED) {
        stopButtonState = STOP_BUTTON_PRESSED;
        emit stopPressed();
    }
    return STOP_BUTTON_PRESSED;
}
