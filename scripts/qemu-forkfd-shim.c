/* Preloaded into the armhf test programs that run under qemu-arm.
 *
 * Qt starts child processes with clone(CLONE_PIDFD) when a probe,
 * waitid(P_PIDFD) on a bad descriptor, answers EBADF. qemu-user 7.2 passes
 * that probe on to the host kernel, which answers EBADF, but refuses
 * CLONE_PIDFD itself with EINVAL, so every QProcess start would fail.
 * Failing the probe sends Qt down its plain fork() path, the one it takes on
 * kernels older than 5.4. Nothing else is changed.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/syscall.h>

#define PROBE_ID_TYPE_PIDFD 3
#define SYSCALL_ARGUMENT_WORDS 7

/* Host programs started by the tests (dbus-daemon, the stub scripts) would
 * warn about a preloaded ARM library; ARM programs get it again from
 * qemu's QEMU_SET_ENV, which the launching script sets. */
__attribute__((constructor)) static void keepPreloadFromChildren(void)
{
    unsetenv("LD_PRELOAD");
}

long syscall(long number, ...)
{
    long words[SYSCALL_ARGUMENT_WORDS];
    va_list arguments;
    va_start(arguments, number);
    for (int i = 0; i < SYSCALL_ARGUMENT_WORDS; ++i)
        words[i] = va_arg(arguments, long);
    va_end(arguments);

    if (number == SYS_waitid && words[0] == PROBE_ID_TYPE_PIDFD) {
        errno = ENOSYS;
        return -1;
    }
    static long (*libcSyscall)(long, ...);
    if (!libcSyscall)
        libcSyscall = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    /* Word for word, so 64-bit arguments keep their register pairs. */
    return libcSyscall(number, words[0], words[1], words[2], words[3], words[4], words[5],
                       words[6]);
}
