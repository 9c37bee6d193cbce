// The events a job hands down to its chip object. Each goes on to every
// receiver the job was given, the console first; the job sees the progress
// on its way, to turn it into its overall figure.
#pragma once

#include <functional>
#include <vector>

#include "common/run_events.h"
#include "jobs/console_events.h"

namespace Jobs {

class JobEvents : public Common::RunEvents {
public:
    using ProgressHook = std::function<void(int percent)>;

    explicit JobEvents(ProgressHook onProgress);
    JobEvents(const JobEvents&) = delete;
    JobEvents& operator=(const JobEvents&) = delete;

    // Receives every event after the console; it must outlive the job's run.
    void AddReceiver(Common::RunEvents* receiver);

    void Message(std::string_view text, std::string_view detail) override;
    void Stage(Common::RunStage stage) override;
    void ImageStarted(const Common::ImageStart& image) override;
    void Progress(int percent) override;
    void ImageEnded(Common::ImageResult result, const Common::Outcome& outcome) override;
    void CheckStarted(const Common::ImageStart& image) override;
    void ImageChecked(const Common::ImageCheck& check) override;
    void LineRateChanged(uint32_t rate) override;
    void BoardText(std::string_view text) override;

private:
    ConsoleEvents m_console;
    std::vector<Common::RunEvents*> m_receivers;
    ProgressHook m_onProgress;
};

}  // namespace Jobs
