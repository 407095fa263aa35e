#ifndef BACKLIGHTHANDLER_H
#define BACKLIGHTHANDLER_H

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QVariant>

class QTimer;
class Tag;
class TagDatabase;
class i2cHandler;

// The light sensor's configuration register. Bit 15 is the most significant
// bit of the register (bit 7 of the first byte on the wire); the fields are
// declared from bit 0 upwards.
union LIGHT_SENSOR_CONFIG_T {
    quint16 rawData;
    struct
    {
        quint16 faultCount : 2;
        quint16 maskExponent : 1;
        quint16 polarity : 1;
        quint16 latch : 1;
        quint16 flagLow : 1;
        quint16 flagHigh : 1;
        quint16 conversionReady : 1;
        quint16 overflowFlag : 1;
        quint16 modeOfConversionOperation : 2;
        quint16 convertionTime : 1;
        quint16 rangeNumber : 4;
    } bits;
};

// The display backlight controller (0x2D) and the ambient light sensor (0x44)
// on the shared I2C bus; all registers are 16 bits, high byte first.
//
// One intensity from 0 to 1 drives both backlight registers: brightness
// 3000 + i * 62535 and PWM duty i * i * 40950, limited to 4095. Intensities
// outside 0..1 are clamped to 0..1 first; one that is not a number (NaN, text,
// nothing) is logged as a warning and ignored: no device write, the tag
// "backlightIntensity" keeps its value. At construction the sensor is set to
// continuous conversion with automatic range (0xC610) and the backlight to 0.5.
//
// The sensor's result is read every 200 ms (a child timer named
// "lightSensorRead", on the owner's thread). Its top 4 bits are an exponent
// E, the low 12 a mantissa R, and the published light level in lux is
// R * (2^E / 10) * 0.1, that is 0.01 * 2^E * R (the sensor's full scale
// grows by a factor of two per exponent step from 40.95 lux at E = 0).
class BacklightHandler : public QObject
{
    Q_OBJECT

public:
    enum BACKLIGHT_I2C_REG : quint8 { BACKLIGHT_VALUE = 0, BACKLIGHT_PWM = 2 };
    enum LIGHT_SENSOR_I2C_REG : quint8 {
        LIGHT_SENSOR_RESULT = 0,
        LIGHT_SENSOR_CONFIGURATION = 1,
        LIGHT_SENSOR_LOW_LIMIT = 2,
        LIGHT_SENSOR_HIGH_LIMIT = 3,
        LIGHT_SENSOR_MAN_ID = 0x7E,
        LIGHT_SENSOR_DEVICE_ID = 0x7F
    };

    // The tag database must not be null.
    BacklightHandler(QObject* parent, TagDatabase* tagDatabase, i2cHandler* handler);

signals:
    void writeToI2C(quint8 address, quint8 reg, QByteArray data);

public slots:
    void setBacklightIntesity(QVariant intensity);
    void recieveLightSensorResult(quint8 address, quint8 reg, QByteArray data);
    void readLightSensor();

private:
    static QByteArray highByteFirst(quint16 value);

    const quint8 backlightI2CAddress = 0x2D;
    const quint8 lighSensorI2CAddress = 0x44;
    const int readIntervalMs = 200;
    QPointer<TagDatabase> tagDatabasePtr;
    QPointer<Tag> m_backlightIntensity;
    QPointer<i2cHandler> myI2CHandler;
    QTimer* periodicLightSensorReadTimer;
};

#endif
