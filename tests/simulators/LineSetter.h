// Sets a terminal's line the way a driver does (any rate through BOTHER,
// data bits, parity, stop bits), for tests of line-rate pacing. Its own
// translation unit: <asm/termbits.h> clashes with <termios.h>.
#pragma once

#include "LineTiming.h"

namespace simtest {
// Parity 'N', 'O', 'E', 'M' or 'S'. Throws std::system_error on failure.
void SetLine(int fd, unsigned baud, unsigned dataBits, char parity, unsigned stopBits);
}  // namespace simtest
