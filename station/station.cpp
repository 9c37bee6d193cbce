#include "station/station.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "platform/child_processes.h"
#include "platform/process_paths.h"

namespace Station {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Redraws of the live view on a terminal; without one, nothing is timed.
constexpr int REDRAW_MS = 250;
constexpr const char* TOOL_NAME = "tarnwickcmd";
constexpr const char* EVENTS_PATH = "/dev/fd/3";

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string UtcStamp(const char* format)
{
    const std::time_t now = std::time(nullptr);
    const std::tm utc = *std::gmtime(&now);
    char text[40];
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

class StationRun {
public:
    explicit StationRun(const StationOptions& options) : m_options(options) {}
    int Run(const std::vector<std::string>& ports);

private:
    double Now() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
    bool StartBoard(const std::string& port);
    void OnReadable(BoardRun& board);
    void EndBoard(BoardRun& board);
    void Cancel();
    void Show(const BoardRun& board, const std::string& text);
    void Redraw();
    size_t Running() const;

    const StationOptions& m_options;
    Clock::time_point m_start = Clock::now();
    std::string m_tool;
    std::string m_runDir;
    std::deque<std::string> m_waiting;
    std::map<std::string, int> m_rounds;
    std::vector<BoardRun> m_boards;
    bool m_live = false;
    bool m_cancelling = false;
    size_t m_drawnLines = 0;
};

size_t StationRun::Running() const
{
    return static_cast<size_t>(std::count_if(m_boards.begin(), m_boards.end(),
                                             [](const BoardRun& b) { return b.pid > 0 && !b.ended; }));
}

bool StationRun::StartBoard(const std::string& port)
{
    BoardRun board;
    board.port = port;
    board.round = ++m_rounds[port];
    const std::string stem =
        m_runDir + "/" + PortFileName(port) + (m_options.repeat ? "-" + std::to_string(board.round) : "");
    board.logPath = stem + ".log";
    board.reportPath = stem + ".json";
    std::vector<std::string> argv{m_tool, m_options.operation};
    argv.insert(argv.end(), m_options.toolArgs.begin(), m_options.toolArgs.end());
    argv.insert(argv.end(), {"-m", "serial", port, "-report:" + board.reportPath,
                             std::string("-events:") + EVENTS_PATH});
    const Platform::ChildProcesses::Child child = Platform::ChildProcesses::Spawn(argv, board.logPath);
    board.startedAt = Now();
    if (child.pid < 0) {
        board.Finish(-1, nullptr, Now());
        board.reason = "cannot start " + m_tool;
        m_boards.push_back(board);
        Show(m_boards.back(), "FAILED: " + board.reason);
        return false;
    }
    board.pid = child.pid;
    board.eventsFd = child.eventsFd;
    m_boards.push_back(board);
    Show(m_boards.back(), "started");
    return true;
}

void StationRun::Show(const BoardRun& board, const std::string& text)
{
    if (m_live || text.empty()) {
        return;
    }
    std::printf("%s %s %s\n", UtcStamp("%H:%M:%S").c_str(), board.port.c_str(), text.c_str());
    std::fflush(stdout);
}

void StationRun::Redraw()
{
    if (!m_live) {
        return;
    }
    std::string frame;
    if (m_drawnLines > 0) {
        frame += "\x1b[" + std::to_string(m_drawnLines) + "A";
    }
    const double now = Now();
    for (const BoardRun& board : m_boards) {
        frame += "\r" + board.LiveLine(now) + "\x1b[K\n";
    }
    m_drawnLines = m_boards.size();
    std::fputs(frame.c_str(), stdout);
    std::fflush(stdout);
}

void StationRun::OnReadable(BoardRun& board)
{
    char buffer[4096];
    const long got = Platform::ChildProcesses::ReadSome(board.eventsFd, buffer, sizeof buffer);
    if (got < 0) {
        return;
    }
    if (got == 0) {
        EndBoard(board);
        return;
    }
    board.pendingLine.append(buffer, static_cast<size_t>(got));
    size_t end = 0;
    while ((end = board.pendingLine.find('\n')) != std::string::npos) {
        const std::string line = board.pendingLine.substr(0, end);
        board.pendingLine.erase(0, end + 1);
        Show(board, board.OnEventLine(line, Now()));
    }
}

void StationRun::EndBoard(BoardRun& board)
{
    Platform::ChildProcesses::CloseFd(board.eventsFd);
    board.eventsFd = -1;
    const int code = Platform::ChildProcesses::Reap(board.pid, board.cpuSeconds);
    nlohmann::json report = nlohmann::json::parse(ReadText(board.reportPath), nullptr, false);
    board.Finish(code, report.is_discarded() ? nlohmann::json() : report, Now());
    Show(board, board.Succeeded() ? "succeeded" : "FAILED: " + board.reason + " (log " + board.logPath + ")");
    if (m_options.repeat && !m_cancelling) {
        m_waiting.push_back(board.port);
    }
}

void StationRun::Cancel()
{
    if (!m_live) {
        std::printf("%s cancelling every board\n", UtcStamp("%H:%M:%S").c_str());
    }
    m_cancelling = true;
    m_waiting.clear();
    for (const BoardRun& board : m_boards) {
        if (board.pid > 0 && !board.ended) {
            Platform::ChildProcesses::Interrupt(board.pid);
        }
    }
}

int StationRun::Run(const std::vector<std::string>& ports)
{
    m_tool = Platform::ExecutableDirectory() + TOOL_NAME;
    m_runDir = m_options.runDir.empty() ? "station-" + UtcStamp("%Y%m%dT%H%M%SZ") : m_options.runDir;
    std::error_code error;
    fs::create_directories(m_runDir, error);
    if (error) {
        std::fprintf(stderr, "tarnwick-station: cannot create the run directory %s\n", m_runDir.c_str());
        return 1;
    }
    m_live = Platform::ChildProcesses::IsTerminal(1);
    const int interrupts = Platform::ChildProcesses::InstallInterruptPipe();
    m_waiting.assign(ports.begin(), ports.end());
    const size_t limit = m_options.jobs > 0 ? static_cast<size_t>(m_options.jobs) : ports.size();
    if (!m_live) {
        std::printf("%s run directory %s\n", UtcStamp("%H:%M:%S").c_str(), m_runDir.c_str());
    }
    for (;;) {
        while (!m_cancelling && !m_waiting.empty() && Running() < limit) {
            const std::string port = m_waiting.front();
            m_waiting.pop_front();
            StartBoard(port);
        }
        if (Running() == 0 && (m_waiting.empty() || m_cancelling)) {
            break;
        }
        std::vector<int> fds{interrupts};
        for (const BoardRun& board : m_boards) {
            if (board.eventsFd >= 0) {
                fds.push_back(board.eventsFd);
            }
        }
        Redraw();
        for (const int fd : Platform::ChildProcesses::WaitReadable(fds, m_live ? REDRAW_MS : -1)) {
            if (fd == interrupts) {
                if (Platform::ChildProcesses::DrainInterrupts(interrupts) > 0) {
                    Cancel();
                }
                continue;
            }
            for (BoardRun& board : m_boards) {
                if (board.eventsFd == fd) {
                    OnReadable(board);
                    break;
                }
            }
        }
    }
    Redraw();
    const double seconds = Now();
    std::printf("\n%s", SummaryTable(m_boards).c_str());
    if (!m_options.summaryPath.empty()) {
        std::ofstream out(m_options.summaryPath, std::ios::trunc);
        out << SummaryJson(m_boards, seconds).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        if (!out) {
            std::fprintf(stderr, "tarnwick-station: cannot write the summary %s\n", m_options.summaryPath.c_str());
        }
    }
    return StationExitCode(m_boards);
}

}  // namespace

std::vector<std::string> CollectPorts(const StationOptions& options, std::string& err)
{
    std::vector<std::string> ports = options.ports;
    if (!options.portsFile.empty()) {
        const std::vector<std::string> listed = ReadPortsFile(ReadText(options.portsFile));
        ports.insert(ports.end(), listed.begin(), listed.end());
    }
    if (!options.portsGlob.empty()) {
        const std::vector<std::string> matched = Platform::ChildProcesses::ExpandGlob(options.portsGlob);
        if (matched.empty()) {
            err = "tarnwick-station: no port matches " + options.portsGlob + "\n";
        }
        ports.insert(ports.end(), matched.begin(), matched.end());
    }
    std::vector<std::string> unique;
    std::set<std::string> seen;
    for (const std::string& port : ports) {
        if (seen.insert(port).second) {
            unique.push_back(port);
        }
    }
    return unique;
}

std::string PortFileName(const std::string& port)
{
    std::string name;
    for (const char c : port) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
        if (plain) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') {
        name.pop_back();
    }
    return name.empty() ? "port" : name;
}

int StationExitCode(const std::vector<BoardRun>& boards)
{
    const auto failed = std::count_if(boards.begin(), boards.end(), [](const BoardRun& b) { return !b.Succeeded(); });
    return static_cast<int>(std::min<long>(failed, MAX_FAILED_EXIT));
}

nlohmann::json SummaryJson(const std::vector<BoardRun>& boards, double seconds)
{
    nlohmann::json list = nlohmann::json::array();
    nlohmann::json perPort = nlohmann::json::object();
    int succeeded = 0;
    for (const BoardRun& board : boards) {
        list.push_back({{"port", board.port},
                        {"round", board.round},
                        {"result", board.Succeeded() ? "ok" : "failed"},
                        {"exitCode", board.exitCode},
                        {"startSeconds", board.startedAt},
                        {"endSeconds", board.endedAt},
                        {"seconds", board.endedAt - board.startedAt},
                        {"reason", board.reason},
                        {"cpuSeconds", board.cpuSeconds},
                        {"log", board.logPath},
                        {"report", board.report}});
        if (!perPort.contains(board.port)) {
            perPort[board.port] = {{"boards", 0}, {"succeeded", 0}};
        }
        nlohmann::json& port = perPort[board.port];
        port["boards"] = port["boards"].get<int>() + 1;
        port["succeeded"] = port["succeeded"].get<int>() + (board.Succeeded() ? 1 : 0);
        succeeded += board.Succeeded() ? 1 : 0;
    }
    const int total = static_cast<int>(boards.size());
    return {{"boards", list},
            {"ports", perPort},
            {"totals", {{"boards", total}, {"succeeded", succeeded}, {"failed", total - succeeded}, {"seconds", seconds}}}};
}

std::string SummaryTable(const std::vector<BoardRun>& boards)
{
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-24s %-7s %8s  %s\n", "port", "result", "seconds", "reason");
    out += line;
    int failed = 0;
    for (const BoardRun& board : boards) {
        const std::string reason = board.Succeeded() ? "" : board.reason + " (log " + board.logPath + ")";
        std::snprintf(line, sizeof line, "%-24s %-7s %8.1f  %s\n", board.port.c_str(),
                      board.Succeeded() ? "ok" : "FAILED", board.endedAt - board.startedAt, reason.c_str());
        out += line;
        failed += board.Succeeded() ? 0 : 1;
    }
    std::snprintf(line, sizeof line, "%zu boards, %d succeeded, %d failed\n", boards.size(),
                  static_cast<int>(boards.size()) - failed, failed);
    return out + line;
}

int RunStation(const StationOptions& options)
{
    std::string err;
    const std::vector<std::string> ports = CollectPorts(options, err);
    if (ports.empty()) {
        std::fputs(err.empty() ? "tarnwick-station: no ports to serve\n" : err.c_str(), stderr);
        return USAGE_ERROR;
    }
    StationRun run(options);
    return run.Run(ports);
}

}  // namespace Station
