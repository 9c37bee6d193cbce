// "tarnwick-station history PATH": the boards of a history, oldest first, as
// a table or as CSV.
#pragma once

#include <string>
#include <vector>

#include "station/history.h"
#include "station/station_options.h"

namespace Station {

std::string HistoryTable(const std::vector<HistoryRow>& rows);
std::string HistoryCsv(const std::vector<HistoryRow>& rows);

// The exit code: 0, or USAGE_ERROR when the history cannot be read (the
// reason on err).
int RunHistoryCommand(const HistoryOptions& options, std::string& out, std::string& err);

}  // namespace Station
