#include "support/sim_launcher.h"

#include <signal.h>

#include "support/test_files.h"

namespace TestSupport {

constexpr int SIM_START_LIMIT_MS = 30000;
constexpr int SIM_STOP_LIMIT_MS = 30000;

std::string SimPath()
{
    return std::string(TARNWICK_BIN_DIR) + "/tarnwick-sim";
}

std::string Field(const std::string& object, const std::string& key)
{
    const std::string marker = "\"" + key + "\": ";
    size_t at = object.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    at += marker.size();
    if (at < object.size() && object[at] == '"') {
        return object.substr(at + 1, object.find('"', at + 1) - at - 1);
    }
    return object.substr(at, object.find_first_of(",}", at) - at);
}

static std::vector<std::string> Unquoted(std::vector<std::string> items)
{
    for (std::string& item : items) {
        if (item.size() >= 2 && item[0] == '"') {
            item = item.substr(1, item.size() - 2);
        }
    }
    return items;
}

SimReport ReadSimReport(const std::string& path)
{
    const Bytes json = ReadFile(path);
    SimReport report;
    report.text.assign(json.begin(), json.end());
    report.erases = report.List("erases");
    report.resets = Unquoted(report.List("resets"));
    report.protocolErrors = Unquoted(report.List("protocolErrors"));
    report.events = Unquoted(report.List("events"));
    for (const std::string& baud : report.List("baudChanges")) {
        report.baudChanges.push_back(std::stoull(baud));
    }
    for (const std::string& baud : report.List("lineRates")) {
        report.lineRates.push_back(std::stoull(baud));
    }
    return report;
}

std::vector<std::string> SimReport::List(const std::string& key) const
{
    std::vector<std::string> items;
    const std::string head = "\"" + key + "\": [";
    size_t at = text.find(head);
    if (at == std::string::npos || text.compare(at + head.size(), 1, "]") == 0) {
        return items;
    }
    for (at = text.find('\n', at) + 1; at < text.size();) {
        const size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        line.erase(0, line.find_first_not_of(' '));
        if (line.empty() || line[0] == ']') {
            break;
        }
        items.push_back(line.back() == ',' ? line.substr(0, line.size() - 1) : line);
        at = end + 1;
    }
    return items;
}

SimProcess::SimProcess(const std::vector<std::string>& args) : m_child(SimPath(), args, {false, ""})
{
    // Its first line names its pty; a simulator that says nothing for 30 s has failed.
    if (m_child.WaitForOutput("\n", SIM_START_LIMIT_MS)) {
        m_port = m_child.Output().substr(0, m_child.Output().find('\n'));
    }
}

SimProcess::~SimProcess()
{
    Stop(0);
}

void SimProcess::Stop(int graceMs)
{
    if (!m_child.Ended(graceMs)) {
        m_child.Signal(SIGTERM);
        m_child.Wait(SIM_STOP_LIMIT_MS);
    }
}

}  // namespace TestSupport
