// Internal to libplatform: baud rates outside the B* constants through the
// Linux termios2/BOTHER interface. Kept in its own translation unit because
// <asm/termbits.h> clashes with <termios.h>.
#pragma once

namespace platform::detail {

// Sets input and output speed of the terminal to `baud` bits per second with
// TCGETS2/BOTHER/TCSETS2. Returns 0, or the errno of the failing ioctl.
int SetCustomBaud(int fd, unsigned baud);

}  // namespace platform::detail
