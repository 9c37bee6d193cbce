#include "support/sim_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/child_process.h"
#include "support/test_files.h"

namespace TestSupport {

using Clock = std::chrono::steady_clock;

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

SimProcess::SimProcess(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{SimPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    m_pid = Spawn(argv, fds[1], false);
    close(fds[1]);
    m_stdout = fds[0];
    // Its first line names its pty; a simulator that says nothing for 30 s has failed.
    pollfd fd{m_stdout, POLLIN, 0};
    std::string line;
    char c = 0;
    while (m_pid > 0 && poll(&fd, 1, 30000) > 0 && read(m_stdout, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    if (c == '\n') {
        m_port = line;
    }
}

SimProcess::~SimProcess()
{
    Stop(0);
    close(m_stdout);
}

bool SimProcess::Ended(int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (m_pid > 0 && m_status < 0) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        } else if (Clock::now() >= deadline) {
            return false;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return true;
}

int SimProcess::Stop(int graceMs)
{
    for (const int signal : {0, SIGTERM, SIGKILL}) {
        if (signal != 0) {
            kill(m_pid, signal);
        }
        if (Ended(signal == 0 ? graceMs : 30000)) {
            break;
        }
    }
    return m_status;
}

}  // namespace TestSupport
