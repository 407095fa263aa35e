#ifndef NORVIK_LINK_DEFINES_H
#define NORVIK_LINK_DEFINES_H

#include <QMetaType>
#include <QObject>
#include <QString>

// Enumerations the user interface sees ("Defines" in "NorvikRemote.Defines").
class NorvikLinkDefines : public QObject
{
    Q_OBJECT

public:
    explicit NorvikLinkDefines(QObject* parent = nullptr);

    enum NotificationSeverity { INFO = 0, WARNING = 1, ALARM = 2 };
    Q_ENUM(NotificationSeverity)

    enum VibrationMotor { VIBRATE_LEFT = 0, VIBRATE_RIGHT = 1, VIBRATE_BOTH = 2 };
    Q_ENUM(VibrationMotor)
};

// What a notification is about. The internal processor sends a 16-bit number
// and ids it knows but we do not are passed on unchanged, hence the fixed
// underlying type: every 16-bit value is a valid NOTIFICATION_ID_T.
enum NOTIFICATION_ID_T : quint16 {
    NTFY_ID_GENERIC = 0,
    NTFY_ID_STOP_ACTIVE = 1,
    NTFY_ID_RU_DROP_DETECTED = 2,
    NTFY_ID_RU_SHOCK_DETECTED = 3,
    NTFY_ID_SELECT_FAILED = 4,
    NTFY_ID_ARM_FAIL_STOP_ACTIVE = 5,
    NTFY_ID_ARM_FAIL_DROP = 6,
    NTFY_ID_ARM_FAIL_SHOCK = 7,
    NTFY_ID_ARM_FAIL_NO_BU_COM = 8,
    NTFY_ID_ARM_FAIL_BU_ALLREADY_ARMED = 9,
    NTFY_ID_ARMED_OK = 10,
    NTFY_ID_DISABLE_INACTIVITY = 11,
    NTFY_ID_DISABLE_TILTING = 12,
    NTFY_ID_EXT_STOP_TRIG_STOP_ACTIVATED = 13,
    NTFY_ID_EXT_STOP_TRIG_RU_DROP_OR_SHOCK = 14,
    NTFY_ID_EXT_STOP_TRIG_INTERNAL_ERROR = 15,
    NTFY_ID_EXT_STOP_TRIG_LOSS_OF_CONTROLL = 16,
    NTFY_ID_EXT_STOP_TRIG_LOSS_OF_COM = 17,
    NTFY_ID_POWER_OF_IN_ARMED = 18,
    NTFY_ID_RU_POWER_DOWN = 19
};

// The kind of a notification message, first payload byte on service 3.
enum MESSAGE_ID_T : quint8 {
    MESSAGE_ID_MESSAGE = 0,
    MESSAGE_ID_RESET = 1,
    MESSAGE_ID_ACK = 2,
    MESSAGE_ID_AUDIBLE = 3
};

// One decoded notification.
struct NOTIFICATION_MSG_T
{
    MESSAGE_ID_T messageId = MESSAGE_ID_MESSAGE;
    int reference = 0; // the internal processor's instance number, 0..65535
    NOTIFICATION_ID_T notificationId = NTFY_ID_GENERIC;
    quint8 target = 0; // 2: a popup that must be acknowledged
    NorvikLinkDefines::NotificationSeverity severity = NorvikLinkDefines::INFO;
    quint8 acknowledge = 0; // carried, not interpreted
    QString message;
};

Q_DECLARE_METATYPE(NOTIFICATION_ID_T)
Q_DECLARE_METATYPE(NOTIFICATION_MSG_T)

#endif
