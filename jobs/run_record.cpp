#include "jobs/run_record.h"

namespace Jobs {

namespace {

constexpr const char* CANCEL_TEXT = "User Cancelled!";

}  // namespace

void RunRecord::OnEvent(const JobEvent& event, double nowSeconds)
{
    switch (event.kind) {
    case JobEvent::Kind::IMAGE_STARTED: {
        // The same image started again right after it failed is a second
        // attempt, not a second image.
        const bool retry = !m_images.empty() && m_images.back().name == event.text &&
                           m_images.back().address == event.address && m_images.back().result == "failed";
        if (!retry) {
            ImageRecord image;
            image.name = event.text;
            image.type = event.imageType;
            image.address = event.address;
            image.fileType = event.fileType;
            image.bytes = event.bytes;
            m_images.push_back(image);
        }
        ++m_images.back().attempts;
        m_images.back().result = "unfinished";
        m_attemptStart = nowSeconds;
        m_open = true;
        break;
    }
    case JobEvent::Kind::IMAGE_ENDED:
        if (m_open) {
            // Seconds of the last attempt: the rate is that of a transfer that ran.
            m_images.back().seconds = nowSeconds - m_attemptStart;
            m_images.back().result = event.ok ? "ok" : "failed";
            m_open = false;
        }
        break;
    case JobEvent::Kind::ERROR:
        // After a cancel, every later failure is only its consequence.
        if (m_lastError.find(CANCEL_TEXT) == std::string::npos) {
            m_lastError = event.text;
        }
        break;
    case JobEvent::Kind::WAITING_FOR_BOARD:
    case JobEvent::Kind::IMAGE_PROGRESS:
        break;
    }
}

}  // namespace Jobs
