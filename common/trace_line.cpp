#include "common/trace_line.h"

#include <cstdarg>
#include <string>

#include "common/console_output.h"
#include "common/text_format.h"

namespace Common {

void PrintTraceLine(RunEvents& events, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    Print(events, text);
}

void PrintTraceLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    ConsoleOutput::Write(text);
}

}  // namespace Common
