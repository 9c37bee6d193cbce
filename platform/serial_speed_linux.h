// Line speed through the Linux termios2 interface, which takes any rate the
// driver accepts (921600, 3000000, ...) rather than only the B* constants.
// Kept apart because <asm/termbits.h> cannot share a unit with <termios.h>.
#ifndef TARNWICK_PLATFORM_SERIAL_SPEED_LINUX_H
#define TARNWICK_PLATFORM_SERIAL_SPEED_LINUX_H

#include <cstdint>

namespace Platform {
namespace LinuxSerialSpeed {

// Sets input and output speed once queued output has left; 0 or errno.
int Set(int fd, uint32_t baudRate);
// The output speed the driver holds; 0 or errno.
int Get(int fd, uint32_t& baudRate);

}  // namespace LinuxSerialSpeed
}  // namespace Platform

#endif
