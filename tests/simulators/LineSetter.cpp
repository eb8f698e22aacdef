// Line settings through termios2 (see LineSetter.h).
#include "LineSetter.h"

#include <cerrno>
#include <system_error>

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace simtest {

void SetLine(int fd, unsigned baud, unsigned dataBits, char parity, unsigned stopBits) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) throw std::system_error(errno, std::generic_category(), "TCGETS2");
    tio.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | (dataBits == 7 ? CS7 : CS8);
    if (parity != 'N') tio.c_cflag |= PARENB;
    if (parity == 'O' || parity == 'M') tio.c_cflag |= PARODD;
    if (parity == 'M' || parity == 'S') tio.c_cflag |= CMSPAR;
    if (stopBits == 2) tio.c_cflag |= CSTOPB;
    tio.c_ispeed = tio.c_ospeed = baud;
    if (::ioctl(fd, TCSETS2, &tio) != 0) throw std::system_error(errno, std::generic_category(), "TCSETS2");
}

}  // namespace simtest
