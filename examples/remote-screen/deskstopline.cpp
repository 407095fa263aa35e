#include "deskstopline.h"

#include <QFile>

DeskStopLine::DeskStopLine(QObject* parent)
    : QObject(parent)
{
    const QString sysroot = QFile::decodeName(qgetenv("NORVIK_SYSROOT"));
    if (!sysroot.isEmpty())
        path = sysroot + QStringLiteral("/sys/class/gpio/gpio37/value");
}

bool DeskStopLine::press(bool pressed)
{
    // The line is active low.
    QFile value(path);
    return isAvailable() && value.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && value.write(pressed ? "0" : "1") == 1;
}
