// What a run tells the world while it runs, as events: the job hands one
// RunEvents to the chip object, which hands it on to its protocols. The
// console is one receiver of them, the run report another. Nothing here is
// process-wide: two runs in one process each have their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/console.h"
#include "common/outcome.h"
#include "common/printf_format.h"

namespace Common {

struct ImageStart {
    std::string name;
    uint32_t type = 0;     // the package's image type
    uint32_t address = 0;  // burn address
    int fileType = -1;     // the serial protocol's file type; -1 when the image has none
    uint64_t bytes = 0;
};

// What the burn check found for one image, named by its name and burn address.
struct ImageCheck {
    std::string name;
    uint32_t address = 0;
    CheckResult result = CheckResult::NOT_CHECKED;
    uint32_t firstDifference = 0;  // FAILED: flash address of the first byte that differs
    uint64_t differingBytes = 0;   // FAILED: how many differ
};

enum class RunStage {
    WAITING_FOR_BOARD,  // the operator has been asked to reset the board
};

class RunEvents {
public:
    virtual ~RunEvents() = default;

    // Text for the person at the console; detail is shown in debug mode only.
    virtual void Message(std::string_view text, std::string_view detail) = 0;
    virtual void Stage(RunStage stage) = 0;
    virtual void ImageStarted(const ImageStart& image) = 0;
    // Percent of the image in transfer.
    virtual void Progress(int percent) = 0;
    virtual void ImageEnded(ImageResult result, const Outcome& outcome) = 0;
    // The burn check reads this image back from the board; Progress follows the read.
    virtual void CheckStarted(const ImageStart& image) = 0;
    virtual void ImageChecked(const ImageCheck& check) = 0;
    // The line now runs at this rate (also when it opens).
    virtual void LineRateChanged(uint32_t rate) = 0;
    // What the board wrote outside its frames, as it is to be shown.
    virtual void BoardText(std::string_view text) = 0;
};

// Events for a caller of the device library that registered callbacks
// instead (RegisterCallback): messages and board text go to the print
// callback, progress to the progress callback, with the chip's handle.
class CallbackEvents : public RunEvents {
public:
    void SetHandle(long long handle) { m_handle = handle; }

    void Message(std::string_view text, std::string_view detail) override;
    void Stage(RunStage) override {}
    void ImageStarted(const ImageStart&) override {}
    void Progress(int percent) override;
    void ImageEnded(ImageResult, const Outcome&) override {}
    void CheckStarted(const ImageStart&) override {}
    void ImageChecked(const ImageCheck&) override {}
    void LineRateChanged(uint32_t) override {}
    void BoardText(std::string_view text) override;

private:
    long long m_handle = 0;
};

// The console funnel's two functions with events in place of the handle.
void Print(RunEvents& events, std::string_view message);
// Formats as PrintInfo does: into 4096 bytes, a text that does not fit is
// dropped; DEBUG_INFO texts are details.
void PrintInfo(RunEvents& events, INFO_TYPE type, const char* format, ...) TARNWICK_PRINTF_FORMAT(3, 4);

}  // namespace Common
