#include "common/console.h"

#include "common/text_format.h"
#include "platform/hot_path.h"

#include <cstdarg>

PrintInfoCallback g_printInfo = nullptr;
SetProgressCallback g_setProgress = nullptr;
IsCancelledCallback g_isCancelled = nullptr;

namespace Common {

namespace {

const char* OrEmpty(const char* text)
{
    return text != nullptr ? text : "";
}
} // namespace

void Print(const char* message, const char* detail, long long handle, const char* tag)
{
    PrintInfoCallback callback = g_printInfo;
    if (callback == nullptr) {
        return;
    }
    callback(handle, OrEmpty(tag), OrEmpty(message), OrEmpty(detail), 0);
}

void PrintInfo(long long handle, INFO_TYPE type, const char* format, ...)
{
    PrintInfoCallback callback = g_printInfo;
    if (callback == nullptr) {
        return;
    }
    std::string text;
    va_list args;
    va_start(args, format);
    const bool printable = FormatPrintable(text, format, args);
    va_end(args);
    if (!printable) {
        return;
    }
    if (type == DEBUG_INFO) {
        callback(handle, "", "", text.c_str(), 0);
    } else {
        callback(handle, "", text.c_str(), "", 0);
    }
}

HOT_PATH bool Cancelled()
{
    IsCancelledCallback query = g_isCancelled;
    if (query != nullptr && query() != 0) {
        Print("user cancelled!\n");
        return true;
    }
    return false;
}

void PrintSendRecv(int kind, const uint8_t* bytes, uint32_t length)
{
    (void)kind;
    (void)bytes;
    (void)length;
}

} // namespace Common
