#include "station/board_run.h"

#include <algorithm>
#include <cstdio>

#include "common/event_line.h"

namespace Station {

namespace {

constexpr uint32_t LOADER_IMAGE_TYPE = 0;
constexpr int FULL_PERCENT = 100;
constexpr const char* UNCONFIRMED = "unconfirmed";

// Exit codes above this are 128 + the signal that ended the tool.
constexpr int SIGNAL_EXIT_BASE = 128;
constexpr int SIGKILL_NUMBER = 9;
// The tool's exit code when the port could not be opened: a fault of the
// station's side (adapter, cable, rights), never an empty socket.
constexpr int OPEN_PORT_EXIT = 3;

std::string SecondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// The report's word on which images went unconfirmed, when it has a list.
bool UnconfirmedInReport(const nlohmann::json& report, std::vector<std::string>& names)
{
    if (!report.is_object() || !report.contains("images") || !report["images"].is_array()) {
        return false;
    }
    names.clear();
    for (const nlohmann::json& image : report["images"]) {
        if (!image.is_object()) {
            continue;
        }
        // An image that ended well without the board's word on it; one that
        // failed or never ended is the board's failure, not a warning.
        const nlohmann::json result = image.value("result", nlohmann::json());
        const nlohmann::json confirmed = image.value("confirmed", nlohmann::json());
        if (result == UNCONFIRMED || (result == "ok" && confirmed == false)) {
            names.push_back(image.value("name", nlohmann::json()).is_string() ? image["name"].get<std::string>() : "");
        }
    }
    return true;
}

}  // namespace

std::string StageOf(const EventLine::Event& event)
{
    using Kind = EventLine::Event::Kind;
    switch (event.kind) {
    case Kind::WAITING: return WAITING_STAGE;
    case Kind::IMAGE_STARTED: return event.type == LOADER_IMAGE_TYPE ? "loader " + event.name : event.name;
    case Kind::CHECK_STARTED: return "check " + event.name;  // the burn check reads the image back
    default: return "";
    }
}

std::string BoardRun::OnEventLine(const std::string& line, double now)
{
    EventLine::Event event;
    return EventLine::Parse(line, event) ? Apply(event, now) : "";
}

std::string BoardRun::Apply(const EventLine::Event& event, double now)
{
    using Kind = EventLine::Event::Kind;
    const std::string entered = StageOf(event);
    if (!entered.empty()) {
        stage = entered;
    }
    switch (event.kind) {
    case Kind::WAITING:
        sawWaiting = true;
        return stage;
    case Kind::IMAGE_STARTED:
        image = event.name;
        imageBytes = event.bytes;
        percent = 0;
        if (firstImageAt < 0.0) {
            firstImageAt = now;
        }
        return stage + " started";
    case Kind::PROGRESS:
        percent = std::clamp(event.percent, 0, FULL_PERCENT);
        return "";
    case Kind::IMAGE_ENDED:
        if (!event.ok) {
            return stage + " failed";
        }
        doneBytes += imageBytes;
        percent = FULL_PERCENT;
        if (event.result == UNCONFIRMED) {
            unconfirmed.push_back(image);
            return stage + " done, " + UNCONFIRMED;
        }
        return stage + " done";
    case Kind::CHECK_STARTED:
        imageBytes = event.bytes;
        percent = 0;
        return stage + " started";
    case Kind::CHECK_ENDED:
        // The bytes read back crossed the line as the burned ones did.
        if (event.check == Common::CheckResult::PASSED || event.check == Common::CheckResult::FAILED) {
            doneBytes += imageBytes;
            percent = FULL_PERCENT;
        }
        imageBytes = 0;
        return "check " + event.name + " " + Common::CheckResultName(event.check);
    case Kind::ERROR:
        // The tool's own messages mostly say "error:" already.
        return event.text.rfind("error:", 0) == 0 ? event.text : "error: " + event.text;
    case Kind::UNKNOWN:
        break;
    }
    return entered;
}

double BoardRun::BytesPerSecond(double now) const
{
    const double seconds = (ended ? endedAt : now) - firstImageAt;
    if (firstImageAt < 0.0 || seconds <= 0.0) {
        return 0.0;
    }
    const uint64_t inFlight = ended ? 0 : imageBytes * static_cast<uint64_t>(percent) / FULL_PERCENT;
    return static_cast<double>(doneBytes + inFlight) / seconds;
}

void BoardRun::Finish(int code, nlohmann::json boardReport, double now, double boardTimeout)
{
    ended = true;
    exitCode = code;
    endedAt = now;
    report = std::move(boardReport);
    UnconfirmedInReport(report, unconfirmed);
    if (timedOut) {
        const bool killed = code == SIGNAL_EXIT_BASE + SIGKILL_NUMBER;
        reason = "no end within the board time-out of " + SecondsText(boardTimeout) + " s; ended by " +
                 (killed ? "SIGKILL" : "SIGTERM");
        return;
    }
    if (code == 0) {
        reason = "";
        return;
    }
    const std::string lastError = report.is_object() && report.value("lastError", nlohmann::json()).is_string()
                                      ? report["lastError"].get<std::string>()
                                      : "";
    if (!lastError.empty()) {
        reason = lastError;
    } else if (code > SIGNAL_EXIT_BASE) {
        reason = "ended by signal " + std::to_string(code - SIGNAL_EXIT_BASE);
    } else {
        reason = "exit code " + std::to_string(code);
    }
}

std::string BoardRun::Warning() const
{
    if (unconfirmed.empty()) {
        return "";
    }
    std::string names;
    for (const std::string& name : unconfirmed) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return (unconfirmed.size() == 1 ? "image " : "images ") + names + " " + UNCONFIRMED;
}

bool BoardRun::Cancelled() const
{
    const bool reportSays = report.is_object() && report.value("cancelled", nlohmann::json()).is_boolean() &&
                            report["cancelled"].get<bool>();
    return ended && !Succeeded() && !timedOut && (interrupted || reportSays);
}

std::string BoardRun::Result() const
{
    if (Succeeded()) {
        return "ok";
    }
    return Cancelled() ? "cancelled" : "failed";
}

bool BoardRun::NoBoardCame() const
{
    if (!ended || Succeeded() || timedOut || firstImageAt >= 0.0 || exitCode == OPEN_PORT_EXIT) {
        return false;
    }
    // A Ctrl-C passed on before any image touched a board: whether the tool
    // was still starting (even before its own handler, so ended by the
    // signal) or already waiting, no board was there to count.
    const bool cancelledBeforeABoard = interrupted && exitCode >= 0;
    if (!cancelledBeforeABoard && (!sawWaiting || exitCode < 0 || exitCode > SIGNAL_EXIT_BASE)) {
        return false;
    }
    const nlohmann::json images = report.is_object() ? report.value("images", nlohmann::json::array()) : nlohmann::json();
    return !images.is_array() || images.empty();
}

nlohmann::json BoardRun::AttemptJson() const
{
    return {{"attempt", attempt},
            {"result", Result()},
            {"exitCode", exitCode},
            {"reason", reason},
            {"warning", Warning()},
            {"unconfirmedImages", unconfirmed},
            {"startedUtc", startedUtc},
            {"startSeconds", startedAt},
            {"endSeconds", endedAt},
            {"seconds", endedAt - startedAt},
            {"cpuSeconds", cpuSeconds},
            {"log", logPath},
            {"report", report}};
}

NextStep AfterAttempt(const BoardRun& attempt, int maxAttempts, bool repeat, bool cancelling)
{
    if (attempt.Succeeded()) {
        return NextStep::BOARD_DONE;
    }
    if (repeat && attempt.NoBoardCame()) {
        // A board that failed and is gone by its retry is done; a socket that
        // stayed empty is waited on again.
        return attempt.attempt == 1 ? NextStep::SAME_BOARD_AGAIN : NextStep::BOARD_DONE;
    }
    if (!cancelling && !attempt.Cancelled() && attempt.attempt < maxAttempts) {
        return NextStep::RETRY;
    }
    return NextStep::BOARD_DONE;
}

BoardRun* ServedPort::Running()
{
    return phase == Phase::RUNNING && !attempts.empty() ? &attempts.back() : nullptr;
}

const BoardRun* ServedPort::Current() const
{
    if (!attempts.empty()) {
        return &attempts.back();
    }
    return lastBoard.empty() ? nullptr : &lastBoard.back();
}

void ServedPort::CountBoard()
{
    if (attempts.empty()) {
        return;
    }
    ++served;
    if (attempts.back().Succeeded()) {
        ++succeeded;
        warned += attempts.back().Warning().empty() ? 0 : 1;
    } else {
        ++failed;
    }
    lastBoard = std::move(attempts);
    attempts.clear();
    boardStarted = false;
}

}  // namespace Station
