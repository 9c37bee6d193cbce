#ifndef TARNWICK_COMMON_CONSOLE_H
#define TARNWICK_COMMON_CONSOLE_H

// The single path by which device-side code prints, reports progress and asks
// whether to stop. The callbacks are set once by RegisterCallback before any
// operation starts; until then printing is silent.

#include <cstdint>
#include "common/printf_format.h"

using PrintInfoCallback = void (*)(long long handle, const char* tag, const char* message,
                                   const char* detail, int type);
using SetProgressCallback = void (*)(long long handle, int percent);
using IsCancelledCallback = int (*)();

extern PrintInfoCallback g_printInfo;
extern SetProgressCallback g_setProgress;
extern IsCancelledCallback g_isCancelled;

namespace Common {

// Kind of a formatted message: DEBUG_INFO texts are details, shown in debug mode only.
enum INFO_TYPE : int {
    NORMAL_INFO = 0,
    DEBUG_INFO = 1,
};

// Hands (handle, tag, message, detail, 0) to the print callback, if any.
// Null texts are passed on as empty texts.
void Print(const char* message, const char* detail = "", long long handle = 0, const char* tag = "");

// Formats into a 4096-byte buffer and prints it as a message (or as a detail
// for DEBUG_INFO). A text that does not fit is dropped, not cut.
void PrintInfo(long long handle, INFO_TYPE type, const char* format, ...)
    TARNWICK_PRINTF_FORMAT(3, 4);

// Asks the cancel query; a cancel prints "user cancelled!\n" and gives true.
bool Cancelled();

// Frame trace hook; deliberately silent.
void PrintSendRecv(int kind, const uint8_t* bytes, uint32_t length);

} // namespace Common

#endif
