#include "jobs/console_events.h"

#include "common/console_output.h"
#include "platform/hot_path.h"
#include "settings/burn_context.h"

namespace Jobs {

HOT_PATH void ConsoleEvents::Message(std::string_view text, std::string_view detail)
{
    ConsoleOutput::Write(text);
    if (BurnInfo::BurnContext::IsOpenDebug()) {
        ConsoleOutput::Write(detail);
    }
}

void ConsoleEvents::Stage(Common::RunStage stage)
{
    if (stage == Common::RunStage::WAITING_FOR_BOARD) {
        ConsoleOutput::Flush();
    }
}

void ConsoleEvents::BoardText(std::string_view text)
{
    ConsoleOutput::Write(text);
}

}  // namespace Jobs
