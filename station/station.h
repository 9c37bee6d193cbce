// The station's run: one tarnwickcmd per board, at most --jobs at once, a
// live view while they run, a summary at the end.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "station/board_run.h"
#include "station/station_options.h"

namespace Station {

// Exit codes stop meaning "boards failed" above this.
constexpr int MAX_FAILED_EXIT = 125;

// The ports of --port, --ports-file and --ports-glob, in that order, each once.
std::vector<std::string> CollectPorts(const StationOptions& options, std::string& err);
// A file name for a port ("/dev/ttyUSB0" -> "dev_ttyUSB0").
std::string PortFileName(const std::string& port);
// 0 when every board succeeded, otherwise the failed ones, capped.
int StationExitCode(const std::vector<BoardRun>& boards);
nlohmann::json SummaryJson(const std::vector<BoardRun>& boards, double seconds);
std::string SummaryTable(const std::vector<BoardRun>& boards);

int RunStation(const StationOptions& options);

}  // namespace Station
