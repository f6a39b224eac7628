#pragma once

#include <sys/ioctl.h>
#include <termios.h>

namespace serialkit {

// The kernel's termios with free-form bit rates; glibc has no declaration of it. The layout
// is the generic one of x86, ARM and ARM64.
struct Termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

inline constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, Termios2);
inline constexpr unsigned long kSetTermios2 = _IOW('T', 0x2B, Termios2);

}  // namespace serialkit
