#include "jobs/run_record.h"

#include <algorithm>

namespace Jobs {

void RunRecord::ImageStarted(const Common::ImageStart& image, double nowSeconds)
{
    // The same image started again right after it failed is a second
    // attempt, not a second image.
    const bool retry = !m_images.empty() && m_images.back().name == image.name &&
                       m_images.back().address == image.address && m_images.back().result == "failed";
    if (!retry) {
        ImageRecord record;
        record.name = image.name;
        record.type = image.type;
        record.address = image.address;
        record.fileType = image.fileType;
        record.bytes = image.bytes;
        m_images.push_back(record);
    }
    ++m_images.back().attempts;
    m_images.back().result = "unfinished";
    m_attemptStart = nowSeconds;
    m_open = true;
}

void RunRecord::ImageEnded(Common::ImageResult result, double nowSeconds)
{
    if (!m_open) {
        return;
    }
    // Seconds of the last attempt: the rate is that of a transfer that ran.
    ImageRecord& image = m_images.back();
    image.seconds = nowSeconds - m_attemptStart;
    image.result = result == Common::ImageResult::FAILED ? "failed" : "ok";
    image.confirmed = result == Common::ImageResult::CONFIRMED;
    m_open = false;
}

ImageRecord* RunRecord::Find(const std::string& name, uint32_t address)
{
    for (auto image = m_images.rbegin(); image != m_images.rend(); ++image) {
        if (image->name == name && image->address == address) {
            return &*image;
        }
    }
    return nullptr;
}

void RunRecord::CheckStarted(const Common::ImageStart& /*image*/, double nowSeconds)
{
    m_checkStart = nowSeconds;
}

void RunRecord::ImageChecked(const Common::ImageCheck& check, double nowSeconds)
{
    ImageRecord* image = Find(check.name, check.address);
    if (image == nullptr) {
        return;
    }
    image->check = check.result;
    image->firstDifference = check.firstDifference;
    image->differingBytes = check.differingBytes;
    if (check.result != Common::CheckResult::BOARD_DIGEST) {
        image->checkSeconds = nowSeconds - m_checkStart;
    }
}

void RunRecord::LineRateChanged(uint32_t rate)
{
    if (std::find(m_lineRates.begin(), m_lineRates.end(), rate) == m_lineRates.end()) {
        m_lineRates.push_back(rate);
    }
}

}  // namespace Jobs
