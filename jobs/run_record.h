// The record of one run built from the job's events: every image attempted
// with its bytes, time, attempts, result and burn check, and the rates the
// line ran at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/run_events.h"

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
    bool confirmed = false;             // the board confirmed the last attempt
    Common::CheckResult check = Common::CheckResult::NOT_CHECKED;
    uint32_t firstDifference = 0;  // check FAILED: flash address of the first differing byte
    uint64_t differingBytes = 0;   // check FAILED
    double checkSeconds = 0.0;     // the read-back, when there was one

    double BytesPerSecond() const { return seconds > 0.0 ? static_cast<double>(bytes) / seconds : 0.0; }
};

class RunRecord {
public:
    // nowSeconds: a monotonic clock reading taken when the event arrived.
    void ImageStarted(const Common::ImageStart& image, double nowSeconds);
    void ImageEnded(Common::ImageResult result, double nowSeconds);
    void CheckStarted(const Common::ImageStart& image, double nowSeconds);
    void ImageChecked(const Common::ImageCheck& check, double nowSeconds);
    void LineRateChanged(uint32_t rate);

    const std::vector<ImageRecord>& Images() const { return m_images; }
    // Every rate the line ran at, in the order they were first used.
    const std::vector<uint32_t>& LineRates() const { return m_lineRates; }

private:
    // The last record of the image of this name and address; null for none.
    ImageRecord* Find(const std::string& name, uint32_t address);

    std::vector<ImageRecord> m_images;
    std::vector<uint32_t> m_lineRates;
    double m_attemptStart = 0.0;
    bool m_open = false;  // the last image has started and not ended
    double m_checkStart = 0.0;
};

}  // namespace Jobs
