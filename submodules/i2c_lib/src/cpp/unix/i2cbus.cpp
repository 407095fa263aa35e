#include "i2cbus.h"

#include <atomic>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int kernelOpen(const char* path, int flags)
{
    return ::open(path, flags);
}

int kernelIoctl(int fd, unsigned long request, unsigned long argument)
{
    return ::ioctl(fd, request, argument);
}

ssize_t kernelWrite(int fd, const void* buffer, size_t count)
{
    return ::write(fd, buffer, count);
}

ssize_t kernelRead(int fd, void* buffer, size_t count)
{
    return ::read(fd, buffer, count);
}

int kernelClose(int fd)
{
    return ::close(fd);
}

const I2cBusCalls kernelCalls = { kernelOpen, kernelIoctl, kernelWrite, kernelRead, kernelClose };

std::atomic<const I2cBusCalls*> installed { nullptr };

} // namespace

const I2cBusCalls& kernelI2cBusCalls()
{
    return kernelCalls;
}

const I2cBusCalls& i2cBusCalls()
{
    const I2cBusCalls* calls = installed.load(std::memory_order_acquire);
    return calls ? *calls : kernelCalls;
}

void setI2cBusCalls(const I2cBusCalls* calls)
{
    installed.store(calls, std::memory_order_release);
}
