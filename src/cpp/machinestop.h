#ifndef MACHINESTOP_H
#define MACHINESTOP_H

#include <QObject>

class QTimer;

// GPIO level of the machine-stop push button. The line is active low.
enum STOPBUTTON_STATE { STOP_BUTTON_PRESSED = 0, STOP_BUTTON_NOT_PRESSED = 1 };

// Watches the machine-stop button on its sysfs GPIO line and turns the level
// into edge signals. Anything that cannot be read as "1" counts as pressed, so
// a broken stop input stops the machine.
class MachineStop : public QObject
{
    Q_OBJECT

public:
    explicit MachineStop(QObject* parent = nullptr);

    // Samples the pin once, emits on a change and returns the sampled state.
    STOPBUTTON_STATE checkButtonState();
    // The state last reported by a signal (or found by the first sample).
    STOPBUTTON_STATE buttonState() const { return stopButtonState; }

signals:
    void stopPressed();
    void stopReleased();

public slots:
    void poll();

private:
    void exportGpio();
    void setDirection();
    STOPBUTTON_STATE reportPressed();

    bool initialized = false;
    QTimer* pollTimer = nullptr;
    STOPBUTTON_STATE stopButtonState = STOP_BUTTON_NOT_PRESSED;
};

#endif
