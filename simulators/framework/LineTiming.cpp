// Line timing from a terminal's settings (see LineTiming.h). termios2 is
// read rather than termios so that rates set through BOTHER come back as
// set; <asm/termbits.h> cannot share a translation unit with <termios.h>.
#include "LineTiming.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

std::chrono::nanoseconds LineSettings::WireTime(std::size_t bytes) const {
    if (baud == 0) return std::chrono::nanoseconds::zero();
    const auto bits = static_cast<unsigned long long>(bytes) * BitsPerByte();
    return std::chrono::nanoseconds((bits * 1'000'000'000ULL + baud / 2) / baud);
}

std::optional<LineSettings> ReadLineSettings(int fd) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0 || tio.c_ospeed == 0) return std::nullopt;
    LineSettings line;
    line.baud = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
    }
    line.parity = (tio.c_cflag & PARENB) != 0;
    line.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return line;
}

}  // namespace sim
