// The rate the tool's side of the pseudo-terminal is set to, read through
// the master: what a tool (or a serial server in front of the board) really
// applied to the line, as opposed to what it asked the board for.
#pragma once

#include <cstdint>

namespace Sim {

// 0 when the rate cannot be read.
uint32_t ReadPtyRate(int masterFd);

}  // namespace Sim
