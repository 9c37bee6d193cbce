// What one event line of tarnwickcmd ("-events:") says. The station reads
// the line format here and nowhere else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Station {

struct ToolEvent {
    enum class Kind { WAITING_FOR_BOARD, IMAGE_STARTED, IMAGE_PROGRESS, IMAGE_ENDED, ERROR };
    Kind kind = Kind::ERROR;
    std::string text;        // IMAGE_STARTED: image name; ERROR: the message
    uint32_t imageType = 0;  // IMAGE_STARTED
    uint64_t bytes = 0;      // IMAGE_STARTED
    int percent = 0;         // IMAGE_PROGRESS
    bool ok = false;         // IMAGE_ENDED
};

// Nothing for a line that is not an event (or an event the station ignores).
std::optional<ToolEvent> ParseToolEventLine(const std::string& line);

}  // namespace Station
