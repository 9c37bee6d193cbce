// Standard output of the programs, buffered so that printing costs nothing on
// the line: a progress mark is kept until its line ends, and every line is
// written as soon as it ends. Text that waits for its line end is written
// by the time it is 100 ms old, so a person watching sees the marks as they
// come; Flush writes everything now (before a wait for the board, at exit). The
// first deferred text starts a helper thread that keeps that promise, and
// everything still held is written when the process exits normally.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/printf_format.h"

namespace ConsoleOutput {

// Text that waits for its line end is written by the time it is this old.
inline constexpr uint32_t MAX_HOLD_MS = 100;

void Write(std::string_view text);
void Printf(const char* format, ...) TARNWICK_PRINTF_FORMAT(1, 2);
void Flush();

// How many times text went to standard output, for tests and benchmarks.
uint64_t WriteCount();

}  // namespace ConsoleOutput
