#include "simulatedi2cbus.h"

#include "i2cbus.h"

#include <QThread>

#include <cerrno>
#include <cstring>

namespace {
constexpr unsigned long I2C_SLAVE = 0x0703;

// The bus in force; held while a call is served so that uninstalling waits for it.
std::mutex registry;
SimulatedI2cBus* current = nullptr;
} // namespace

// The table installed into the I2C library: each call goes to the bus in force.
struct SimulatedI2cCalls
{
    template<typename Result, typename Call> static Result serve(Call call)
    {
        std::lock_guard<std::mutex> lock(registry);
        if (!current) {
            errno = ENODEV;
            return -1;
        }
        return call(current);
    }
    static void pause(int fd)
    {
        int us = 0;
        {
            std::lock_guard<std::mutex> lock(registry);
            if (current)
                us = current->delay(fd);
        }
        if (us > 0)
            QThread::usleep(ulong(us));
    }
    static int open(const char* path, int)
    {
        return serve<int>([=](SimulatedI2cBus* bus) { return bus->open(path); });
    }
    static int ioctl(int fd, unsigned long request, unsigned long argument)
    {
        return serve<int>([=](SimulatedI2cBus* bus) { return bus->select(fd, request, argument); });
    }
    static ssize_t write(int fd, const void* buffer, size_t count)
    {
        pause(fd);
        return serve<ssize_t>([=](SimulatedI2cBus* bus) {
            return bus->transfer(fd, static_cast<char*>(const_cast<void*>(buffer)), count, false);
        });
    }
    static ssize_t read(int fd, void* buffer, size_t count)
    {
        pause(fd);
        return serve<ssize_t>([=](SimulatedI2cBus* bus) {
            return bus->transfer(fd, static_cast<char*>(buffer), count, true);
        });
    }
    static int close(int fd)
    {
        return serve<int>([=](SimulatedI2cBus* bus) { return bus->close(fd); });
    }
    static const I2cBusCalls table;
};

const I2cBusCalls SimulatedI2cCalls::table
    = { SimulatedI2cCalls::open, SimulatedI2cCalls::ioctl, SimulatedI2cCalls::write,
        SimulatedI2cCalls::read, SimulatedI2cCalls::close };

SimulatedI2cBus::SimulatedI2cBus()
{
    m_devices.insert(GAUGE, Device());
    m_devices.insert(BACKLIGHT, Device());
    m_devices.insert(LIGHT_SENSOR, Device());
    // A healthy, full battery at rest until a test says otherwise.
    setDesignCapacity(2000);
    setAverageCurrent(0);
    setRelativeStateOfCharge(100);
    setLightResult(0, 0);
}

SimulatedI2cBus::~SimulatedI2cBus()
{
    uninstall();
}

void SimulatedI2cBus::install()
{
    std::lock_guard<std::mutex> lock(registry);
    current = this;
    setI2cBusCalls(&SimulatedI2cCalls::table);
}

void SimulatedI2cBus::uninstall()
{
    std::lock_guard<std::mutex> lock(registry);
    if (current != this)
        return;
    current = nullptr;
    setI2cBusCalls(nullptr);
}

void SimulatedI2cBus::setWord(quint8 address, quint8 reg, quint16 value, bool bigEndian)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const char high = char(value >> 8), low = char(value & 0xFF);
    const char bytes[2] = { bigEndian ? high : low, bigEndian ? low : high };
    m_devices[address].registers[reg] = QByteArray(bytes, 2);
}

quint16 SimulatedI2cBus::bigEndianWord(quint8 address, quint8 reg) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const QByteArray bytes = m_devices.value(address).registers.value(reg);
    if (bytes.size() < 2)
        return 0;
    return quint16(quint8(bytes[0]) << 8 | quint8(bytes[1]));
}

void SimulatedI2cBus::setDesignCapacity(qint16 capacity)
{
    setWord(GAUGE, 0x18, quint16(capacity), false);
}

void SimulatedI2cBus::setAverageCurrent(qint16 current)
{
    setWord(GAUGE, 0x0B, quint16(current), false);
}

void SimulatedI2cBus::setRelativeStateOfCharge(qint16 percent)
{
    setWord(GAUGE, 0x0D, quint16(percent), false);
}

quint16 SimulatedI2cBus::brightness() const
{
    return bigEndianWord(BACKLIGHT, 0);
}

quint16 SimulatedI2cBus::pwm() const
{
    return bigEndianWord(BACKLIGHT, 2) & 0x0FFF;
}

void SimulatedI2cBus::setLightResult(quint8 exponent, quint16 mantissa)
{
    setWord(LIGHT_SENSOR, 0, quint16((exponent & 0x0F) << 12 | (mantissa & 0x0FFF)), true);
}

quint16 SimulatedI2cBus::lightConfiguration() const
{
    return bigEndianWord(LIGHT_SENSOR, 1);
}

void SimulatedI2cBus::setFault(quint8 address, Fault fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices[address].fault = fault;
}

void SimulatedI2cBus::setPresent(bool present)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_present = present;
}

void SimulatedI2cBus::setTransferDelay(int microseconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delayUs = microseconds;
}

int SimulatedI2cBus::delay(int fd) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto device = m_devices.find(quint8(m_descriptors.value(fd, -1)));
    const bool stuck = device != m_devices.end() && device->fault == TimeOut;
    return m_delayUs + (stuck ? TIME_OUT_US : 0);
}

QStringList SimulatedI2cBus::trace() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // A list of its own: the bus thread appends to the trace meanwhile.
    return QStringList(m_trace.begin(), m_trace.end());
}

void SimulatedI2cBus::clearTrace()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trace.clear();
}

QStringList SimulatedI2cBus::openedPaths() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QStringList(m_openedPaths.begin(), m_openedPaths.end());
}

int SimulatedI2cBus::openDescriptors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_descriptors.size();
}

int SimulatedI2cBus::open(const char* path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present) {
        errno = ENOENT;
        return -1;
    }
    m_openedPaths << QString::fromUtf8(path);
    m_descriptors.insert(m_nextDescriptor, -1);
    return m_nextDescriptor++;
}

int SimulatedI2cBus::select(int fd, unsigned long request, unsigned long address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_descriptors.contains(fd)) {
        errno = EBADF;
        return -1;
    }
    if (request != I2C_SLAVE) {
        errno = ENOTTY;
        return -1;
    }
    if (address > 0x7F) {
        errno = EINVAL;
        return -1;
    }
    m_descriptors[fd] = int(address);
    return 0;
}

long SimulatedI2cBus::transfer(int fd, char* buffer, size_t count, bool isRead)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_descriptors.contains(fd)) {
        errno = EBADF;
        return -1;
    }
    const int address = m_descriptors.value(fd);
    QString line = QString::asprintf("%c %02x", isRead ? 'r' : 'w', address & 0xFF);
    if (isRead)
        line += QString::asprintf(" %zu", count);
    else
        line += ' ' + QString::fromLatin1(QByteArray(buffer, int(count)).toHex(' '));
    auto fail = [&](const char* why, int error) {
        m_trace << line + ' ' + why;
        errno = error;
        return -1L;
    };
    if (!m_present)
        return fail("gone", ENODEV);
    auto device = m_devices.find(quint8(address));
    if (address < 0 || device == m_devices.end() || device->fault == NoAcknowledge)
        return fail("nak", ENXIO);
    if (device->fault == TimeOut)
        return fail("timeout", ETIMEDOUT);
    if (!isRead) {
        if (count > 0) {
            device->pointer = quint8(buffer[0]);
            if (count > 1)
                device->registers[device->pointer] = QByteArray(buffer + 1, int(count) - 1);
        }
        m_trace << line;
        return long(count);
    }
    size_t n = count;
    if (device->fault == ShortRead && n > 0) {
        --n;
        line += " short";
    }
    const QByteArray value = device->registers.value(device->pointer);
    memset(buffer, 0xFF, n);
    memcpy(buffer, value.constData(), qMin(n, size_t(value.size())));
    m_trace << line;
    return long(n);
}

int SimulatedI2cBus::close(int fd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_descriptors.remove(fd)) {
        errno = EBADF;
        return -1;
    }
    return 0;
}
