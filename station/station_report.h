// What the station tells about its run: a port's line in the live view, the
// state the dashboard shows, the summary table and JSON, and the exit code.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "station/board_run.h"

namespace Station {

// Exit codes stop meaning "boards failed" above this.
constexpr int MAX_FAILED_EXIT = 125;

// The run as a whole: what every board of it is given.
struct RunFacts {
    std::string operation;  // "--burn", "--erase" or "--read"
    std::string chipName;   // from -n, empty when burn.config gives it
    std::string packagePath;
    std::string packageSha256;  // empty when the package could not be read
    std::vector<std::string> options;  // the station's command line
    std::string startedUtc;
    std::string host;
    std::string version;
    int maxAttempts = 1;  // 1 + --retries
    bool repeat = false;
};

// Port, stage, percent, bytes per second, elapsed time, attempt and, with
// --repeat, the port's counts.
std::string LiveLine(const ServedPort& port, const RunFacts& facts, double now);
// One tile of the dashboard.
nlohmann::json PortStateJson(const ServedPort& port, const RunFacts& facts, double now);
// GET /api/state: the run, every port's tile and the totals.
nlohmann::json StationStateJson(const std::vector<ServedPort>& ports, const RunFacts& facts, double now,
                                bool finished);

// 0 when every board succeeded, otherwise the failed ones, capped.
int StationExitCode(const std::vector<ServedPort>& ports);
nlohmann::json SummaryJson(const std::vector<ServedPort>& ports, const RunFacts& facts, double seconds);
std::string SummaryTable(const std::vector<ServedPort>& ports, const RunFacts& facts);

}  // namespace Station
