#include "common/console_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "common/text_format.h"
#include "platform/deadline_timer.h"
#include "platform/hot_path.h"
#include "platform/monotonic_clock.h"

namespace ConsoleOutput {

namespace {

// A writer that finds its held text this old writes it out itself, so a
// steady stream of marks never needs the helper: the helper's deadline keeps
// moving ahead of it, and moving it does not wake the helper.
constexpr uint32_t WRITER_WRITES_AFTER_MS = MAX_HOLD_MS * 3 / 4;

struct Console {
    std::mutex lock;
    std::string held;
    int64_t heldSinceMs = 0;
    // Armed for heldSinceMs + MAX_HOLD_MS whenever text is held.
    Platform::DeadlineTimer deadline;
    std::thread helper;
    bool stopping = false;
    uint64_t writes = 0;
};

// Never destroyed: the exit handler and late writers may still use it.
HOT_PATH Console& State()
{
    static Console* console = new Console;
    return *console;
}

void WriteOutLocked(Console& console)
{
    if (console.held.empty()) {
        return;
    }
    std::fwrite(console.held.data(), 1, console.held.size(), stdout);
    std::fflush(stdout);
    console.held.clear();
    ++console.writes;
}

uint32_t MsSince(int64_t thenMs, int64_t nowMs)
{
    return static_cast<uint32_t>(nowMs - thenMs);
}

// Writes held text by the time it is MAX_HOLD_MS old, however long the
// program is busy elsewhere (a transfer in progress prints its marks without
// line ends, and may then wait long for the board).
void HelperLoop()
{
    Console& console = State();
    for (;;) {
        console.deadline.Wait();
        std::lock_guard<std::mutex> guard(console.lock);
        if (console.stopping) {
            return;
        }
        if (console.held.empty()) {
            continue;  // written by a line end in the meantime
        }
        const uint32_t age = MsSince(console.heldSinceMs, Platform::MonotonicMs());
        if (age >= MAX_HOLD_MS) {
            WriteOutLocked(console);
        } else {
            console.deadline.ArmIn(MAX_HOLD_MS - age);
        }
    }
}

void StopAtExit()
{
    Console& console = State();
    {
        std::lock_guard<std::mutex> guard(console.lock);
        console.stopping = true;
        console.deadline.ArmIn(0);
    }
    if (console.helper.joinable()) {
        console.helper.join();
    }
    std::lock_guard<std::mutex> guard(console.lock);
    WriteOutLocked(console);
}

// Under the lock: the first held text starts the helper.
void StartHelperLocked(Console& console)
{
    if (console.helper.joinable() || console.stopping) {
        return;
    }
    console.helper = std::thread(HelperLoop);
    std::atexit(StopAtExit);
}

// Under the lock: text without a line end starts to wait, and the deadline
// of whatever is held moves to its own.
void HoldLocked(Console& console, std::string_view text, int64_t nowMs)
{
    console.held.assign(text.data(), text.size());
    console.heldSinceMs = nowMs;
    console.deadline.ArmIn(MAX_HOLD_MS);
    StartHelperLocked(console);
}

}  // namespace

HOT_PATH void Write(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    Console& console = State();
    std::lock_guard<std::mutex> guard(console.lock);
    // A search of our own, not the C library's: one page less for every mark.
    const bool lineEnds = std::find(text.begin(), text.end(), '\n') != text.end();
    if (lineEnds || console.stopping || !console.deadline.Valid()) {
        console.held.append(text.data(), text.size());
        WriteOutLocked(console);
        return;
    }
    if (console.held.empty()) {
        HoldLocked(console, text, Platform::MonotonicMs());
        return;
    }
    const int64_t nowMs = Platform::MonotonicMs();
    if (MsSince(console.heldSinceMs, nowMs) < WRITER_WRITES_AFTER_MS) {
        console.held.append(text.data(), text.size());
        return;
    }
    WriteOutLocked(console);
    HoldLocked(console, text, nowMs);
}

void Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = Common::FormatTextV(format, args);
    va_end(args);
    Write(text);
}

void Flush()
{
    Console& console = State();
    std::lock_guard<std::mutex> guard(console.lock);
    WriteOutLocked(console);
}

uint64_t WriteCount()
{
    Console& console = State();
    std::lock_guard<std::mutex> guard(console.lock);
    return console.writes;
}

}  // namespace ConsoleOutput
