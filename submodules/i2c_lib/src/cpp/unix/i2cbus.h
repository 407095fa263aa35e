#ifndef NORVIK_I2CBUS_H
#define NORVIK_I2CBUS_H

#include <cstddef>
#include <sys/types.h>

// The I2C library reaches a bus device through these five calls and nothing
// else. The product runs on the kernel's; tests and the desk runner install a
// simulated bus in their place. The calls keep the kernel's contract: -1 with
// errno set on failure, byte counts from read and write.
struct I2cBusCalls
{
    int (*sysOpen)(const char* path, int flags);
    int (*sysIoctl)(int fd, unsigned long request, unsigned long argument);
    ssize_t (*sysWrite)(int fd, const void* buffer, size_t count);
    ssize_t (*sysRead)(int fd, void* buffer, size_t count);
    int (*sysClose)(int fd);
};

// The calls in force: the kernel's unless a table is installed.
const I2cBusCalls& i2cBusCalls();

// The kernel's calls.
const I2cBusCalls& kernelI2cBusCalls();

// Puts a table in force for every i2cLinux created afterwards; null brings the
// kernel back. An i2cLinux copies the table in force when it is created and
// keeps it until it is gone, so a descriptor always returns to the calls that
// opened it. The table itself must stay valid while it is installed.
void setI2cBusCalls(const I2cBusCalls* calls);

#endif
