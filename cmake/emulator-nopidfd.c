/* Preloaded into every program that a cross build runs under qemu-arm.
 *
 * qemu-arm 7.2 passes waitid(P_PIDFD, ...) on to the kernel but refuses
 * clone(CLONE_PIDFD) with EINVAL. Qt takes a working probe of the first as
 * support for both, so every plain QProcess fails to start. Answering the probe
 * as a kernel without pidfds does makes Qt start its children with fork(), as
 * it does on such a kernel. Nothing else changes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/syscall.h>

#define NORVIK_P_PIDFD 3

/* Host programs that the guest starts (dbus-daemon, ip, openssl) would complain
 * about an ARM library to preload. */
__attribute__((constructor)) static void keepFromChildren(void)
{
    unsetenv("LD_PRELOAD");
}

long syscall(long number, ...)
{
    static long (*next)(long, ...);
    long a[6];
    va_list args;
    va_start(args, number);
    for (int i = 0; i < 6; ++i)
        a[i] = va_arg(args, long);
    va_end(args);
    if (number == SYS_waitid && a[0] == NORVIK_P_PIDFD) {
        errno = EINVAL;
        return -1;
    }
    if (!next)
        next = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    return next(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
