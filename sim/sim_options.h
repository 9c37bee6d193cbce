// Command line of tarnwick-sim.
#pragma once

#include "sim/board.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

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

// arguments excludes the program name. Returns the exit code when the
// simulator is done before it starts (help, version, a wrong command line);
// nothing when options is filled in and the board should run.
std::optional<int> ParseSimOptions(const std::vector<std::string>& arguments, SimOptions& options, std::ostream& out,
                                   std::ostream& err);

}  // namespace Sim
