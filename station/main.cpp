#include <cstdio>
#include <cstring>

#include "station/history_command.h"
#include "station/station.h"

int main(int argc, char** argv)
{
    std::string out;
    std::string err;
    if (argc > 1 && std::strcmp(argv[1], "history") == 0) {
        Station::HistoryOptions options;
        int code = Station::ParseHistoryOptions(argc, argv, options, out, err);
        if (code < 0) {
            code = Station::RunHistoryCommand(options, out, err);
        }
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return code;
    }
    Station::StationOptions options;
    const int parsed = Station::ParseStationOptions(argc, argv, options, out, err);
    if (parsed >= 0) {
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return parsed;
    }
    return Station::RunStation(options);
}
