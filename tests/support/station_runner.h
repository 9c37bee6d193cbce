// tarnwick-station as the end-to-end runs start it: running in the
// background while the test watches its output and sends it signals, and a
// stand-in for tarnwickcmd for the runs that test the station itself.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace TestSupport {

// A shell script standing in for tarnwickcmd. Before body runs, $report is
// the path of its -report: option and $port its port; `event JSON` writes an
// event line, `report CODE LAST_ERROR CANCELLED IMAGES_JSON` its run report.
std::string StandInTool(const std::string& body);

class StationProcess {
public:
    // Starts program with args; its output (standard output and error) is read as it comes.
    StationProcess(const std::string& program, const std::vector<std::string>& args);
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // Reads its output until it holds text; false when limitMs passed first or it ended without it.
    bool WaitForOutput(const std::string& text, int limitMs);
    // Reads its output to its end; the exit code, -1 when it had to be killed at the limit.
    int Wait(int limitMs);
    void Signal(int number);
    const std::string& Output() const { return m_output; }

private:
    // Reads what comes within timeoutMs; false at the end of the output.
    bool ReadSome(int timeoutMs);

    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_output;
    int m_exitCode = -1;
    bool m_reaped = false;
};

}  // namespace TestSupport
