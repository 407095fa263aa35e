#ifndef LINUX_TOUCHCONTROLLER_H
#define LINUX_TOUCHCONTROLLER_H

#include <QMutex>
#include <QObject>
#include <QString>

class Tag;
class TagDatabase;
class QTimer;

// The display's projected-capacitive touch controller, driven through the
// vendor's library. The device is opened once, at construction, and set to
// finger mode; it is never reopened, so while it is closed every mode change
// publishes TouchError in "touch_mode". A child timer ("touchStatePoll") polls
// the state word every 1000 ms and publishes what it says in "touch_state";
// it lives and dies with the object, whose destructor closes the device.
// Everything runs on the owner's thread; m_lock serialises the mode interface
// and the poll against callers on other threads.
class TouchController : public QObject
{
    Q_OBJECT

public:
    // Values of "touch_mode" and of setTouchMode().
    static constexpr int TouchError = -1;
    static constexpr int TouchDisabled = 0;
    static constexpr int FingerMode = 1;
    static constexpr int GloveMode = 2;
    static constexpr int WaterRejectionDisabled = 3;

    TouchController(TagDatabase* tagDatabase, QObject* parent);
    ~TouchController() override;

    void setTouchMode(int mode);
    int touchMode();

public slots:
    void checkDeviceState();

private:
    bool initDevice();
    bool closeDevice();
    int touchState();
    bool setTouchState(int state);
    int fingerGloveMode();
    bool setFingerGloveMode(int value);

    QMutex m_lock;
    bool m_open = false;
    int m_infoCode = 0;
    QString m_model;
    QString m_type;
    QString m_version;
    TagDatabase* m_tagDatabase = nullptr;
    Tag* m_modeTag = nullptr;
    Tag* m_stateTag = nullptr;
};

#endif
