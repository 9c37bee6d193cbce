// The station's command line: the operation, the tool options passed through
// to every board, where the ports come from, how long a board may take and
// how often it is tried, and how the run is reported (summary, dashboard,
// history). Also the command line of "tarnwick-station history".
#pragma once

#include <string>
#include <vector>

namespace Station {

constexpr const char* STATION_VERSION = "1.0.0";
// A wrong command line, or something the run needs that is unusable before
// any board starts.
constexpr int USAGE_ERROR = 2;

// Well above the longest burn the board's windows allow: every wait of the
// tool is bounded (a Qn4180 command 180 s, a closing acknowledgement 60 s, a
// TypeSix erase 300 s), and the transfer itself is bounded by the line: a
// 64 MiB package takes 97 minutes at the boot rate.
constexpr double DEFAULT_BOARD_TIMEOUT_S = 7200.0;
constexpr double DEFAULT_RETRY_DELAY_S = 2.0;
// After SIGTERM at the board time-out, the tool has this long before SIGKILL.
constexpr double KILL_GRACE_S = 5.0;

struct StationOptions {
    std::string operation;               // "--burn", "--erase" or "--read"
    std::vector<std::string> toolArgs;   // passed to tarnwickcmd unchanged
    std::vector<std::string> ports;      // from --port, in order
    std::string portsFile;
    std::string portsGlob;
    std::vector<std::string> portsUsb;   // VID:PID[:SERIAL] of --ports-usb
    int jobs = 0;  // boards at once; 0: all
    std::string summaryPath;
    std::string runDir;
    bool repeat = false;
    double boardTimeout = DEFAULT_BOARD_TIMEOUT_S;
    int retries = 0;
    double retryDelay = DEFAULT_RETRY_DELAY_S;
    std::string http;     // [ADDR:]PORT of the dashboard, empty: none
    std::string history;  // SQLite file or postgresql:// URI, empty: none
    std::vector<std::string> commandLine;  // as given, for the history
};

// Fills options; -1 to go on, otherwise the exit code (0 after --help or
// --version, USAGE_ERROR after one line naming the problem on err).
int ParseStationOptions(int argc, char** argv, StationOptions& options, std::string& out, std::string& err);

// The ports of a station file: one a line, blank lines and "#" comments skipped.
std::vector<std::string> ReadPortsFile(const std::string& text);

// "8080", "0.0.0.0:8080", "[::1]:8080": the address (127.0.0.1 unless one is
// given) and the port (0: any free one). False for anything else.
bool ParseListenAddress(const std::string& text, std::string& host, int& port);

struct HistoryOptions {
    std::string target;  // SQLite file or postgresql:// URI
    std::string port;
    std::string since;   // normalised: YYYY-MM-DDTHH:MM:SSZ
    bool failedOnly = false;
    bool csv = false;
};
// "tarnwick-station history ..." (argv[1] is "history"); as ParseStationOptions.
int ParseHistoryOptions(int argc, char** argv, HistoryOptions& options, std::string& out, std::string& err);
// A UTC date "YYYY-MM-DD" or time "YYYY-MM-DD[T ]HH:MM[:SS][Z]" as
// "YYYY-MM-DDTHH:MM:SSZ"; empty when it is neither.
std::string NormaliseSince(const std::string& text);

}  // namespace Station
