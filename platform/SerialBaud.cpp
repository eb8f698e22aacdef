// Arbitrary baud rates via struct termios2 (see SerialBaud_p.h). Must not
// include <termios.h>.
#include "platform/SerialBaud_p.h"

#include <cerrno>

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace platform::detail {

int SetCustomBaud(int fd, unsigned baud) {
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

}  // namespace platform::detail
