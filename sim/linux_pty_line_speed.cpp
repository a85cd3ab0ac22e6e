#include "sim/pty_line_speed.h"

// termios2 carries any speed as a number; <termios.h> must stay out of this file, its
// struct of the same name clashes with the kernel's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace meterlink {

int ptyLineSpeed(int masterFd) {
    struct termios2 settings {};
    if (::ioctl(masterFd, TCGETS2, &settings) != 0)
        return 0;
    return static_cast<int>(settings.c_ospeed);
}

} // namespace meterlink
