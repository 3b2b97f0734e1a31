// Modem lines for the simulator's pseudo-terminal, as a Windows program
// under Wine sees it. A pseudo-terminal has no RTS, DTR, CTS or DSR: Wine's
// EscapeCommFunction and GetCommModemStatus fail on it (ENOTTY), and a
// program that raises RTS and DTR when it opens a port, as a reader needs,
// takes the port for unusable. Preloaded into Wine (LD_PRELOAD), this makes
// the line calls on a terminal without modem lines succeed, with CTS, DSR
// and CD present, and passes every other call through unchanged. Built for
// 64-bit Wine here, and for 32-bit Wine by tests/vm/win32-rig.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace {

using Ioctl = int (*)(int, unsigned long, ...);

int WithLines(Ioctl real, int fd, unsigned long request, void* argument) {
    const int result = real(fd, request, argument);
    if (result == 0 || (errno != ENOTTY && errno != EINVAL) || !isatty(fd))
        return result;
    switch (request) {
        case TIOCMBIS:
        case TIOCMBIC:
        case TIOCMSET:
            errno = 0;
            return 0;
        case TIOCMGET:
            *static_cast<int*>(argument) = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
            errno = 0;
            return 0;
        default:
            return result;
    }
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    static const Ioctl real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    return WithLines(real, fd, request, argument);
}

// A 32-bit program built with a 64-bit time_t calls this one instead (Debian's
// i386 Wine does); a 64-bit C library has none, and no one calls it there.
extern "C" int __ioctl_time64(int fd, unsigned long request, ...) {
    static const Ioctl real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "__ioctl_time64"));
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    return WithLines(real, fd, request, argument);
}
