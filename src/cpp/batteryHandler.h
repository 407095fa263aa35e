#ifndef BATTERYHANDLER_H
#define BATTERYHANDLER_H

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QTimer;
class Tag;
class TagDatabase;
class i2cHandler;

// Polls the smart battery's gauge at 0x0B on the shared I2C bus and keeps the
// tags "ru_battery" (state of charge, percent), "ru_charge_state" (average
// current in percent of the design capacity, negative while discharging) and
// "bat_cap" (design capacity, a tag of its own) current.
//
// A polling cycle every 2500 ms reads the average current and the state of
// charge, and first the design capacity while it is not known (0). Each cycle
// arms a 7600 ms watchdog unless it runs already; any answer of the gauge
// stops it. When it fires, the three tags read 0 (so the capacity is read
// again) and it keeps firing while the gauge stays silent; the first time
// in a silence is logged.
//
// The timers are children named "batteryRead" and "batteryWatchDog"; they run
// on the owner's thread and go with the object. Tags held here are guarded:
// one disposed of by the tag database is simply no longer written. On
// destruction "bat_cap" is handed to the tag database, which lists it.
class battery : public QObject
{
    Q_OBJECT

public:
    // Smart Battery Data commands, each read as a 2-byte little-endian signed word.
    enum BATTERY_I2C_REG : quint8 {
        AVG_CURRENT = 0x0B,
        RELATIVE_STATE_OF_CHARGE = 0x0D,
        DESIGN_CAPACITY = 0x18
    };

    battery(QObject* parent, TagDatabase* tagDatabase, i2cHandler* handler);
    ~battery() override;

public slots:
    void recieveBatteryData(quint8 address, quint8 reg, QByteArray data);
    void doBatteryReading();
    void batteryWatchDogTimeout();

private:
    Tag* lookUp(const QString& name) const;

    const quint8 batteryI2CAddress = 0x0B;
    const int batteryReadInterval = 2500;
    const int batteryWatchDogTimeoutDuration = 7600;
    QPointer<i2cHandler> i2cHandlerPtr;
    QPointer<TagDatabase> tagDatabasePtr;
    QTimer* periodicBatteryReadTimer;
    QTimer* batteryReadWatchDog;
    QPointer<Tag> batteryDesignCapacityTag;
    QPointer<Tag> chargeStateTag;
    QPointer<Tag> ruBatteryTag;
    const QString batteryDesignCapacityName = QStringLiteral("bat_cap");
    // Set when the watchdog found the gauge silent, cleared by its next answer.
    bool gaugeSilent = false;
};

#endif
