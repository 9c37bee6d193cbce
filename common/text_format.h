// printf-style formatting: into a text of any length, and under the console
// funnel's 4096-byte rule.
#pragma once

#include <cstdarg>
#include <string>

#include "common/printf_format.h"

namespace Common {

std::string FormatTextV(const char* format, va_list args);

// The console funnel's rule: a printed text of more than 4095 characters, or
// one that cannot be formatted, is dropped whole, never cut. False then.
bool FormatPrintable(std::string& text, const char* format, va_list args);

}  // namespace Common
