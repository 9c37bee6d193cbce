#include "device/chip_report.h"

#include <cstdarg>

#include "common/text_format.h"

void ChipReport::BeginOperation()
{
    m_failure = Common::Outcome();
    m_image.clear();
}

void ChipReport::Fail(Common::OutcomeKind kind, std::string_view message)
{
    Common::Print(Events(), message);
    Note(kind, message);
}

void ChipReport::FailInfo(Common::OutcomeKind kind, const char* format, ...)
{
    std::string text;
    va_list args;
    va_start(args, format);
    const bool printable = Common::FormatPrintable(text, format, args);
    va_end(args);
    if (!printable) {
        Note(kind, std::string_view());  // too long to print, still a failure
        return;
    }
    Fail(kind, text);
}

void ChipReport::Note(Common::OutcomeKind kind, std::string_view message)
{
    if (m_failure.Ok()) {
        m_failure = Common::Outcome::Failure(kind, std::string(message), m_image);
    } else if (m_failure.message.empty()) {
        // A failure kept without a message of its own takes the first one that explains it.
        m_failure.message = std::string(message);
    }
}
