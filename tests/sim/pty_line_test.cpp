// The simulator's paced line, driven through its poll contract with a clock of
// the test's own: what the tool wrote comes in no faster than the line
// carries it, a step at a time rather than a few bytes per wake-up, and the
// last bytes of a burst at their own time rather than at a step's end.
#include "sim/pty_line.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t BAUD = 921600;
constexpr int64_t BYTE_NS = 10000000000 / BAUD;
constexpr int64_t STEP_BYTES = Sim::PtyLine::GRANULE_NS / BYTE_NS;
constexpr int64_t TICK_NS = 10000000;
// What the board does between two waits; on a real machine tens of microseconds.
constexpr int64_t WORK_NS = 20000;
constexpr int64_t START_NS = 1000000000000;

struct Arrival {
    int64_t atNs;
    size_t bytes;
};

class PacedLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        Sim::PtyLine::Settings settings;
        settings.lineBaud = BAUD;
        m_line = std::make_unique<Sim::PtyLine>(settings);
        std::string error;
        ASSERT_TRUE(m_line->Open(error)) << error;
        m_tool = open(m_line->SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(m_tool, 0);
        termios raw{};
        ASSERT_EQ(tcgetattr(m_tool, &raw), 0);
        cfmakeraw(&raw);
        ASSERT_EQ(tcsetattr(m_tool, TCSANOW, &raw), 0);
    }

    void TearDown() override
    {
        if (m_tool >= 0) {
            close(m_tool);
        }
    }

    // Writes a burst as the tool does, and returns once the pty holds all of
    // it, so that the line's own clock alone decides when it comes in.
    void ToolWrites(size_t length)
    {
        const std::vector<uint8_t> burst(length, 0x5A);
        ASSERT_EQ(write(m_tool, burst.data(), length), static_cast<ssize_t>(length));
        for (int i = 0; i < 2000; ++i) {
            int held = 0;
            ASSERT_EQ(ioctl(m_line->Fd(), FIONREAD, &held), 0);
            if (held == static_cast<int>(length)) {
                return;
            }
            const timespec moment{0, 1000000};
            nanosleep(&moment, nullptr);
        }
        FAIL() << "the pty never held the whole burst";
    }

    // The simulator's loop with the test's clock from START: a wait ends when
    // the line asks for bytes (they are there) or when its timeout passes.
    std::vector<Arrival> Serve(size_t expected, int& wakeUps, int64_t start = START_NS)
    {
        std::vector<Arrival> arrivals;
        size_t got = 0;
        int64_t now = start;
        wakeUps = 0;
        while (got < expected && wakeUps < 10000) {
            short revents = 0;
            if ((m_line->PollEvents(now) & POLLIN) != 0) {
                revents = POLLIN;
            } else {
                now += m_line->PollTimeoutNs(now, TICK_NS);
            }
            ++wakeUps;
            const std::vector<uint8_t> in = m_line->Receive(revents, now);
            if (!in.empty()) {
                arrivals.push_back({now, in.size()});
                got += in.size();
            }
            now += WORK_NS;
        }
        return arrivals;
    }

    std::unique_ptr<Sim::PtyLine> m_line;
    int m_tool = -1;
};

TEST_F(PacedLine, AFrameComesInNoFasterThanTheLineInStepsItsLastByteOnTimeAndALaterShortBurstWhole)
{
    constexpr size_t FRAME = 1029;
    ToolWrites(FRAME);
    int wakeUps = 0;
    const std::vector<Arrival> arrivals = Serve(FRAME, wakeUps);

    size_t got = 0;
    for (const Arrival& a : arrivals) {
        got += a.bytes;
        // An idle line is owed one step's time at once; then a byte per byte time.
        const int64_t carried = (a.atNs - START_NS + Sim::PtyLine::GRANULE_NS) / BYTE_NS;
        EXPECT_LE(static_cast<int64_t>(got), carried) << "faster than the line at " << (a.atNs - START_NS) << " ns";
    }
    ASSERT_EQ(got, FRAME);
    const int64_t lastDue = START_NS - Sim::PtyLine::GRANULE_NS + static_cast<int64_t>(FRAME) * BYTE_NS;
    EXPECT_LE(arrivals.back().atNs, lastDue + WORK_NS + BYTE_NS) << "the tail waited for a whole step";
    // A wake-up per step and one for the tail, not one per few bytes.
    const int steps = static_cast<int>((FRAME + STEP_BYTES - 1) / STEP_BYTES);
    EXPECT_LE(wakeUps, steps + 2);
    EXPECT_LE(arrivals.size(), static_cast<size_t>(steps + 1));

    // Idle again, the line is owed a step: a shorter burst comes in whole at once.
    const int64_t later = arrivals.back().atNs + TICK_NS;
    ToolWrites(STEP_BYTES / 2);
    const std::vector<Arrival> whole = Serve(STEP_BYTES / 2, wakeUps, later);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].bytes, static_cast<size_t>(STEP_BYTES / 2));
    EXPECT_EQ(whole[0].atNs, later);
}

}  // namespace
