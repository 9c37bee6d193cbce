// Watches one run of an operation: takes the job's events into the run record
// and the event lines, and writes the run report when the run ends, whatever
// the outcome.
#pragma once

#include <fstream>
#include <string>

#include "common/event_line.h"
#include "common/run_events.h"
#include "jobs/burner_worker_base.h"
#include "jobs/run_record.h"
#include "platform/hot_path.h"

namespace FrontEnd {

class RunObserver : public Common::RunEvents {
public:
    // Paths from "-report:" and "-events:"; empty ones are not written.
    RunObserver(std::string reportPath, const std::string& eventsPath);
    RunObserver(const RunObserver&) = delete;
    RunObserver& operator=(const RunObserver&) = delete;

    // Ends the run with its outcome: job is null when the settings could not be built.
    void Finish(const BurnerWorkerBase* job, const std::string& operation, const Common::Outcome& outcome);

    HOT_PATH void Message(std::string_view, std::string_view) override {}
    void Stage(Common::RunStage stage) override;
    void ImageStarted(const Common::ImageStart& image) override;
    void Progress(int percent) override;
    void ImageEnded(Common::ImageResult result, const Common::Outcome& outcome) override;
    void CheckStarted(const Common::ImageStart& image) override;
    void ImageChecked(const Common::ImageCheck& check) override;
    void LineRateChanged(uint32_t rate) override;
    void BoardText(std::string_view) override {}

private:
    void WriteEvent(const EventLine::Event& event);
    double Elapsed() const;

    std::string m_reportPath;
    std::ofstream m_events;
    Jobs::RunRecord m_record;
    std::string m_startTime;
    int64_t m_startUs = 0;
};

}  // namespace FrontEnd
