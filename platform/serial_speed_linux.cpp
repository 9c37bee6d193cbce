#ifdef __linux__

#include "platform/serial_speed_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace Platform {
namespace LinuxSerialSpeed {

int Set(int fd, uint32_t baudRate)
{
    if (baudRate == 0) {
        return EINVAL;  // speed 0 would hang up the line
    }
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    // BOTHER in both the output and the input field: the rate is taken
    // literally from c_ospeed / c_ispeed.
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= static_cast<tcflag_t>(BOTHER | (BOTHER << IBSHIFT));
    tio.c_ospeed = baudRate;
    tio.c_ispeed = baudRate;
    if (ioctl(fd, TCSETSW2, &tio) != 0) {
        return errno;
    }
    return 0;
}

int Get(int fd, uint32_t& baudRate)
{
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return errno;
    }
    baudRate = tio.c_ospeed;
    return 0;
}

}  // namespace LinuxSerialSpeed
}  // namespace Platform

#endif
