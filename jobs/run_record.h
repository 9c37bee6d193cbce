// The record of one run built from the job's events: every image attempted
// with its bytes, time, attempts and result, and the last error seen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jobs/job_events.h"

namespace Jobs {

struct ImageRecord {
    std::string name;
    uint32_t type = 0;
    uint32_t address = 0;
    int fileType = -1;
    uint64_t bytes = 0;
    double seconds = 0.0;
    int attempts = 0;
    std::string result = "unfinished";  // "ok", "failed" or "unfinished"

    double BytesPerSecond() const { return seconds > 0.0 ? static_cast<double>(bytes) / seconds : 0.0; }
};

class RunRecord {
public:
    // nowSeconds: a monotonic clock reading taken when the event arrived.
    void OnEvent(const JobEvent& event, double nowSeconds);

    const std::vector<ImageRecord>& Images() const { return m_images; }
    const std::string& LastError() const { return m_lastError; }

private:
    std::vector<ImageRecord> m_images;
    std::string m_lastError;
    double m_attemptStart = 0.0;
    bool m_open = false;  // the last image has started and not ended
};

}  // namespace Jobs
