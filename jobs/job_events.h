// What a burn job tells whoever drives it, as it happens: the wait for the
// board, each image attempted with its progress and outcome, and the error
// that ended the run. The front end turns them into the run report and into
// event lines for a program that drives many boards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace Jobs {

struct JobEvent {
    enum class Kind { WAITING_FOR_BOARD, IMAGE_STARTED, IMAGE_PROGRESS, IMAGE_ENDED, ERROR };
    Kind kind = Kind::ERROR;
    std::string text;        // IMAGE_STARTED: image name; ERROR: the message
    uint32_t imageType = 0;  // IMAGE_STARTED
    uint32_t address = 0;    // IMAGE_STARTED
    int fileType = -1;       // IMAGE_STARTED: the serial protocol's file type, -1 when the image has none
    uint64_t bytes = 0;      // IMAGE_STARTED
    int percent = 0;         // IMAGE_PROGRESS
    bool ok = false;         // IMAGE_ENDED
};

using JobEventSink = std::function<void(const JobEvent&)>;

}  // namespace Jobs
