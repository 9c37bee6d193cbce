// The console as a receiver of a run's events: messages and board text go to
// standard output (details only in debug mode), and the wait for the board
// begins with everything printed so far on the screen.
#pragma once

#include "common/run_events.h"

namespace Jobs {

class ConsoleEvents : public Common::RunEvents {
public:
    void Message(std::string_view text, std::string_view detail) override;
    void Stage(Common::RunStage stage) override;
    void ImageStarted(const Common::ImageStart&) override {}
    void Progress(int) override {}
    void ImageEnded(Common::ImageResult, const Common::Outcome&) override {}
    void CheckStarted(const Common::ImageStart&) override {}
    void ImageChecked(const Common::ImageCheck&) override {}
    void LineRateChanged(uint32_t) override {}
    void BoardText(std::string_view text) override;
};

}  // namespace Jobs
