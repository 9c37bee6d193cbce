#include "station/station_options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <sstream>

#include "station/usb_ports.h"

namespace Station {

namespace {

constexpr const char* DESCRIPTION =
    "Burns, erases or reads many boards at once, one tarnwickcmd per board.\n"
    "Options the station does not know (-n, -f, -b, -onlyburn:, ...) go to every tarnwickcmd;\n"
    "put them after -- when one of them could be taken for a station option.\n"
    "tarnwick-station history PATH [--port P] [--since DATE] [--failed] [--csv] prints a --history.";

constexpr int MAX_JOBS = 4096;
constexpr int MAX_RETRIES = 100;
constexpr double MAX_RETRY_DELAY_S = 3600.0;
constexpr int MAX_TCP_PORT = 65535;
constexpr const char* DEFAULT_LISTEN_HOST = "127.0.0.1";
// The tool's long options; any other "--" word is a mistyped station option.
constexpr const char* TOOL_LONG_OPTIONS[] = {"--name",   "--file",   "--baudRate", "--stopBit", "--parity",
                                             "--config", "--load",   "--eraseSize"};

bool IsToolLongOption(const std::string& arg)
{
    for (const char* option : TOOL_LONG_OPTIONS) {
        if (arg == option) {
            return true;
        }
    }
    return false;
}

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string BoardTimeoutHelp()
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "give up on a board after S seconds: SIGTERM, %g s later SIGKILL, the board fails (default %g)",
                  KILL_GRACE_S, DEFAULT_BOARD_TIMEOUT_S);
    return text;
}

std::string CheckUsbSelector(const std::string& text)
{
    return ParseUsbSelector(text) ? "" : "not VID:PID[:SERIAL] with hex IDs: " + text;
}

std::string CheckListenAddress(const std::string& text)
{
    std::string host;
    int port = 0;
    return ParseListenAddress(text, host, port) ? "" : "not [ADDR:]PORT: " + text;
}

// Digits only, exactly `count` of them, from text[at].
bool Digits(const std::string& text, size_t at, size_t count)
{
    if (at + count > text.size()) {
        return false;
    }
    for (size_t i = at; i < at + count; ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    return true;
}

std::string ParseProblem(const CLI::ParseError& error)
{
    return std::string("tarnwick-station: ") + error.what() + "; see tarnwick-station --help\n";
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string& host, int& port)
{
    std::string portText = text;
    host = DEFAULT_LISTEN_HOST;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos || close == 1) {
            return false;
        }
        host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (host.empty() || host.find(':') != std::string::npos) {
            return false;
        }
    }
    if (portText.empty() || portText.size() > 5 || !Digits(portText, 0, portText.size())) {
        return false;
    }
    port = std::stoi(portText);
    return port <= MAX_TCP_PORT;
}

std::string NormaliseSince(const std::string& text)
{
    // YYYY-MM-DD, then optionally [T ]HH:MM, :SS, Z.
    const bool date = Digits(text, 0, 4) && text.size() >= 10 && text[4] == '-' && Digits(text, 5, 2) &&
                      text[7] == '-' && Digits(text, 8, 2);
    if (!date) {
        return "";
    }
    std::string time = "00:00:00";
    std::string rest = text.substr(10);
    if (!rest.empty()) {
        if ((rest[0] != 'T' && rest[0] != ' ') || !Digits(rest, 1, 2) || rest.size() < 6 || rest[3] != ':' ||
            !Digits(rest, 4, 2)) {
            return "";
        }
        time = rest.substr(1, 5) + ":00";
        rest = rest.substr(6);
        if (!rest.empty() && rest[0] == ':') {
            if (!Digits(rest, 1, 2)) {
                return "";
            }
            time = time.substr(0, 6) + rest.substr(1, 2);
            rest = rest.substr(3);
        }
        if (rest == "Z") {
            rest.clear();
        }
    }
    if (!rest.empty()) {
        return "";
    }
    const int month = std::stoi(text.substr(5, 2));
    const int day = std::stoi(text.substr(8, 2));
    const int hour = std::stoi(time.substr(0, 2));
    const int minute = std::stoi(time.substr(3, 2));
    const int second = std::stoi(time.substr(6, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return "";
    }
    return text.substr(0, 10) + "T" + time + "Z";
}

int ParseHistoryOptions(int argc, char** argv, HistoryOptions& options, std::string& out, std::string& err)
{
    CLI::App app{"Prints the boards of a station history (--history), oldest first.", "tarnwick-station history"};
    app.add_option("target", options.target, "the history: an SQLite file or a postgresql:// URI")->required();
    app.add_option("--port", options.port, "only the boards of this port");
    std::string since;
    app.add_option("--since", since, "only boards started at or after this UTC date or time (YYYY-MM-DD[THH:MM[:SS]])")
        ->check([](const std::string& text) { return NormaliseSince(text).empty() ? "not a date: " + text : ""; });
    app.add_flag("--failed", options.failedOnly, "only attempts that did not succeed");
    app.add_flag("--csv", options.csv, "comma-separated values with a header line instead of a table");
    try {
        app.parse(argc - 1, argv + 1);
    } catch (const CLI::CallForHelp&) {
        out = app.help();
        return 0;
    } catch (const CLI::ParseError& error) {
        err = ParseProblem(error);
        return USAGE_ERROR;
    }
    options.since = since.empty() ? "" : NormaliseSince(since);
    return -1;
}

std::vector<std::string> ReadPortsFile(const std::string& text)
{
    std::vector<std::string> ports;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::string port = Trim(line.substr(0, line.find('#')));
        if (!port.empty()) {
            ports.push_back(port);
        }
    }
    return ports;
}

int ParseStationOptions(int argc, char** argv, StationOptions& options, std::string& out, std::string& err)
{
    CLI::App app{DESCRIPTION, "tarnwick-station"};
    app.allow_extras();
    app.set_version_flag("--version,-V", STATION_VERSION);
    bool burn = false;
    bool erase = false;
    bool read = false;
    auto* burnFlag = app.add_flag("--burn", burn, "burn every board");
    auto* eraseFlag = app.add_flag("--erase", erase, "erase every board")->excludes(burnFlag);
    app.add_flag("--read", read, "read back every board")->excludes(burnFlag)->excludes(eraseFlag);
    app.add_option("--port", options.ports, "a board's port: a device, rfc2217://host:port or socket://host:port");
    app.add_option("--ports-file", options.portsFile, "a station file: one port a line, # comments")
        ->check(CLI::ExistingFile);
    app.add_option("--ports-glob", options.portsGlob, "a pattern of port names, expanded at start ('/dev/ttyUSB*')");
    app.add_option("--jobs", options.jobs, "boards served at once (default: all)")->check(CLI::Range(1, MAX_JOBS));
    app.add_option("--summary", options.summaryPath, "JSON summary of the run");
    app.add_option("--run-dir", options.runDir, "directory for the board logs and reports (default: a new one)");
    app.add_option("--ports-usb", options.portsUsb,
                   "the local ports whose USB adapter is VID:PID[:SERIAL] (hex IDs, from sysfs)")
        ->check(CheckUsbSelector);
    app.add_flag("--repeat", options.repeat, "serve every port again after each board, until Ctrl-C");
    app.add_option("--board-timeout", options.boardTimeout, BoardTimeoutHelp())
        ->check(CLI::PositiveNumber);
    app.add_option("--retries", options.retries, "run a board that failed again, up to N more times (default 0)")
        ->check(CLI::Range(0, MAX_RETRIES));
    app.add_option("--retry-delay", options.retryDelay, "seconds before a board is tried again (default 2)")
        ->check(CLI::Range(0.0, MAX_RETRY_DELAY_S));
    app.add_option("--http", options.http, "serve the live dashboard on [ADDR:]PORT (address 127.0.0.1 unless given)")
        ->check(CheckListenAddress);
    app.add_option("--history", options.history, "record every board in an SQLite file or a postgresql:// database");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out = app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        out = std::string(STATION_VERSION) + "\n";
        return 0;
    } catch (const CLI::ParseError& error) {
        err = ParseProblem(error);
        return USAGE_ERROR;
    }
    options.commandLine.assign(argv + 1, argv + argc);
    options.operation = burn ? "--burn" : erase ? "--erase" : read ? "--read" : "";
    options.toolArgs = app.remaining();
    std::string problem;
    if (options.operation.empty()) {
        problem = "one of --burn, --erase or --read is needed";
    } else if (options.ports.empty() && options.portsFile.empty() && options.portsGlob.empty() &&
               options.portsUsb.empty()) {
        problem = "no ports: give --port, --ports-file, --ports-glob or --ports-usb";
    } else {
        for (const std::string& arg : options.toolArgs) {
            if (arg == "-m" || arg == "--mode") {
                problem = "-m is the station's to give; name the ports with --port";
            } else if (arg.rfind("--", 0) == 0 && arg != "--" && !IsToolLongOption(arg)) {
                problem = "unknown option " + arg;
            }
        }
    }
    if (!problem.empty()) {
        err = "tarnwick-station: " + problem + "; see tarnwick-station --help\n";
        return USAGE_ERROR;
    }
    return -1;
}

}  // namespace Station
