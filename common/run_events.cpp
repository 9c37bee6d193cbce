#include "common/run_events.h"

#include <cstdarg>
#include <string>

#include "common/text_format.h"
#include "platform/hot_path.h"

namespace Common {

void CallbackEvents::Message(std::string_view text, std::string_view detail)
{
    if (g_printInfo == nullptr) {
        return;
    }
    const std::string message(text);
    const std::string details(detail);
    Common::Print(message.c_str(), details.c_str(), m_handle);
}

void CallbackEvents::Progress(int percent)
{
    if (g_setProgress != nullptr) {
        g_setProgress(m_handle, percent);
    }
}

void CallbackEvents::BoardText(std::string_view text)
{
    Message(text, std::string_view());
}

HOT_PATH void Print(RunEvents& events, std::string_view message)
{
    events.Message(message, std::string_view());
}

void PrintInfo(RunEvents& events, INFO_TYPE type, const char* format, ...)
{
    std::string formatted;
    va_list args;
    va_start(args, format);
    const bool printable = FormatPrintable(formatted, format, args);
    va_end(args);
    if (!printable) {
        return;
    }
    if (type == DEBUG_INFO) {
        events.Message(std::string_view(), formatted);
    } else {
        events.Message(formatted, std::string_view());
    }
}

}  // namespace Common
