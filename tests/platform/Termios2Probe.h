// Reads the output speed of a terminal through termios2 (its own translation
// unit: <asm/termbits.h> clashes with <termios.h>).
#pragma once

namespace probe {
// Output speed in bits per second, or 0 when it cannot be read.
unsigned OutputBaud(int fd);
}  // namespace probe
