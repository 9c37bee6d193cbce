#include "station/station_options.h"

#include <CLI/CLI.hpp>

#include <sstream>

namespace Station {

namespace {

constexpr const char* DESCRIPTION =
    "Burns, erases or reads many boards at once, one tarnwickcmd per board.\n"
    "Options the station does not know (-n, -f, -b, -onlyburn:, ...) go to every tarnwickcmd;\n"
    "put them after -- when one of them could be taken for a station option.";

constexpr int MAX_JOBS = 4096;
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

}  // namespace

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
    app.add_flag("--repeat", options.repeat, "serve every port again after each board, until Ctrl-C");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out = app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        out = std::string(STATION_VERSION) + "\n";
        return 0;
    } catch (const CLI::ParseError& error) {
        err = std::string("tarnwick-station: ") + error.what() + "; see tarnwick-station --help\n";
        return USAGE_ERROR;
    }
    options.operation = burn ? "--burn" : erase ? "--erase" : read ? "--read" : "";
    options.toolArgs = app.remaining();
    std::string problem;
    if (options.operation.empty()) {
        problem = "one of --burn, --erase or --read is needed";
    } else if (options.ports.empty() && options.portsFile.empty() && options.portsGlob.empty()) {
        problem = "no ports: give --port, --ports-file or --ports-glob";
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
