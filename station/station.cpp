#include "station/station.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <set>

#include "common/sha256_util.h"
#include "platform/child_processes.h"
#include "platform/process_paths.h"
#include "station/dashboard.h"
#include "station/history.h"
#include "station/history_recorder.h"
#include "station/usb_ports.h"
#include "transport/port_name.h"

namespace Station {

namespace {

namespace fs = std::filesystem;
namespace Child = Platform::ChildProcesses;
using Clock = std::chrono::steady_clock;

// Redraws of the live view on a terminal; without one, nothing is timed.
constexpr double REDRAW_S = 0.25;
// The dashboard gets a change at most this often, and a new state at least
// this often while boards run (their elapsed time moves).
constexpr double PUBLISH_CHANGE_S = 0.5;
constexpr double PUBLISH_IDLE_S = 1.0;
// A round with no board that ended sooner than this waits --retry-delay
// before the next: no handshake window is that short.
constexpr double MIN_EMPTY_ROUND_S = 1.0;
// After Ctrl-C a tool has this long to stop by itself before SIGKILL.
constexpr double CANCEL_GRACE_S = 5.0;
// At the end: how long the history may take for what is queued, and how long
// open browsers get for the final state.
constexpr double HISTORY_FINISH_S = 30.0;
constexpr double DASHBOARD_LINGER_S = 2.0;
// A line of the tool's events longer than this is no event: dropped.
constexpr size_t MAX_EVENT_LINE = 64 * 1024;
constexpr size_t READ_CHUNK = 4096;
constexpr const char* TOOL_NAME = "tarnwickcmd";
constexpr const char* EVENTS_PATH = "/dev/fd/3";
constexpr double NEVER = std::numeric_limits<double>::infinity();

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

std::string UtcNow()
{
    return UtcStamp("%Y-%m-%dT%H:%M:%SZ");
}

std::string Sha256Hex(const std::string& path)
{
    std::ifstream probe(path, std::ios::binary);
    if (!probe) {
        return "";
    }
    unsigned char digest[Sha256Util::DIGEST_LENGTH];
    Sha256Util::sha256File(path, digest);
    static const char* const DIGITS = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += DIGITS[byte >> 4];
        hex += DIGITS[byte & 0x0F];
    }
    return hex;
}

std::string SecondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

class StationRun {
public:
    StationRun(const StationOptions& options, RunFacts facts) : m_options(options), m_facts(std::move(facts)) {}
    ~StationRun()
    {
        // The recorder's thread wakes through the pipe: it goes first.
        m_history.reset();
        Child::CloseWakePipe(m_wake);
    }
    int Run(const std::vector<std::string>& ports, const std::vector<std::string>& adapterSerials);

private:
    double Now() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
    bool Setup();
    bool StartHistory();
    void StartQueued();
    void StartAttempt(ServedPort& port);
    void OnSignals(const Child::Signals& signals);
    void ReapEnded();
    // What it read: > 0 bytes, 0 at the end of the pipe, < 0 nothing now.
    long OnReadable(BoardRun& run);
    void DrainEvents(BoardRun& run);
    void EndAttempt(ServedPort& port, int exitCode, double cpuSeconds);
    void RecordAttempt(const BoardRun& run);
    void Pause(ServedPort& port, double seconds, const std::string& note);
    void RunTimers();
    void Cancel();
    double NextTimer() const;
    bool Finished() const;
    size_t Running() const;
    void Show(const BoardRun& run, const std::string& text);
    void Notice(const std::string& text);
    void TakeHistoryNotices();
    void Redraw();
    void Publish(bool force);
    int Conclude();

    const StationOptions& m_options;
    RunFacts m_facts;
    Clock::time_point m_start = Clock::now();
    std::string m_tool;
    std::string m_runDir;
    std::vector<ServedPort> m_ports;
    std::deque<size_t> m_queue;  // ports ready to start, in order
    bool m_live = false;
    bool m_cancelling = false;
    int m_signalFd = -1;
    Child::WakePipe m_wake;
    size_t m_drawnLines = 0;
    double m_lastRedraw = -NEVER;
    std::unique_ptr<Dashboard> m_dashboard;
    bool m_dirty = true;
    double m_lastPublish = -NEVER;
    std::unique_ptr<HistoryRecorder> m_history;
};

size_t StationRun::Running() const
{
    return static_cast<size_t>(std::count_if(m_ports.begin(), m_ports.end(), [](const ServedPort& p) {
        return p.phase == ServedPort::Phase::RUNNING;
    }));
}

bool StationRun::Finished() const
{
    return std::all_of(m_ports.begin(), m_ports.end(),
                       [](const ServedPort& p) { return p.phase == ServedPort::Phase::DONE; });
}

bool StationRun::StartHistory()
{
    std::unique_ptr<HistoryStore> store = OpenHistory(m_options.history);
    HistoryStatus status = store->Prepare();
    int64_t runId = 0;
    if (status.Ok()) {
        nlohmann::json options = nlohmann::json::array();
        for (const std::string& arg : m_options.commandLine) {
            options.push_back(WithoutPassword(arg));
        }
        HistoryRun run{m_facts.startedUtc,   m_facts.host,          m_facts.operation.substr(2),
                       m_facts.chipName,     m_facts.packagePath,   m_facts.packageSha256,
                       options.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), m_facts.version};
        status = store->BeginRun(run, runId);
    }
    if (!status.Ok()) {
        std::fprintf(stderr, "tarnwick-station: %s; no board was started\n",
                     HistoryProblem(m_options.history, status.error).c_str());
        return false;
    }
    const Child::WakePipe wake = m_wake;
    m_history = std::make_unique<HistoryRecorder>(std::move(store), runId, [wake] { Child::Wake(wake); });
    return true;
}

bool StationRun::Setup()
{
    m_tool = Platform::ExecutableDirectory() + TOOL_NAME;
    m_runDir = m_options.runDir.empty() ? "station-" + UtcStamp("%Y%m%dT%H%M%SZ") : m_options.runDir;
    std::error_code error;
    fs::create_directories(m_runDir, error);
    if (error) {
        std::fprintf(stderr, "tarnwick-station: cannot create the run directory %s\n", m_runDir.c_str());
        return false;
    }
    m_wake = Child::OpenWakePipe();
    // Before the dashboard's and the recorder's threads, which inherit the mask.
    m_signalFd = Child::CatchSignals();
    if (!m_options.http.empty()) {
        std::string host;
        int port = 0;
        ParseListenAddress(m_options.http, host, port);
        std::string problem;
        m_dashboard = Dashboard::Start(host, port, m_facts.host, problem);
        if (!m_dashboard) {
            std::fprintf(stderr, "tarnwick-station: dashboard: %s; no board was started\n", problem.c_str());
            return false;
        }
    }
    if (!m_options.history.empty() && !StartHistory()) {
        return false;
    }
    m_live = Child::IsTerminal(1);
    if (!m_live) {
        std::printf("%s run directory %s\n", UtcStamp("%H:%M:%S").c_str(), m_runDir.c_str());
    }
    if (m_dashboard) {
        std::printf("dashboard: %s\n", m_dashboard->Url().c_str());
    }
    std::fflush(stdout);
    return true;
}

void StationRun::StartQueued()
{
    const size_t limit = m_options.jobs > 0 ? static_cast<size_t>(m_options.jobs) : m_ports.size();
    while (!m_cancelling && !m_queue.empty() && Running() < limit) {
        ServedPort& port = m_ports[m_queue.front()];
        m_queue.pop_front();
        StartAttempt(port);
    }
}

void StationRun::StartAttempt(ServedPort& port)
{
    if (!port.boardStarted) {
        ++port.round;
        port.boardStarted = true;
    }
    BoardRun run;
    run.port = port.port;
    run.adapterSerial = port.adapterSerial;
    run.round = port.round;
    run.attempt = static_cast<int>(port.attempts.size()) + 1;
    const std::string stem =
        m_runDir + "/" + PortFileName(port.port) + (m_options.repeat ? "-" + std::to_string(run.round) : "");
    run.logPath = stem + ".log";
    run.reportPath = stem + (run.attempt > 1 ? "-attempt" + std::to_string(run.attempt) : "") + ".json";
    if (run.attempt > 1) {
        const BoardRun& before = port.attempts.back();
        std::ofstream(run.logPath, std::ios::app) << "\n--- tarnwick-station: attempt " << run.attempt << " of "
                                                  << m_facts.maxAttempts << " (attempt " << before.attempt
                                                  << " failed: " << before.reason << ")\n";
    }
    std::vector<std::string> argv{m_tool, m_options.operation};
    argv.insert(argv.end(), m_options.toolArgs.begin(), m_options.toolArgs.end());
    argv.insert(argv.end(), {"-m", "serial", port.port, "-report:" + run.reportPath,
                             std::string("-events:") + EVENTS_PATH});
    // A report left by an earlier run must not speak for this one.
    std::error_code ignored;
    fs::remove(run.reportPath, ignored);
    const Child::Child child = Child::Spawn(argv, run.logPath);
    run.startedAt = Now();
    run.startedUtc = UtcNow();
    run.deadline = run.startedAt + m_options.boardTimeout;
    run.pid = child.pid;
    run.eventsFd = child.eventsFd;
    port.attempts.push_back(run);
    port.phase = ServedPort::Phase::RUNNING;
    m_dirty = true;
    if (child.pid < 0) {
        port.attempts.back().reason = "cannot start " + m_tool;
        EndAttempt(port, -1, 0.0);
        return;
    }
    Show(port.attempts.back(), m_facts.maxAttempts > 1 ? "started (attempt " + std::to_string(run.attempt) + " of " +
                                                             std::to_string(m_facts.maxAttempts) + ")"
                                                       : "started");
}

void StationRun::Show(const BoardRun& run, const std::string& text)
{
    if (m_live || text.empty()) {
        return;
    }
    std::printf("%s %s %s\n", UtcStamp("%H:%M:%S").c_str(), run.port.c_str(), text.c_str());
    std::fflush(stdout);
}

void StationRun::Notice(const std::string& text)
{
    if (m_live && m_drawnLines > 0) {
        // Above the board lines: clear them, print, and let the next redraw put them back.
        std::printf("\x1b[%zuA\r\x1b[J", m_drawnLines);
        m_drawnLines = 0;
        m_lastRedraw = -NEVER;
    }
    std::fprintf(stderr, "tarnwick-station: %s\n", text.c_str());
    std::fflush(stderr);
}

void StationRun::TakeHistoryNotices()
{
    Child::DrainWake(m_wake);
    if (!m_history) {
        return;
    }
    for (const std::string& text : m_history->TakeNotices()) {
        Notice("history: " + text);
    }
}

void StationRun::Redraw()
{
    if (!m_live || Now() - m_lastRedraw < REDRAW_S) {
        return;
    }
    m_lastRedraw = Now();
    std::string frame;
    if (m_drawnLines > 0) {
        frame += "\x1b[" + std::to_string(m_drawnLines) + "A";
    }
    for (const ServedPort& port : m_ports) {
        frame += "\r" + LiveLine(port, m_facts, m_lastRedraw) + "\x1b[K\n";
    }
    m_drawnLines = m_ports.size();
    std::fputs(frame.c_str(), stdout);
    std::fflush(stdout);
}

void StationRun::Publish(bool force)
{
    if (!m_dashboard) {
        return;
    }
    const double now = Now();
    const double due = m_lastPublish + (m_dirty ? PUBLISH_CHANGE_S : PUBLISH_IDLE_S);
    if (!force && (now < due || (!m_dirty && Running() == 0))) {
        return;
    }
    m_dirty = false;
    m_lastPublish = now;
    m_dashboard->Publish(StationStateJson(m_ports, m_facts, now, false)
                             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

long StationRun::OnReadable(BoardRun& run)
{
    char buffer[READ_CHUNK];
    const long got = Child::ReadSome(run.eventsFd, buffer, sizeof buffer);
    if (got < 0) {
        return got;
    }
    if (got == 0) {
        // The tool closed its end; it has ended or is about to (its reaping ends the attempt).
        Child::CloseFd(run.eventsFd);
        run.eventsFd = -1;
        return got;
    }
    run.pendingLine.append(buffer, static_cast<size_t>(got));
    size_t end = 0;
    while ((end = run.pendingLine.find('\n')) != std::string::npos) {
        const std::string line = run.pendingLine.substr(0, end);
        run.pendingLine.erase(0, end + 1);
        Show(run, run.OnEventLine(line, Now()));
        m_dirty = true;
    }
    if (run.pendingLine.size() > MAX_EVENT_LINE) {
        run.pendingLine.clear();
    }
    return got;
}

void StationRun::DrainEvents(BoardRun& run)
{
    while (run.eventsFd >= 0 && OnReadable(run) > 0) {
    }
    // Nothing more now; a child of the tool may still hold the pipe, but this attempt is over.
    Child::CloseFd(run.eventsFd);
    run.eventsFd = -1;
}

void StationRun::ReapEnded()
{
    for (ServedPort& port : m_ports) {
        BoardRun* run = port.Running();
        int exitCode = -1;
        double cpuSeconds = 0.0;
        if (run != nullptr && run->pid > 0 && Child::TryReap(run->pid, exitCode, cpuSeconds)) {
            EndAttempt(port, exitCode, cpuSeconds);
        }
    }
}

void StationRun::RecordAttempt(const BoardRun& run)
{
    if (!m_history) {
        return;
    }
    HistoryBoard board;
    board.port = run.port;
    board.adapterSerial = run.adapterSerial;
    board.round = run.round;
    board.attempt = run.attempt;
    board.startedUtc = run.startedUtc;
    board.seconds = run.endedAt - run.startedAt;
    board.result = run.Result();
    board.exitCode = run.exitCode;
    // A board that succeeded with images it never confirmed says so where a reason would stand.
    board.reason = run.Succeeded() ? run.Warning() : run.reason;
    if (!run.report.is_null()) {
        board.reportJson = run.report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    m_history->Record(std::move(board));
}

void StationRun::Pause(ServedPort& port, double seconds, const std::string& note)
{
    port.phase = ServedPort::Phase::PAUSED;
    port.resumeAt = Now() + seconds;
    port.pauseNote = note;
}

void StationRun::EndAttempt(ServedPort& port, int exitCode, double cpuSeconds)
{
    BoardRun& run = port.attempts.back();
    DrainEvents(run);
    run.cpuSeconds = cpuSeconds;
    const std::string reason = run.reason;
    nlohmann::json report = nlohmann::json::parse(ReadText(run.reportPath), nullptr, false);
    run.Finish(exitCode, report.is_discarded() ? nlohmann::json() : report, Now(), m_options.boardTimeout);
    if (exitCode == -1 && !reason.empty()) {
        run.reason = reason;
    }
    m_dirty = true;
    const NextStep step = AfterAttempt(run, m_facts.maxAttempts, m_options.repeat, m_cancelling);
    if (step == NextStep::SAME_BOARD_AGAIN) {
        Show(run, "no board came; " + std::string(m_cancelling ? "not counted" : WAITING_STAGE));
        const bool brief = run.endedAt - run.startedAt < MIN_EMPTY_ROUND_S;
        port.attempts.pop_back();
        ++port.emptyRounds;
        if (m_cancelling) {
            port.phase = ServedPort::Phase::DONE;
        } else if (brief) {
            // No handshake window is that short: something fails at once, so do not spin.
            Pause(port, m_options.retryDelay, WAITING_STAGE);
        } else {
            port.phase = ServedPort::Phase::QUEUED;
            m_queue.push_back(static_cast<size_t>(&port - m_ports.data()));
        }
        return;
    }
    RecordAttempt(run);
    const std::string warning = run.Warning().empty() ? "" : "; warning: " + run.Warning();
    const std::string failure =
        run.Succeeded() ? "succeeded" + warning : "FAILED: " + run.reason + " (log " + run.logPath + ")";
    if (step == NextStep::RETRY) {
        Show(run, failure + "; again in " + SecondsText(m_options.retryDelay) + " s");
        Pause(port, m_options.retryDelay,
              "attempt " + std::to_string(run.attempt) + " failed; again in " + SecondsText(m_options.retryDelay) + " s");
        return;
    }
    Show(run, failure);
    port.CountBoard();
    if (!m_options.repeat || m_cancelling) {
        port.phase = ServedPort::Phase::DONE;
    } else if (port.LastSucceeded()) {
        port.phase = ServedPort::Phase::QUEUED;
        m_queue.push_back(static_cast<size_t>(&port - m_ports.data()));
    } else {
        // Not at once: a port that fails at once (an adapter gone) must not spin.
        Pause(port, m_options.retryDelay, "next board in " + SecondsText(m_options.retryDelay) + " s");
    }
}

void StationRun::RunTimers()
{
    const double now = Now();
    for (ServedPort& port : m_ports) {
        if (port.phase == ServedPort::Phase::PAUSED && now >= port.resumeAt) {
            port.phase = ServedPort::Phase::QUEUED;
            m_queue.push_back(static_cast<size_t>(&port - m_ports.data()));
            m_dirty = true;
        }
        BoardRun* run = port.Running();
        if (run == nullptr || run->pid <= 0) {
            continue;
        }
        if (run->killAt >= 0.0 && now >= run->killAt) {
            Show(*run, "SIGKILL");
            Child::Kill(run->pid);
            run->killAt = -1.0;
        } else if (!run->timedOut && run->killAt < 0.0 && now >= run->deadline) {
            if (run->interrupted) {
                // Cancelled and still running: no more grace.
                Child::Kill(run->pid);
                run->deadline = NEVER;
                continue;
            }
            Show(*run, "no end within the board time-out of " + SecondsText(m_options.boardTimeout) + " s: SIGTERM");
            Child::Terminate(run->pid);
            run->timedOut = true;
            run->killAt = now + KILL_GRACE_S;
            m_dirty = true;
        }
    }
}

double StationRun::NextTimer() const
{
    double next = NEVER;
    for (const ServedPort& port : m_ports) {
        if (port.phase == ServedPort::Phase::PAUSED) {
            next = std::min(next, port.resumeAt);
        }
        if (port.phase == ServedPort::Phase::RUNNING) {
            const BoardRun& run = port.attempts.back();
            next = std::min(next, run.killAt >= 0.0 ? run.killAt : run.timedOut ? NEVER : run.deadline);
        }
    }
    if (m_live) {
        next = std::min(next, m_lastRedraw + REDRAW_S);
    }
    if (m_dashboard && (m_dirty || Running() > 0)) {
        next = std::min(next, m_lastPublish + (m_dirty ? PUBLISH_CHANGE_S : PUBLISH_IDLE_S));
    }
    return next;
}

void StationRun::Cancel()
{
    if (m_cancelling) {
        // A second Ctrl-C: no more waiting for anyone.
        for (ServedPort& port : m_ports) {
            if (BoardRun* run = port.Running(); run != nullptr && run->pid > 0) {
                Child::Kill(run->pid);
            }
        }
        return;
    }
    if (!m_live) {
        std::printf("%s cancelling every board\n", UtcStamp("%H:%M:%S").c_str());
        std::fflush(stdout);
    }
    m_cancelling = true;
    m_queue.clear();
    m_dirty = true;
    const double now = Now();
    for (ServedPort& port : m_ports) {
        if (BoardRun* run = port.Running(); run != nullptr) {
            if (run->pid > 0) {
                Child::Interrupt(run->pid);
            }
            run->interrupted = true;
            run->deadline = std::min(run->deadline, now + CANCEL_GRACE_S);
            continue;
        }
        // A board waiting for its next attempt ends with the attempt it had.
        port.CountBoard();
        port.phase = ServedPort::Phase::DONE;
    }
}

void StationRun::OnSignals(const Child::Signals& signals)
{
    for (int i = 0; i < signals.interrupts; ++i) {
        Cancel();
    }
    if (signals.childEnded) {
        ReapEnded();
    }
}

int StationRun::Run(const std::vector<std::string>& ports, const std::vector<std::string>& adapterSerials)
{
    for (size_t i = 0; i < ports.size(); ++i) {
        ServedPort port;
        port.port = ports[i];
        port.adapterSerial = i < adapterSerials.size() ? adapterSerials[i] : "";
        m_ports.push_back(port);
        m_queue.push_back(i);
    }
    if (!Setup()) {
        return USAGE_ERROR;
    }
    Publish(true);
    for (;;) {
        StartQueued();
        if (Finished()) {
            break;
        }
        std::vector<int> fds{m_signalFd, m_wake.readFd};
        for (const ServedPort& port : m_ports) {
            if (port.phase == ServedPort::Phase::RUNNING && port.attempts.back().eventsFd >= 0) {
                fds.push_back(port.attempts.back().eventsFd);
            }
        }
        Redraw();
        const double wait = NextTimer() - Now();
        const int timeoutMs = wait == NEVER ? -1 : static_cast<int>(std::ceil(std::max(wait, 0.0) * 1000.0));
        for (const int fd : Child::WaitReadable(fds, timeoutMs)) {
            if (fd == m_signalFd) {
                OnSignals(Child::DrainSignals(m_signalFd));
                continue;
            }
            if (fd == m_wake.readFd) {
                TakeHistoryNotices();
                continue;
            }
            for (ServedPort& port : m_ports) {
                if (BoardRun* run = port.Running(); run != nullptr && run->eventsFd == fd) {
                    OnReadable(*run);
                    break;
                }
            }
        }
        RunTimers();
        Publish(false);
    }
    return Conclude();
}

int StationRun::Conclude()
{
    m_lastRedraw = -NEVER;
    Redraw();
    const double seconds = Now();
    std::printf("\n%s", SummaryTable(m_ports, m_facts).c_str());
    std::fflush(stdout);
    nlohmann::json summary = SummaryJson(m_ports, m_facts, seconds);
    if (m_history) {
        const HistoryOutcome history = m_history->Finish(UtcNow(), HISTORY_FINISH_S);
        TakeHistoryNotices();
        if (history.missing > 0) {
            Notice(HistoryProblem(m_options.history, std::to_string(history.missing) +
                                                         " board attempts could not be recorded; the summary and the "
                                                         "run directory hold them"));
        }
        summary["history"] = {{"recorded", history.recorded},
                              {"notRecorded", history.missing},
                              {"meanRecordSeconds", history.meanRecordSeconds},
                              {"maxRecordSeconds", history.maxRecordSeconds}};
    }
    if (!m_options.summaryPath.empty()) {
        std::ofstream out(m_options.summaryPath, std::ios::trunc);
        out << summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        if (!out) {
            std::fprintf(stderr, "tarnwick-station: cannot write the summary %s\n", m_options.summaryPath.c_str());
        }
    }
    if (m_dashboard) {
        m_dashboard->Finish(StationStateJson(m_ports, m_facts, seconds, true)
                                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                            DASHBOARD_LINGER_S);
    }
    return StationExitCode(m_ports);
}

}  // namespace

std::vector<std::string> CollectPorts(const StationOptions& options,
                                      const std::vector<SerialPortListSp::SerialPortEntry>& known, std::string& err)
{
    std::vector<std::string> ports = options.ports;
    if (!options.portsFile.empty()) {
        const std::vector<std::string> listed = ReadPortsFile(ReadText(options.portsFile));
        ports.insert(ports.end(), listed.begin(), listed.end());
    }
    if (!options.portsGlob.empty()) {
        const std::vector<std::string> matched = Child::ExpandGlob(options.portsGlob);
        if (matched.empty()) {
            err += "tarnwick-station: no port matches " + options.portsGlob + "\n";
        }
        ports.insert(ports.end(), matched.begin(), matched.end());
    }
    for (const std::string& text : options.portsUsb) {
        const std::optional<UsbSelector> selector = ParseUsbSelector(text);
        const std::vector<SerialPortListSp::SerialPortEntry> matched =
            selector ? SelectUsbPorts({*selector}, known) : std::vector<SerialPortListSp::SerialPortEntry>();
        if (matched.empty()) {
            err += "tarnwick-station: no adapter matches --ports-usb " + text + "\n";
        }
        for (const SerialPortListSp::SerialPortEntry& port : matched) {
            ports.push_back(port.path);
        }
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

std::string MalformedPortNames(const std::vector<std::string>& ports)
{
    std::string err;
    for (const std::string& port : ports) {
        const PortName name = ParsePortName(port);
        if (!name.WellFormed()) {
            err += "tarnwick-station: " + MalformedPortNameMessage(name) + "\n";
        }
    }
    return err;
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

RunFacts GatherRunFacts(const StationOptions& options)
{
    RunFacts facts;
    facts.operation = options.operation;
    const std::vector<std::string>& args = options.toolArgs;
    // As the tool reads them: a later option overrides an earlier one.
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-n" || args[i] == "--name") {
            facts.chipName = args[i + 1];
        } else if (args[i] == "-f" || args[i] == "--file") {
            facts.packagePath = args[i + 1];
        }
    }
    if (!facts.packagePath.empty()) {
        std::error_code error;
        const fs::path absolute = fs::absolute(facts.packagePath, error);
        facts.packagePath = error ? facts.packagePath : absolute.lexically_normal().string();
        facts.packageSha256 = Sha256Hex(facts.packagePath);
    }
    facts.options = options.commandLine;
    facts.startedUtc = UtcNow();
    facts.host = Child::HostName();
    facts.version = STATION_VERSION;
    facts.maxAttempts = 1 + options.retries;
    facts.repeat = options.repeat;
    return facts;
}

int RunStation(const StationOptions& options)
{
    std::vector<SerialPortListSp::SerialPortEntry> known = SerialPortListSp::ListSerialPorts();
    std::string err;
    const std::vector<std::string> ports = CollectPorts(options, known, err);
    std::fputs(err.c_str(), stderr);
    if (ports.empty()) {
        if (err.empty()) {
            std::fputs("tarnwick-station: no ports to serve\n", stderr);
        }
        return USAGE_ERROR;
    }
    // Every board of such a port would fail alike, and with --repeat again and again.
    const std::string malformed = MalformedPortNames(ports);
    if (!malformed.empty()) {
        std::fprintf(stderr, "%starnwick-station: no board was started\n", malformed.c_str());
        return USAGE_ERROR;
    }
    std::vector<std::string> serials;
    for (const std::string& port : ports) {
        serials.push_back(AdapterSerialOf(port, known));
    }
    StationRun run(options, GatherRunFacts(options));
    return run.Run(ports, serials);
}

}  // namespace Station
