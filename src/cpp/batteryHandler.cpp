#include "batteryHandler.h"

#include "i2chandler.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QTimer>

battery::battery(QObject* parent, TagDatabase* tagDatabase, i2cHandler* handler)
    : QObject(parent)
    , i2cHandlerPtr(handler)
    , tagDatabasePtr(tagDatabase)
{
    chargeStateTag = lookUp(QStringLiteral("ru_charge_state"));
    if (!chargeStateTag)
        qWarning("batteryHandler: 'ru_charge_state' tag don't exists. Please check the config "
                 "file.");
    ruBatteryTag = lookUp(QStringLiteral("ru_battery"));
    if (!ruBatteryTag)
        qWarning("batteryHandler: 'ru_battery' tag don't exists. Please check the config file.");

    periodicBatteryReadTimer = new QTimer(this);
    periodicBatteryReadTimer->setObjectName(QStringLiteral("batteryRead"));
    periodicBatteryReadTimer->setInterval(batteryReadInterval);
    connect(periodicBatteryReadTimer, &QTimer::timeout, this, &battery::doBatteryReading);
    periodicBatteryReadTimer->start();

    batteryReadWatchDog = new QTimer(this);
    batteryReadWatchDog->setObjectName(QStringLiteral("batteryWatchDog"));
    batteryReadWatchDog->setInterval(batteryWatchDogTimeoutDuration);
    connect(batteryReadWatchDog, &QTimer::timeout, this, &battery::batteryWatchDogTimeout);

    if (handler)
        connect(handler, &i2cHandler::readyReadFromI2C, this, &battery::recieveBatteryData);

    batteryDesignCapacityTag = new Tag(batteryDesignCapacityName, this);
    batteryDesignCapacityTag->setLabel(QStringLiteral("Battery capasity"));
    if (tagDatabase)
        tagDatabase->append(batteryDesignCapacityTag);

    doBatteryReading();
}

battery::~battery()
{
    // The database lists "bat_cap": it must not be left pointing at a freed tag.
    if (tagDatabasePtr && batteryDesignCapacityTag
        && tagDatabasePtr->get(batteryDesignCapacityName) == batteryDesignCapacityTag)
        batteryDesignCapacityTag->setParent(tagDatabasePtr);
}

Tag* battery::lookUp(const QString& name) const
{
    return tagDatabasePtr ? tagDatabasePtr->get(name) : nullptr;
}

void battery::doBatteryReading()
{
    if (!i2cHandlerPtr)
        return;
    // Answers come back in request order, so a capacity read now is stored
    // before this cycle's current is turned into a percentage.
    if (!batteryDesignCapacityTag || batteryDesignCapacityTag->getValue().toDouble() == 0)
        i2cHandlerPtr->i2cRead(batteryI2CAddress, DESIGN_CAPACITY, 2);
    i2cHandlerPtr->i2cRead(batteryI2CAddress, AVG_CURRENT, 2);
    i2cHandlerPtr->i2cRead(batteryI2CAddress, RELATIVE_STATE_OF_CHARGE, 2);
    if (!batteryReadWatchDog->isActive())
        batteryReadWatchDog->start();
}

void battery::recieveBatteryData(quint8 address, quint8 reg, QByteArray data)
{
    if (address != batteryI2CAddress)
        return;
    batteryReadWatchDog->stop();
    if (gaugeSilent) {
        gaugeSilent = false;
        qInfo("batteryHandler: the battery gauge answers again");
    }
    if (data.size() < 2)
        return;
    const int value = qint16(quint8(data[0]) | quint8(data[1]) << 8);

    switch (reg) {
    case RELATIVE_STATE_OF_CHARGE:
        if (ruBatteryTag)
            ruBatteryTag->setValue(QVariant(value));
        break;
    case DESIGN_CAPACITY:
        if (batteryDesignCapacityTag)
            batteryDesignCapacityTag->setValue(QVariant(value));
        break;
    case AVG_CURRENT: {
        const double capacity
            = batteryDesignCapacityTag ? batteryDesignCapacityTag->getValue().toDouble() : 0;
        if (capacity > 0 && chargeStateTag)
            chargeStateTag->setValue(QVariant(int(value / capacity * 100.0)));
        break;
    }
    default:
        break;
    }
}

void battery::batteryWatchDogTimeout()
{
    if (!gaugeSilent) {
        gaugeSilent = true;
        qWarning("batteryHandler: no answer from the battery gauge, battery values cleared");
    }
    for (Tag* tag : { batteryDesignCapacityTag.data(), ruBatteryTag.data(), chargeStateTag.data() })
        if (tag)
            tag->setValue(QVariant(0));
}
