// One board served by one tarnwickcmd: what its event lines say about it as
// it runs, and how it ended.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/child_processes.h"

namespace Station {

struct BoardRun {
    std::string port;
    int round = 1;          // the how-many-th board on this port (--repeat)
    std::string logPath;
    std::string reportPath;
    Platform::ChildProcesses::ProcessId pid = -1;
    int eventsFd = -1;
    std::string pendingLine;  // the part of an event line still to come

    std::string stage = "starting";
    int percent = 0;
    uint64_t imageBytes = 0;
    uint64_t doneBytes = 0;   // of the images that ended
    double firstImageAt = -1.0;
    double startedAt = 0.0;   // seconds since the station started
    double endedAt = 0.0;

    bool ended = false;
    int exitCode = -1;
    double cpuSeconds = 0.0;  // of the tool run
    nlohmann::json report;    // the board's -report, null when it wrote none
    std::string reason;

    // Takes one event line of the tool; a short text for the plain view,
    // empty for an event not worth a line.
    std::string OnEventLine(const std::string& line, double now);
    // Port, stage, percent, bytes per second and elapsed time, for the live view.
    std::string LiveLine(double now) const;
    double BytesPerSecond(double now) const;
    // After the child ended: exit code and report decide result and reason.
    void Finish(int code, nlohmann::json boardReport, double now);
    bool Succeeded() const { return ended && exitCode == 0; }
    // No board answered on the port at all (a fixture still empty).
    bool NoBoardCame() const;
};

}  // namespace Station
