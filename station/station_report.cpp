#include "station/station_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace Station {

namespace {

constexpr const char* STATE_QUEUED = "queued";
constexpr const char* STATE_WAITING = "waiting";
constexpr const char* STATE_RUNNING = "running";
constexpr const char* STATE_PAUSED = "paused";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// The stage shown for a port, whatever it is doing.
std::string ShownStage(const ServedPort& port)
{
    switch (port.phase) {
    case ServedPort::Phase::QUEUED: return STATE_QUEUED;
    case ServedPort::Phase::PAUSED: return port.pauseNote;
    case ServedPort::Phase::RUNNING: return port.attempts.back().stage;
    case ServedPort::Phase::DONE: break;
    }
    if (port.lastBoard.empty()) {
        return "not served";
    }
    return port.LastSucceeded() ? "done" : "FAILED";
}

std::string PortState(const ServedPort& port)
{
    switch (port.phase) {
    case ServedPort::Phase::QUEUED: return STATE_QUEUED;
    case ServedPort::Phase::PAUSED: return STATE_PAUSED;
    case ServedPort::Phase::RUNNING: {
        const BoardRun& run = port.attempts.back();
        return run.sawWaiting && run.firstImageAt < 0.0 ? STATE_WAITING : STATE_RUNNING;
    }
    case ServedPort::Phase::DONE: break;
    }
    return port.lastBoard.empty() ? "idle" : port.lastBoard.back().Result();
}

nlohmann::json BoardJson(const std::vector<BoardRun>& attempts, const std::string& adapterSerial)
{
    const BoardRun& last = attempts.back();
    nlohmann::json list = nlohmann::json::array();
    for (const BoardRun& attempt : attempts) {
        list.push_back(attempt.AttemptJson());
    }
    return {{"port", last.port},
            {"adapterSerial", adapterSerial},
            {"round", last.round},
            {"result", last.Succeeded() ? "ok" : "failed"},
            {"cancelled", last.Cancelled()},
            {"exitCode", last.exitCode},
            {"startSeconds", attempts.front().startedAt},
            {"endSeconds", last.endedAt},
            {"seconds", last.endedAt - last.startedAt},
            {"reason", last.reason},
            {"warning", last.Succeeded() ? last.Warning() : ""},
            {"unconfirmedImages", last.unconfirmed},
            {"cpuSeconds", last.cpuSeconds},
            {"log", last.logPath},
            {"attempts", list},
            {"report", last.report}};
}

std::string TableRow(const std::string& name, const BoardRun& attempt)
{
    const std::string warning = attempt.Warning();
    std::string reason;
    if (!attempt.Succeeded()) {
        reason = attempt.reason + " (log " + attempt.logPath + ")";
    } else if (!warning.empty()) {
        reason = "warning: " + warning + " (log " + attempt.logPath + ")";
    }
    return Format("%-24s %-7s %8.1f  %s\n", name.c_str(), attempt.Succeeded() ? "ok" : "FAILED",
                  attempt.endedAt - attempt.startedAt, reason.c_str());
}

// What follows the count of boards that succeeded, when some had a warning.
std::string WarnedText(int warned)
{
    if (warned == 0) {
        return "";
    }
    return Format(" (%d with %s)", warned, warned == 1 ? "a warning" : "warnings");
}

}  // namespace

std::string LiveLine(const ServedPort& port, const RunFacts& facts, double now)
{
    const BoardRun* run = port.Current();
    const bool live = port.phase == ServedPort::Phase::RUNNING;
    std::string line = Format("%-24.24s %-32.32s %3d%% %9.0f B/s %7.1f s", port.port.c_str(),
                              ShownStage(port).c_str(), run != nullptr ? run->percent : 0,
                              run != nullptr ? run->BytesPerSecond(now) : 0.0, run != nullptr ? run->Elapsed(now) : 0.0);
    if (facts.maxAttempts > 1 && run != nullptr && (live || run->attempt > 1)) {
        line += Format("  attempt %d/%d", run->attempt, facts.maxAttempts);
    }
    if (facts.repeat) {
        line += Format("  boards %d ok %d failed %d", port.served, port.succeeded, port.failed);
    }
    if (!port.adapterSerial.empty()) {
        line += "  [" + port.adapterSerial + "]";
    }
    if (run != nullptr && (!run->ended || run->Succeeded()) && !run->Warning().empty()) {
        line += "  warning: " + run->Warning();
    }
    return line;
}

nlohmann::json PortStateJson(const ServedPort& port, const RunFacts& facts, double now)
{
    const BoardRun* run = port.Current();
    const bool done = port.phase == ServedPort::Phase::DONE;
    nlohmann::json tile = {{"port", port.port},
                           {"adapterSerial", port.adapterSerial},
                           {"state", PortState(port)},
                           {"stage", ShownStage(port)},
                           {"image", run != nullptr ? run->image : ""},
                           {"percent", run != nullptr ? run->percent : 0},
                           {"bytesPerSecond", run != nullptr ? run->BytesPerSecond(now) : 0.0},
                           {"elapsedSeconds", run != nullptr ? run->Elapsed(now) : 0.0},
                           {"attempt", run != nullptr ? run->attempt : 0},
                           {"maxAttempts", facts.maxAttempts},
                           {"round", port.round},
                           {"boards", port.served},
                           {"succeeded", port.succeeded},
                           {"failed", port.failed},
                           {"emptyRounds", port.emptyRounds}};
    // The board's result once it is decided; meanwhile the last board's.
    tile["result"] = done && !port.lastBoard.empty() ? port.lastBoard.back().Result() : "";
    tile["lastResult"] = port.lastBoard.empty() ? "" : port.lastBoard.back().Result();
    const BoardRun* ended = nullptr;
    for (const std::vector<BoardRun>* list : {&port.lastBoard, &port.attempts}) {
        for (const BoardRun& attempt : *list) {
            if (attempt.ended) {
                ended = &attempt;
            }
        }
    }
    tile["reason"] = ended != nullptr ? ended->reason : "";
    // A board that succeeded, or is still running, with images it never confirmed.
    tile["warning"] = run != nullptr && (!run->ended || run->Succeeded()) ? run->Warning() : "";
    return tile;
}

nlohmann::json StationStateJson(const std::vector<ServedPort>& ports, const RunFacts& facts, double now, bool finished)
{
    nlohmann::json tiles = nlohmann::json::array();
    int running = 0;
    int succeeded = 0;
    int warned = 0;
    int failed = 0;
    int boards = 0;
    for (const ServedPort& port : ports) {
        tiles.push_back(PortStateJson(port, facts, now));
        running += port.phase == ServedPort::Phase::RUNNING ? 1 : 0;
        succeeded += port.succeeded;
        warned += port.warned;
        failed += port.failed;
        boards += port.served;
    }
    const size_t slash = facts.packagePath.find_last_of('/');
    return {{"station",
             {{"version", facts.version},
              {"host", facts.host},
              {"operation", facts.operation},
              {"chipName", facts.chipName},
              {"package", slash == std::string::npos ? facts.packagePath : facts.packagePath.substr(slash + 1)},
              {"packagePath", facts.packagePath},
              {"packageSha256", facts.packageSha256},
              {"startedUtc", facts.startedUtc},
              {"seconds", now},
              {"repeat", facts.repeat},
              {"finished", finished}}},
            {"totals",
             {{"running", running},
              {"succeeded", succeeded},
              {"warned", warned},
              {"failed", failed},
              {"boards", boards}}},
            {"boards", tiles}};
}

int StationExitCode(const std::vector<ServedPort>& ports)
{
    long failed = 0;
    for (const ServedPort& port : ports) {
        failed += port.failed;
    }
    return static_cast<int>(std::min<long>(failed, MAX_FAILED_EXIT));
}

nlohmann::json SummaryJson(const std::vector<ServedPort>& ports, const RunFacts& facts, double seconds)
{
    nlohmann::json list = nlohmann::json::array();
    nlohmann::json perPort = nlohmann::json::object();
    int boards = 0;
    int succeeded = 0;
    int warned = 0;
    int emptyRounds = 0;
    for (const ServedPort& port : ports) {
        if (!port.lastBoard.empty()) {
            list.push_back(BoardJson(port.lastBoard, port.adapterSerial));
        }
        perPort[port.port] = {{"boards", port.served},
                              {"succeeded", port.succeeded},
                              {"warned", port.warned},
                              {"failed", port.failed},
                              {"emptyRounds", port.emptyRounds},
                              {"adapterSerial", port.adapterSerial}};
        boards += port.served;
        succeeded += port.succeeded;
        warned += port.warned;
        emptyRounds += port.emptyRounds;
    }
    return {{"station",
             {{"version", facts.version},
              {"operation", facts.operation},
              {"chipName", facts.chipName},
              {"package", facts.packagePath},
              {"packageSha256", facts.packageSha256},
              {"startedUtc", facts.startedUtc}}},
            {"boards", list},
            {"ports", perPort},
            {"totals",
             {{"boards", boards},
              {"succeeded", succeeded},
              {"warned", warned},
              {"failed", boards - succeeded},
              {"emptyRounds", emptyRounds},
              {"seconds", seconds}}}};
}

std::string SummaryTable(const std::vector<ServedPort>& ports, const RunFacts& facts)
{
    std::string out = Format("%-24s %-7s %8s  %s\n", "port", "result", "seconds", "reason");
    int boards = 0;
    int failed = 0;
    int warned = 0;
    int emptyRounds = 0;
    for (const ServedPort& port : ports) {
        boards += port.served;
        failed += port.failed;
        warned += port.warned;
        emptyRounds += port.emptyRounds;
        if (port.lastBoard.empty()) {
            continue;
        }
        // The board's result first, then the attempts before its last one.
        const BoardRun& last = port.lastBoard.back();
        out += TableRow(port.port, last);
        for (size_t i = 0; i + 1 < port.lastBoard.size(); ++i) {
            out += TableRow(Format("  attempt %d", port.lastBoard[i].attempt), port.lastBoard[i]);
        }
        if (facts.repeat) {
            out += Format("  %d boards, %d ok, %d failed%s\n", port.served, port.succeeded, port.failed,
                          WarnedText(port.warned).c_str());
        }
    }
    if (emptyRounds > 0) {
        out += Format("%d rounds with no board, not counted\n", emptyRounds);
    }
    return out + Format("%d boards, %d succeeded%s, %d failed\n", boards, boards - failed, WarnedText(warned).c_str(),
                        failed);
}

}  // namespace Station
