#ifndef DESKSTOPLINE_H
#define DESKSTOPLINE_H

#include <QObject>
#include <QString>

// On the remote the machine stop is a push button wired to a GPIO line, which the
// library watches; the screen only shows its state. On a desk, where that line is a
// file below NORVIK_SYSROOT, this object lets a screen button press and release it,
// so the stop takes the same path through the library as the real button.
class DeskStopLine : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool available READ isAvailable CONSTANT)

public:
    explicit DeskStopLine(QObject* parent = nullptr);

    bool isAvailable() const { return !path.isEmpty(); }
    Q_INVOKABLE bool press(bool pressed);

private:
    QString path;
};

#endif
