#include <cstdio>

#include "station/station.h"

int main(int argc, char** argv)
{
    Station::StationOptions options;
    std::string out;
    std::string err;
    const int parsed = Station::ParseStationOptions(argc, argv, options, out, err);
    if (parsed >= 0) {
        std::fputs(out.c_str(), stdout);
        std::fputs(err.c_str(), stderr);
        return parsed;
    }
    return Station::RunStation(options);
}
