#pragma once

namespace meterlink {

// The speed the far end last set on the pseudo-terminal (a pty's master sees the termios
// of its slave side), in baud; 0 when it cannot be read.
int ptyLineSpeed(int masterFd);

} // namespace meterlink
