// Lines the tool prints that read like debugging output ("[DEBUG PARSE] ...",
// "[DEBUG] GetReboot() = 0", "BurnOtherFile1.", "DownloadFile2.",
// "GetReboot1.") are part of its output: scripts that drive it wait for them
// and count them. They are printed here, and only here, so that nobody takes
// them for leftovers and removes them.
#pragma once

#include "common/printf_format.h"
#include "common/run_events.h"

namespace Common {

// Through the run's events, as every other message of the run.
void PrintTraceLine(RunEvents& events, const char* format, ...) TARNWICK_PRINTF_FORMAT(2, 3);
// Straight to the console, before a run has events (the option pass).
void PrintTraceLine(const char* format, ...) TARNWICK_PRINTF_FORMAT(1, 2);

}  // namespace Common
