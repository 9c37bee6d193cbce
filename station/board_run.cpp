#include "station/board_run.h"

#include <cstdio>

namespace Station {

namespace {

constexpr uint32_t LOADER_IMAGE_TYPE = 0;

// Exit codes above this are 128 + the signal that ended the tool.
constexpr int SIGNAL_EXIT_BASE = 128;

}  // namespace

std::string BoardRun::OnEventLine(const std::string& line, double now)
{
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (!event.is_object()) {
        return "";
    }
    const std::string kind = event.value("event", "");
    if (kind == "waiting") {
        stage = "waiting for the board";
        return stage;
    }
    if (kind == "imageStarted") {
        const std::string name = event.value("name", "");
        stage = event.value("type", 1u) == LOADER_IMAGE_TYPE ? "loader " + name : name;
        imageBytes = event.value("bytes", uint64_t{0});
        percent = 0;
        if (firstImageAt < 0.0) {
            firstImageAt = now;
        }
        return stage + " started";
    }
    if (kind == "progress") {
        percent = event.value("percent", 0);
        return "";
    }
    if (kind == "imageEnded") {
        const bool ok = event.value("ok", false);
        if (ok) {
            doneBytes += imageBytes;
            percent = 100;
        }
        return stage + (ok ? " done" : " failed");
    }
    if (kind == "error") {
        return "error: " + event.value("text", "");
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
