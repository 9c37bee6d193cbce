#include "common/console_output.h"

#include <algorithm>
#include <array>
#include <atomic>
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
// Far more than the marks of 100 ms on the fastest line; longer text goes out
// in pieces of this size.
constexpr size_t HELD_CAPACITY = 4096;

// Guards the held text, and nothing else: only memory is touched under it,
// never a system call or a write to the screen, so a waiter spins a moment at
// most. A mark then calls nothing in the C library; a mutex's code and thread
// state would be four more pages that every frame of a transfer touches.
class HeldLock {
public:
    HOT_PATH void lock()
    {
        while (m_taken.exchange(true, std::memory_order_acquire)) {
            std::this_thread::yield();
        }
    }
    HOT_PATH void unlock() { m_taken.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_taken{false};
};

struct Console {
    // Under heldLock: the text not yet written and when its first character
    // came. The array last, so that a mark touches one cache line of the
    // console, not a line at each end of the array.
    HeldLock heldLock;
    size_t heldSize = 0;
    int64_t heldSinceMs = 0;
    bool stopping = false;
    std::array<char, HELD_CAPACITY> held{};
    // Taken for each write to the screen, so that writes keep the order in
    // which their text was taken from the held text.
    std::mutex screenLock;
    uint64_t writes = 0;
    // Armed for heldSinceMs + MAX_HOLD_MS whenever text starts to be held.
    Platform::DeadlineTimer deadline;
    std::once_flag helperStarted;
    std::thread helper;
};

// Never destroyed: the exit handler and late writers may still use it.
HOT_PATH Console& State()
{
    static Console* console = new Console;
    return *console;
}

uint32_t MsSince(int64_t thenMs, int64_t nowMs)
{
    return static_cast<uint32_t>(nowMs - thenMs);
}

// Under screenLock: everything held goes to the screen, in the order it came.
void WriteOutLocked(Console& console)
{
    std::array<char, HELD_CAPACITY> text;
    size_t size = 0;
    {
        std::lock_guard<HeldLock> guard(console.heldLock);
        size = console.heldSize;
        std::copy(console.held.begin(), console.held.begin() + static_cast<std::ptrdiff_t>(size), text.begin());
        console.heldSize = 0;
    }
    if (size == 0) {
        return;
    }
    std::fwrite(text.data(), 1, size, stdout);
    std::fflush(stdout);
    ++console.writes;
}

void WriteOut(Console& console)
{
    std::lock_guard<std::mutex> guard(console.screenLock);
    WriteOutLocked(console);
}

// Writes held text by the time it is MAX_HOLD_MS old, however long the
// program is busy elsewhere (a transfer in progress prints its marks without
// line ends, and may then wait long for the board).
void HelperLoop()
{
    Console& console = State();
    for (;;) {
        console.deadline.Wait();
        std::lock_guard<std::mutex> guard(console.screenLock);
        uint32_t age = 0;
        {
            std::lock_guard<HeldLock> held(console.heldLock);
            if (console.stopping) {
                return;
            }
            if (console.heldSize == 0) {
                continue;  // written by a line end in the meantime
            }
            age = MsSince(console.heldSinceMs, Platform::MonotonicMs());
        }
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
        std::lock_guard<HeldLock> guard(console.heldLock);
        console.stopping = true;
    }
    console.deadline.ArmIn(0);
    if (console.helper.joinable()) {
        console.helper.join();
    }
    WriteOut(console);
}

void StartHelper(Console& console)
{
    std::call_once(console.helperStarted, [&console] {
        console.helper = std::thread(HelperLoop);
        std::atexit(StopAtExit);
    });
}

// What a writer must do once its text is held.
enum class Then { NOTHING, START_HOLDING, WRITE_OUT };

// Under heldLock: as much of `text` as fits is held; `taken` says how much.
HOT_PATH Then HoldLocked(Console& console, std::string_view text, size_t& taken)
{
    const bool wasEmpty = console.heldSize == 0;
    taken = std::min(text.size(), console.held.size() - console.heldSize);
    // One pass of our own that copies and looks for a line end, not the C
    // library's copy and search: one page less for every mark.
    bool lineEnds = false;
    for (size_t i = 0; i < taken; ++i) {
        console.held[console.heldSize + i] = text[i];
        lineEnds = lineEnds || text[i] == '\n';
    }
    console.heldSize += taken;
    if (lineEnds || taken < text.size() || console.stopping || !console.deadline.Valid()) {
        return Then::WRITE_OUT;
    }
    const int64_t nowMs = Platform::MonotonicMs();
    if (wasEmpty) {
        console.heldSinceMs = nowMs;
        return Then::START_HOLDING;
    }
    return MsSince(console.heldSinceMs, nowMs) < WRITER_WRITES_AFTER_MS ? Then::NOTHING : Then::WRITE_OUT;
}

}  // namespace

HOT_PATH void Write(std::string_view text)
{
    Console& console = State();
    while (!text.empty()) {
        size_t taken = 0;
        Then then = Then::NOTHING;
        {
            std::lock_guard<HeldLock> guard(console.heldLock);
            then = HoldLocked(console, text, taken);
        }
        text.remove_prefix(taken);
        if (then == Then::WRITE_OUT) {
            WriteOut(console);
        } else if (then == Then::START_HOLDING) {
            console.deadline.ArmIn(MAX_HOLD_MS);
            StartHelper(console);
        }
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
    WriteOut(State());
}

uint64_t WriteCount()
{
    Console& console = State();
    std::lock_guard<std::mutex> guard(console.screenLock);
    return console.writes;
}

}  // namespace ConsoleOutput
