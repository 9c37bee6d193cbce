// tarnwick-sim as a child process, and its JSON report read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace TestSupport {

std::string SimPath();

// The report puts every list item on a line of its own.
struct SimReport {
    std::string text;  // the whole document
    std::vector<std::string> erases;  // the erase objects as written
    std::vector<std::string> resets;  // frames in hex
    std::vector<uint64_t> baudChanges;
    std::vector<uint64_t> lineRates;  // what the tool's side of the line was set to
    std::vector<std::string> protocolErrors;
    std::vector<std::string> events;

    // The items of a list as written, quotes and all.
    std::vector<std::string> List(const std::string& key) const;
};

SimReport ReadSimReport(const std::string& path);
// The value of "key" in a one-line object: a string without its quotes, or a number.
std::string Field(const std::string& object, const std::string& key);

// One simulated board; the first line it prints is the path of its pty.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Ok() const { return !m_port.empty(); }
    const std::string& Port() const { return m_port; }
    // Lets it end by itself (the tool reset the board and closed the line)
    // within graceMs, else asks it to stop; its report is written either way.
    void Stop(int graceMs);

private:
    ChildProcess m_child;
    std::string m_port;
};

}  // namespace TestSupport
