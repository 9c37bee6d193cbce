// tarnwick-sim as a child process, and its JSON report read back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace TestSupport {

std::string SimPath();

struct SimImage {
    std::string kind;
    std::string name;
    uint64_t address = 0;
    uint64_t length = 0;
    uint64_t regionSize = 0;
    std::string sha256;
};

// The report puts every list item on a line of its own.
struct SimReport {
    std::string text;  // the whole document
    std::string family;
    std::vector<SimImage> images;
    std::vector<std::string> erases;  // the erase objects as written
    std::vector<std::string> resets;  // frames in hex
    std::vector<uint64_t> baudChanges;
    std::vector<std::string> protocolErrors;
    std::vector<std::string> events;

    bool HasEvent(const std::string& part) const;
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
    ~SimProcess() { Stop(0); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Ok() const { return !m_port.empty(); }
    const std::string& Port() const { return m_port; }
    void Signal(int number) const { m_child.Signal(number); }
    int WaitExit(int ms) { return m_child.WaitExit(ms); }
    // Lets it end by itself (the tool reset the board and closed the line)
    // within graceMs, else asks it to stop; its report is written either way.
    int Stop(int graceMs) { return m_child.Stop(graceMs); }

private:
    ChildProcess m_child;
    std::string m_port;
};

}  // namespace TestSupport
