// The station's run: one tarnwickcmd per board, at most --jobs at once, each
// within its board time-out, failed boards tried again (--retries), ports
// served again (--repeat); a live view, the dashboard and the history while
// they run, a summary at the end.
#pragma once

#include <string>
#include <vector>

#include "platform/serial_port_list.h"
#include "station/station_options.h"
#include "station/station_report.h"

namespace Station {

// The ports of --port, --ports-file, --ports-glob and --ports-usb (chosen
// from known), in that order, each once. err: why there are none, or which
// --ports-usb found no adapter.
std::vector<std::string> CollectPorts(const StationOptions& options,
                                      const std::vector<SerialPortListSp::SerialPortEntry>& known, std::string& err);
// One line for each port given as a serial server whose name is malformed,
// in the tool's words; empty when every name will do.
std::string MalformedPortNames(const std::vector<std::string>& ports);
// A file name for a port ("/dev/ttyUSB0" -> "dev_ttyUSB0").
std::string PortFileName(const std::string& port);
// Operation, chip, package and its digest as the tool options give them.
RunFacts GatherRunFacts(const StationOptions& options);

int RunStation(const StationOptions& options);

}  // namespace Station
