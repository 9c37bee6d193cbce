// Watches one run of an operation: takes the job's events into the run record
// and the event lines, and writes the run report when the run ends, whatever
// the outcome.
#pragma once

#include <fstream>
#include <string>

#include "jobs/burner_worker_base.h"
#include "jobs/run_record.h"

namespace FrontEnd {

class RunObserver {
public:
    // Paths from "-report:" and "-events:"; empty ones are not written.
    RunObserver(std::string reportPath, const std::string& eventsPath);
    ~RunObserver();
    RunObserver(const RunObserver&) = delete;
    RunObserver& operator=(const RunObserver&) = delete;

    // Ends the run: job is null when the settings could not be built.
    void Finish(const BurnerWorkerBase* job, const std::string& operation, int result);

private:
    void OnEvent(const Jobs::JobEvent& event);
    double Elapsed() const;

    std::string m_reportPath;
    std::ofstream m_events;
    Jobs::RunRecord m_record;
    std::string m_startTime;
    int64_t m_startUs = 0;
};

}  // namespace FrontEnd
