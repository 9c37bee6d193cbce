// Command line of tarnwick-sim.
#pragma once

#include "sim/board.h"

#include <cstdint>
#include <string>

namespace Sim {

struct SimOptions {
    std::string family;  // "vb27", "qn4180" or "typesix"
    std::string link;
    std::string flashFile;
    std::string reportFile;
    uint64_t flashSize = 8ull * 1024 * 1024;
    bool flashSizeGiven = false;  // else an existing --flash file gives the size
    uint32_t lineBaud = 0;  // 0: no pacing
    FaultPlan faults;
};

// Numbers: decimal or 0x-hexadecimal, with an optional k, m or g multiplier.
bool ParseSimNumber(const std::string& text, uint64_t& value);
// False with a message in `error` for anything it cannot take.
bool ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);
std::string SimUsage();

}  // namespace Sim
