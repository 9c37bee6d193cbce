// Kept apart: <asm/termbits.h> cannot share a unit with <termios.h>.
#include "sim/pty_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace Sim {

uint32_t ReadPtyRate(int masterFd)
{
    struct termios2 settings {};
    if (masterFd < 0 || ioctl(masterFd, TCGETS2, &settings) != 0) {
        return 0;
    }
    return settings.c_ospeed;
}

}  // namespace Sim
