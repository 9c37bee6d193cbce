// One board served by one tarnwickcmd (one attempt): what its event lines say
// about it as it runs, and how it ended. A port of the fixture serves board
// after board (--repeat) and may try a board several times (--retries); what
// stays of them is the port's counts and its last board.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/child_processes.h"
#include "common/event_line.h"

namespace Station {

// The stage a board shows while the tool waits for its handshake.
constexpr const char* WAITING_STAGE = "waiting for a board";

// The stage a board enters with this event of the tool, empty for an event
// within a stage.
std::string StageOf(const EventLine::Event& event);

struct BoardRun {
    std::string port;
    std::string adapterSerial;  // of the port's USB adapter, when it has one
    int round = 1;              // the how-many-th board on this port (--repeat)
    int attempt = 1;            // the how-many-th run of the tool on this board (--retries)
    std::string logPath;
    std::string reportPath;
    std::string startedUtc;
    Platform::ChildProcesses::ProcessId pid = -1;
    int eventsFd = -1;
    std::string pendingLine;  // the part of an event line still to come

    std::string stage = "starting";
    std::string image;  // the image being burned, empty before the first
    int percent = 0;
    uint64_t imageBytes = 0;
    uint64_t doneBytes = 0;  // of the images that ended
    double firstImageAt = -1.0;
    double startedAt = 0.0;  // seconds since the station started
    double endedAt = 0.0;
    bool sawWaiting = false;

    double deadline = 0.0;  // the board time-out; then SIGTERM
    double killAt = -1.0;   // after SIGTERM: when SIGKILL follows
    bool timedOut = false;
    bool interrupted = false;  // the station passed a Ctrl-C on to it

    bool ended = false;
    int exitCode = -1;
    double cpuSeconds = 0.0;  // of the tool run
    nlohmann::json report;    // the board's -report, null when it wrote none
    std::string reason;
    // Images the board took whole but never confirmed: the board succeeds
    // with a warning. From the event lines, then from the report when it has one.
    std::vector<std::string> unconfirmed;

    // Takes one event line of the tool; a short text for the plain view,
    // empty for an event not worth a line.
    std::string OnEventLine(const std::string& line, double now);
    std::string Apply(const EventLine::Event& event, double now);
    double BytesPerSecond(double now) const;
    double Elapsed(double now) const { return (ended ? endedAt : now) - startedAt; }
    // After the child ended: exit code and report decide result and reason;
    // a board the station ended at its time-out keeps that as its reason.
    void Finish(int code, nlohmann::json boardReport, double now, double boardTimeout = 0.0);
    bool Succeeded() const { return ended && exitCode == 0; }
    // "image NAME unconfirmed" (or "images A, B unconfirmed"), empty without any.
    std::string Warning() const;
    bool Cancelled() const;
    // "ok", "failed" or "cancelled" (the tool stopped at a Ctrl-C).
    std::string Result() const;
    // The tool waited for a board and none answered: an empty socket of the
    // fixture, not a board (as opposed to a port that failed to open, a board
    // that broke off, or a run the station ended).
    bool NoBoardCame() const;
    nlohmann::json AttemptJson() const;
};

// What a port does after one attempt ended.
enum class NextStep {
    SAME_BOARD_AGAIN,  // a round with no board (--repeat): not counted, wait again
    RETRY,             // the board failed and has attempts left (--retries)
    BOARD_DONE,        // the board counts with this attempt's result
};
NextStep AfterAttempt(const BoardRun& attempt, int maxAttempts, bool repeat, bool cancelling);

// One port of the fixture and the boards it served.
struct ServedPort {
    enum class Phase { QUEUED, RUNNING, PAUSED, DONE };

    std::string port;
    std::string adapterSerial;
    Phase phase = Phase::QUEUED;
    double resumeAt = 0.0;  // PAUSED: when the port is queued again
    std::string pauseNote;  // PAUSED: what the operator sees meanwhile
    int round = 0;          // the board being served, from 1
    bool boardStarted = false;  // round is open: its first attempt has started
    std::vector<BoardRun> attempts;   // of the board being served; the last may run
    std::vector<BoardRun> lastBoard;  // every attempt of the last board that counted
    int served = 0;
    int succeeded = 0;
    int failed = 0;
    int warned = 0;       // boards that succeeded with a warning
    int emptyRounds = 0;  // rounds with no board (--repeat), not counted

    BoardRun* Running();
    const BoardRun* Current() const;  // the running attempt, else the latest one
    bool LastSucceeded() const { return !lastBoard.empty() && lastBoard.back().Succeeded(); }
    // Counts the board whose attempts are in `attempts` and keeps it as the last one.
    void CountBoard();
};

}  // namespace Station
