#include "common/console_output.h"

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "common/text_format.h"

namespace ConsoleOutput {

namespace {

using Clock = std::chrono::steady_clock;

struct Console {
    std::mutex lock;
    std::condition_variable wake;
    std::string held;
    Clock::time_point heldSince;
    std::thread helper;
    // After writing, the helper looks again once MAX_HOLD_MS is over, without
    // being told that text came: a stream of marks costs it one wake-up per
    // write and the writer no hand-off at all. A write of anyone else's ends
    // this, and the next text wakes the helper.
    bool watching = false;
    Clock::time_point watchUntil;
    bool stopping = false;
    uint64_t writes = 0;
};

// Never destroyed: the exit handler and late writers may still use it.
Console& State()
{
    static Console* console = new Console;
    return *console;
}

void WriteOutLocked(Console& console)
{
    console.watching = false;
    if (console.held.empty()) {
        return;
    }
    std::fwrite(console.held.data(), 1, console.held.size(), stdout);
    std::fflush(stdout);
    console.held.clear();
    ++console.writes;
}

// Writes held text by the time it is MAX_HOLD_MS old, however long the
// program is busy elsewhere (a transfer in progress prints its marks without
// line ends).
void HelperLoop()
{
    Console& console = State();
    const auto hold = std::chrono::milliseconds(MAX_HOLD_MS);
    std::unique_lock<std::mutex> guard(console.lock);
    while (!console.stopping) {
        if (console.watching) {
            const Clock::time_point now = Clock::now();
            if (now < console.watchUntil) {
                console.wake.wait_until(guard, console.watchUntil);
            } else if (console.held.empty()) {
                console.watching = false;
            } else {
                // Everything held came after the last write, so none of it is older than MAX_HOLD_MS.
                WriteOutLocked(console);
                console.watching = true;
                console.watchUntil = now + hold;
            }
        } else if (console.held.empty()) {
            console.wake.wait(guard);
        } else {
            console.watching = true;
            console.watchUntil = console.heldSince + hold;
        }
    }
}

void StopAtExit()
{
    Console& console = State();
    {
        std::lock_guard<std::mutex> guard(console.lock);
        console.stopping = true;
    }
    console.wake.notify_all();
    if (console.helper.joinable()) {
        console.helper.join();
    }
    std::lock_guard<std::mutex> guard(console.lock);
    WriteOutLocked(console);
}

// Under the lock: the first deferred text starts the helper.
void StartHelperLocked(Console& console)
{
    if (console.helper.joinable() || console.stopping) {
        return;
    }
    console.helper = std::thread(HelperLoop);
    std::atexit(StopAtExit);
}

}  // namespace

void Write(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    Console& console = State();
    std::lock_guard<std::mutex> guard(console.lock);
    const bool wasEmpty = console.held.empty();
    console.held.append(text.data(), text.size());
    if (text.find('\n') != std::string_view::npos || console.stopping) {
        WriteOutLocked(console);
        return;
    }
    if (wasEmpty && !console.watching) {
        console.heldSince = Clock::now();
        StartHelperLocked(console);
        console.wake.notify_one();
    }
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
