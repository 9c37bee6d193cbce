// The station's command line: the operation, the tool options passed through
// to every board, where the ports come from and how the run is reported.
#pragma once

#include <string>
#include <vector>

namespace Station {

constexpr const char* STATION_VERSION = "1.0.0";
// A wrong command line.
constexpr int USAGE_ERROR = 2;

struct StationOptions {
    std::string operation;               // "--burn", "--erase" or "--read"
    std::vector<std::string> toolArgs;   // passed to tarnwickcmd unchanged
    std::vector<std::string> ports;      // from --port, in order
    std::string portsFile;
    std::string portsGlob;
    int jobs = 0;  // boards at once; 0: all
    std::string summaryPath;
    std::string runDir;
    bool repeat = false;
};

// Fills options; -1 to go on, otherwise the exit code (0 after --help or
// --version, USAGE_ERROR after one line naming the problem on err).
int ParseStationOptions(int argc, char** argv, StationOptions& options, std::string& out, std::string& err);

// The ports of a station file: one a line, blank lines and "#" comments skipped.
std::vector<std::string> ReadPortsFile(const std::string& text);

}  // namespace Station
