// How the line-setting codes become termios control flags; apart from the
// port so the mapping can be checked on its own (a pty drops parity flags).
#ifndef TARNWICK_PLATFORM_SERIAL_TERMIOS_H
#define TARNWICK_PLATFORM_SERIAL_TERMIOS_H

#include <termios.h>

#include <cstdint>

namespace Platform {

// Sets the stop-bit and parity flags of cflag from the codes; 0, or EINVAL
// for a code the line cannot do (cflag then unspecified).
int ComposeControlFlags(uint32_t stopBits, uint32_t parity, tcflag_t& cflag);

}  // namespace Platform

#endif
