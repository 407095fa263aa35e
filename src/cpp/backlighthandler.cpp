#include "backlighthandler.h"

#include "error.h"
#include "i2chandler.h"
#include "tag.h"
#include "tagdatabase.h"

#include <QDebug>
#include <QTimer>

#include <cmath>

BacklightHandler::BacklightHandler(QObject* parent, TagDatabase* tagDatabase, i2cHandler* handler)
    : QObject(parent)
    , tagDatabasePtr(tagDatabase)
    , myI2CHandler(handler)
{
    NORVIK_ASSERT(tagDatabase);

    m_backlightIntensity = tagDatabase->get(QStringLiteral("backlightIntensity"));
    if (!m_backlightIntensity) {
        m_backlightIntensity = new Tag(QStringLiteral("backlightIntensity"), tagDatabase);
        m_backlightIntensity->setLabel(QStringLiteral("Backlight Intensity"));
        tagDatabase->append(m_backlightIntensity);
    }

    if (handler) {
        connect(this, &BacklightHandler::writeToI2C, handler, &i2cHandler::I2CWriteSlot);
        connect(handler, &i2cHandler::readyReadFromI2C, this,
                &BacklightHandler::recieveLightSensorResult);
    }

    LIGHT_SENSOR_CONFIG_T config;
    config.rawData = 0;
    config.bits.rangeNumber = 12; // full scale chosen by the sensor
    config.bits.convertionTime = 0; // 100 ms
    config.bits.modeOfConversionOperation = 3; // continuous
    config.bits.latch = 1;
    emit writeToI2C(lighSensorI2CAddress, LIGHT_SENSOR_CONFIGURATION,
                    highByteFirst(config.rawData));

    periodicLightSensorReadTimer = new QTimer(this);
    periodicLightSensorReadTimer->setObjectName(QStringLiteral("lightSensorRead"));
    periodicLightSensorReadTimer->setInterval(readIntervalMs);
    connect(periodicLightSensorReadTimer, &QTimer::timeout, this,
            &BacklightHandler::readLightSensor);
    periodicLightSensorReadTimer->start();

    setBacklightIntesity(0.5);
}

QByteArray BacklightHandler::highByteFirst(quint16 value)
{
    const char bytes[2] = { char(value >> 8), char(value & 0xFF) };
    return QByteArray(bytes, 2);
}

void BacklightHandler::setBacklightIntesity(QVariant intensity)
{
    bool numeric = false;
    double i = intensity.toDouble(&numeric);
    if (!numeric || std::isnan(i)) {
        qWarning().noquote() << "BacklightHandler: intensity" << intensity.toString()
                             << "is not a number, ignored";
        return;
    }
    i = qBound(0.0, i, 1.0);

    const quint16 brightness = quint16(quint32(3000 + i * 62535) & 0xFFFF);
    emit writeToI2C(backlightI2CAddress, BACKLIGHT_VALUE, highByteFirst(brightness));

    // The duty saturates from an intensity of about 0.316 upwards.
    const quint16 pwm = qMin<quint16>(quint16(quint32(i * i * 10 * 4095) & 0xFFFF), 4095);
    emit writeToI2C(backlightI2CAddress, BACKLIGHT_PWM, highByteFirst(pwm));

    if (m_backlightIntensity)
        m_backlightIntensity->setValue(QVariant(i));
}

void BacklightHandler::readLightSensor()
{
    if (myI2CHandler)
        myI2CHandler->i2cRead(lighSensorI2CAddress, LIGHT_SENSOR_RESULT, 2);
}

void BacklightHandler::recieveLightSensorResult(quint8 address, quint8 reg, QByteArray data)
{
    if (address != lighSensorI2CAddress || !tagDatabasePtr)
        return;
    Tag* level = tagDatabasePtr->get(QStringLiteral("light_sensor_value"));
    if (!level || reg != LIGHT_SENSOR_RESULT || data.size() < 2)
        return;
    const int exponent = quint8(data[0]) >> 4;
    const int mantissa = (quint8(data[0]) << 8 | quint8(data[1])) & 0x0FFF;
    level->setValue(QVariant(float(mantissa * ((1 << exponent) / 10.0) * 0.1)));
}
