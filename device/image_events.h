// What a chip object that burns a whole package tells its caller about each
// image: when it starts and how it ended. The caller turns these into its own
// progress and report; the chip object never prints them.
#pragma once

#include <cstdint>
#include <string>

struct ImageEvent {
    enum class Phase { STARTED, ENDED };
    Phase phase = Phase::STARTED;
    std::string name;
    uint32_t type = 0;
    uint32_t address = 0;
    uint64_t bytes = 0;
    bool ok = false;  // ENDED
};

using ImageEventCallback = void (*)(const ImageEvent& event);

// Null: nobody listens.
void RegisterImageEventCallback(ImageEventCallback callback);
void ReportImageEvent(const ImageEvent& event);
