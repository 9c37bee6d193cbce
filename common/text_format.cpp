#include "common/text_format.h"

#include <cstdio>

#include "common/secure_functions.h"

namespace Common {

std::string FormatTextV(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text;
    if (length > 0) {
        text.assign(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        text.pop_back();
    }
    va_end(again);
    return text;
}

bool FormatPrintable(std::string& text, const char* format, va_list args)
{
    constexpr size_t PRINT_BUFFER_SIZE = 4096;
    char buffer[PRINT_BUFFER_SIZE] = {};
    const int result = vsprintf_s(buffer, sizeof(buffer), format, args);
    if (result < 0) {
        return false;
    }
    text.assign(buffer, static_cast<size_t>(result));
    return true;
}

}  // namespace Common
