// Preloaded into a device server in the tests: notes the control flags of every termios change
// it asks of a device, since a pseudo-terminal keeps only some of them (Linux ptys always read
// back 8 bits, no parity). The log file is named by TOLVANE_TERMIOS_LOG; one line per change.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void note(unsigned int cflag) {
    const char* path = std::getenv("TOLVANE_TERMIOS_LOG");
    if (path == nullptr) {
        return;
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    char line[32];
    const int n = std::snprintf(line, sizeof line, "%o\n", cflag);
    [[maybe_unused]] ssize_t w = ::write(fd, line, static_cast<size_t>(n));
    ::close(fd);
}

// c_cflag is the third 32-bit field of the C library's termios and of the kernel's termios and
// termios2 alike.
unsigned int cflagOf(const void* t) {
    unsigned int flags[3];
    std::memcpy(flags, t, sizeof flags);
    return flags[2];
}

}  // namespace

extern "C" int tcsetattr(int fd, int when, const struct termios* t) {
    using Fn = int (*)(int, int, const struct termios*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "tcsetattr"));
    if (t != nullptr) {
        note(cflagOf(t));
    }
    return real(fd, when, t);
}

extern "C" int ioctl(int fd, unsigned long request, ...) {
    using Fn = int (*)(int, unsigned long, ...);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "ioctl"));
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    const unsigned long sets2 = 0x402c542bUL;  // TCSETS2
    if (arg != nullptr && (request == TCSETS || request == TCSETSW || request == TCSETSF ||
                           request == sets2)) {
        note(cflagOf(arg));
    }
    return real(fd, request, arg);
}
