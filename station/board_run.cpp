#include "station/board_run.h"

#include <cstdio>

#include "common/event_line.h"

namespace Station {

namespace {

constexpr uint32_t LOADER_IMAGE_TYPE = 0;

// Exit codes above this are 128 + the signal that ended the tool.
constexpr int SIGNAL_EXIT_BASE = 128;

}  // namespace

std::string BoardRun::OnEventLine(const std::string& line, double now)
{
    EventLine::Event event;
    if (!EventLine::Parse(line, event)) {
        return "";
    }
    using Kind = EventLine::Event::Kind;
    const Kind kind = event.kind;
    if (kind == Kind::WAITING) {
        stage = "waiting for the board";
        return stage;
    }
    if (kind == Kind::IMAGE_STARTED) {
        const std::string name = event.name;
        stage = event.type == LOADER_IMAGE_TYPE ? "loader " + name : name;
        imageBytes = event.bytes;
        percent = 0;
        if (firstImageAt < 0.0) {
            firstImageAt = now;
        }
        return stage + " started";
    }
    if (kind == Kind::PROGRESS) {
        percent = event.percent;
        return "";
    }
    if (kind == Kind::IMAGE_ENDED) {
        const bool ok = event.ok;
        if (ok) {
            doneBytes += imageBytes;
            percent = 100;
        }
        return stage + (ok ? " done" : " failed");
    }
    if (kind == Kind::CHECK_STARTED) {
        stage = "check " + event.name;
        imageBytes = event.bytes;
        percent = 0;
        return stage + " started";
    }
    if (kind == Kind::CHECK_ENDED) {
        // The bytes read back crossed the line as the burned ones did.
        if (event.check == Common::CheckResult::PASSED || event.check == Common::CheckResult::FAILED) {
            doneBytes += imageBytes;
            percent = 100;
        }
        imageBytes = 0;
        return "check " + event.name + " " + Common::CheckResultName(event.check);
    }
    if (kind == Kind::ERROR) {
        return "error: " + event.text;
    }
    return "";
}

double BoardRun::BytesPerSecond(double now) const
{
    const double seconds = (ended ? endedAt : now) - firstImageAt;
    if (firstImageAt < 0.0 || seconds <= 0.0) {
        return 0.0;
    }
    const uint64_t inFlight = ended ? 0 : imageBytes * static_cast<uint64_t>(percent) / 100;
    return static_cast<double>(doneBytes + inFlight) / seconds;
}

std::string BoardRun::LiveLine(double now) const
{
    const double elapsed = (ended ? endedAt : now) - startedAt;
    const std::string shownStage = ended ? (Succeeded() ? "done" : "FAILED") : stage;
    char text[256];
    std::snprintf(text, sizeof text, "%-24.24s %-32.32s %3d%% %9.0f B/s %7.1f s", port.c_str(), shownStage.c_str(),
                  percent, BytesPerSecond(now), elapsed);
    return text;
}

void BoardRun::Finish(int code, nlohmann::json boardReport, double now)
{
    ended = true;
    exitCode = code;
    endedAt = now;
    report = std::move(boardReport);
    if (code == 0) {
        reason = "";
        return;
    }
    const std::string lastError = report.is_object() ? report.value("lastError", "") : "";
    if (!lastError.empty()) {
        reason = lastError;
    } else if (code > SIGNAL_EXIT_BASE) {
        reason = "ended by signal " + std::to_string(code - SIGNAL_EXIT_BASE);
    } else {
        reason = "exit code " + std::to_string(code);
    }
}

bool BoardRun::NoBoardCame() const
{
    return ended && exitCode != 0 && report.is_object() && report.value("images", nlohmann::json::array()).empty() &&
           !report.value("cancelled", false);
}

}  // namespace Station
