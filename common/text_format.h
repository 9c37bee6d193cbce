// printf-style formatting into a text of any length, for messages that are
// printed whole (the console funnel's 4096-byte rule is PrintInfo's own).
#pragma once

#include <cstdarg>
#include <string>

#include "common/printf_format.h"

namespace Common {

std::string FormatText(const char* format, ...) TARNWICK_PRINTF_FORMAT(1, 2);
std::string FormatTextV(const char* format, va_list args);

}  // namespace Common
