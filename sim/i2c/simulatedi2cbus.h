#ifndef NORVIK_SIM_SIMULATEDI2CBUS_H
#define NORVIK_SIM_SIMULATEDI2CBUS_H

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QStringList>

#include <mutex>

// The remote's I2C bus on a desk: the bus calls of the I2C library (i2cbus.h)
// served in memory, with the three devices of the remote:
//   0x0B  smart-battery gauge: 2-byte little-endian signed words at 0x18
//         (design capacity), 0x0B (average current, negative while draining)
//         and 0x0D (relative state of charge, percent)
//   0x2D  backlight controller: 16-bit brightness at register 0 and 12-bit
//         PWM duty at register 2, high byte first
//   0x44  light sensor: result register 0 (exponent in the top 4 bits,
//         mantissa in the low 12), configuration register 1, high byte first
// A write sets the device's register pointer to its first byte and stores the
// rest in that register; a read returns the register the pointer selects,
// padded with 0xFF. Faults can be injected per device and for the whole bus.
//
// install() puts the bus in force for the whole process: every i2cLinux (and
// so every i2cHandler) created afterwards opens it, whatever the device path.
// Uninstall only once those objects are gone; calls from one that is left
// fail as on a removed adapter. All methods are thread-safe: the bus thread
// calls in while a test or the desk runner changes the devices.
class SimulatedI2cBus
{
public:
    enum Fault {
        NoFault,
        NoAcknowledge, // the device ignores its address: writes and reads fail
        ShortRead, // reads return one byte less than asked for
        TimeOut // the device holds the clock low: each transfer fails after TIME_OUT_US
    };

    static constexpr quint8 GAUGE = 0x0B;
    static constexpr quint8 BACKLIGHT = 0x2D;
    static constexpr quint8 LIGHT_SENSOR = 0x44;
    static constexpr int TIME_OUT_US = 30000;

    SimulatedI2cBus();
    ~SimulatedI2cBus();
    SimulatedI2cBus(const SimulatedI2cBus&) = delete;
    SimulatedI2cBus& operator=(const SimulatedI2cBus&) = delete;

    void install();
    void uninstall();

    // Smart-battery gauge.
    void setDesignCapacity(qint16 capacity);
    void setAverageCurrent(qint16 current);
    void setRelativeStateOfCharge(qint16 percent);

    // Backlight controller: the values last written.
    quint16 brightness() const;
    quint16 pwm() const;

    // Light sensor.
    void setLightResult(quint8 exponent, quint16 mantissa);
    quint16 lightConfiguration() const;

    void setFault(quint8 address, Fault fault);
    // A bus that is gone: it cannot be opened and open descriptors fail.
    void setPresent(bool present);
    // Each write and read takes this long (outside the bus lock).
    void setTransferDelay(int microseconds);

    // Every write and read on the wire, oldest first: "w 2d 00 85 db" (address,
    // then the bytes) or "r 0b 2" (address, count asked for); one that failed
    // ends in " nak", " timeout", " short" or " gone".
    QStringList trace() const;
    void clearTrace();
    QStringList openedPaths() const;
    int openDescriptors() const;

private:
    struct Device
    {
        QMap<quint8, QByteArray> registers; // wire order
        quint8 pointer = 0;
        Fault fault = NoFault;
    };

    friend struct SimulatedI2cCalls;
    int open(const char* path);
    int select(int fd, unsigned long request, unsigned long address);
    long transfer(int fd, char* buffer, size_t count, bool isRead);
    int close(int fd);
    int delay(int fd) const;
    void setWord(quint8 address, quint8 reg, quint16 value, bool bigEndian);
    quint16 bigEndianWord(quint8 address, quint8 reg) const;

    mutable std::mutex m_mutex;
    QMap<quint8, Device> m_devices;
    QHash<int, int> m_descriptors; // descriptor -> selected address, -1 none
    int m_nextDescriptor = 1000;
    bool m_present = true;
    int m_delayUs = 0;
    QStringList m_trace;
    QStringList m_openedPaths;
};

#endif
