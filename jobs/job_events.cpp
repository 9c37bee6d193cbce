#include "jobs/job_events.h"

#include <utility>

#include "platform/hot_path.h"

namespace Jobs {

JobEvents::JobEvents(ProgressHook onProgress) : m_receivers{&m_console}, m_onProgress(std::move(onProgress)) {}

void JobEvents::AddReceiver(Common::RunEvents* receiver)
{
    if (receiver != nullptr) {
        m_receivers.push_back(receiver);
    }
}

HOT_PATH void JobEvents::Message(std::string_view text, std::string_view detail)
{
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->Message(text, detail);
    }
}

void JobEvents::Stage(Common::RunStage stage)
{
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->Stage(stage);
    }
}

void JobEvents::ImageStarted(const Common::ImageStart& image)
{
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->ImageStarted(image);
    }
}

// The job's own figure comes first, so its "Progress:" line stands before
// whatever the protocol prints after reporting the percentage.
void JobEvents::Progress(int percent)
{
    if (m_onProgress) {
        m_onProgress(percent);
    }
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->Progress(percent);
    }
}

void JobEvents::ImageEnded(Common::ImageResult result, const Common::Outcome& outcome)
{
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->ImageEnded(result, outcome);
    }
}

void JobEvents::CheckStarted(const Common::ImageStart& image)
{
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->CheckStarted(image);
    }
}

void JobEvents::ImageChecked(const Common::ImageCheck& check)
{
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->ImageChecked(check);
    }
}

void JobEvents::LineRateChanged(uint32_t rate)
{
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->LineRateChanged(rate);
    }
}

void JobEvents::BoardText(std::string_view text)
{
    for (Common::RunEvents* receiver : m_receivers) {
        receiver->BoardText(text);
    }
}

}  // namespace Jobs
