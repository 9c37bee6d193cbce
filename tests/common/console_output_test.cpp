// Standard output held until its line ends: a progress mark costs no write of
// its own, a line end writes everything at once, and held text goes out on
// its own once it has waited its time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/console_output.h"

namespace {

using Clock = std::chrono::steady_clock;

// Generous: the helper writes held text after MAX_HOLD_MS; a loaded machine may be slow.
constexpr auto WRITTEN_WITHIN = std::chrono::seconds(5);

bool WrittenBy(uint64_t count, Clock::time_point deadline)
{
    while (ConsoleOutput::WriteCount() <= count && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ConsoleOutput::WriteCount() > count;
}

class ConsoleOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ConsoleOutput::Flush();
        testing::internal::CaptureStdout();
    }
    std::string Captured()
    {
        ConsoleOutput::Flush();
        return testing::internal::GetCapturedStdout();
    }
};

}  // namespace

// What is held after the line end goes out with one flush; an empty flush writes nothing.
TEST_F(ConsoleOutputTest, MarksWaitForTheirLineEndWhichWritesEverythingAtOnceAndFlushWritesWhatIsLeft)
{
    const uint64_t before = ConsoleOutput::WriteCount();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 50; ++i) {
        ConsoleOutput::Write("#");
    }
    const bool inTime = Clock::now() - start < std::chrono::milliseconds(ConsoleOutput::MAX_HOLD_MS);
    if (inTime) {
        EXPECT_EQ(ConsoleOutput::WriteCount(), before) << "a mark went out on its own";
    }
    ConsoleOutput::Write(" ---- 10%\n");
    if (inTime) {
        EXPECT_EQ(ConsoleOutput::WriteCount(), before + 1) << "fifty marks and their line end are one write";
    }
    ConsoleOutput::Printf("Burn %s", "app.bin");
    const uint64_t held = ConsoleOutput::WriteCount();
    ConsoleOutput::Flush();
    ConsoleOutput::Flush();
    EXPECT_EQ(ConsoleOutput::WriteCount(), held + 1);
    EXPECT_EQ(Captured(), std::string(50, '#') + " ---- 10%\nBurn app.bin");
}

TEST_F(ConsoleOutputTest, AStreamOfMarksGoesOutInBatchesWithoutALineEnd)
{
    // Marks 20 ms apart for 400 ms: the helper writes them a few at a time,
    // never one write per mark, and none is left behind.
    constexpr int MARKS = 20;
    const uint64_t before = ConsoleOutput::WriteCount();
    for (int i = 0; i < MARKS; ++i) {
        ConsoleOutput::Write("#");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(WrittenBy(before, Clock::now() + WRITTEN_WITHIN)) << "no mark reached the screen";
    EXPECT_LT(ConsoleOutput::WriteCount() - before, static_cast<uint64_t>(MARKS / 2)) << "marks went out one by one";
    // A last mark after the stream is written once old without another print: the helper is not spent.
    ConsoleOutput::Flush();
    const uint64_t again = ConsoleOutput::WriteCount();
    ConsoleOutput::Write("#");
    EXPECT_TRUE(WrittenBy(again, Clock::now() + WRITTEN_WITHIN)) << "the last mark never reached the screen";
    EXPECT_EQ(Captured(), std::string(MARKS + 1, '#'));
}

// Writers on several threads (two jobs in one process): every text arrives
// whole and in its writer's order, whatever the others print meanwhile.
TEST_F(ConsoleOutputTest, TextsOfSeveralThreadsArriveWholeAndInEachThreadsOrder)
{
    constexpr int THREADS = 4;
    constexpr int LINES = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < THREADS; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < LINES; ++i) {
                ConsoleOutput::Write("#");
                ConsoleOutput::Printf("<%d:%d>\n", t, i);
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    const std::string out = Captured();
    std::vector<int> next(THREADS, 0);
    size_t marks = 0;
    for (size_t at = 0; at < out.size();) {
        if (out[at] == '#') {
            ++marks;
            ++at;
            continue;
        }
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(out.c_str() + at, "<%d:%d>\n", &t, &i), 2) << out.substr(at, 20);
        ASSERT_TRUE(t >= 0 && t < THREADS);
        EXPECT_EQ(i, next[t]++) << "thread " << t;
        const size_t lineEnd = out.find('\n', at);
        ASSERT_NE(lineEnd, std::string::npos) << "a line without its end: " << out.substr(at);
        at = lineEnd + 1;
    }
    EXPECT_EQ(marks, static_cast<size_t>(THREADS * LINES));
    EXPECT_EQ(next, std::vector<int>(THREADS, LINES));
}

// Text longer than what the console holds at once goes out whole, in order.
TEST_F(ConsoleOutputTest, ALongTextWithoutLineEndGoesOutWholeAfterWhatWasHeld)
{
    std::string longText;
    for (int i = 0; longText.size() < 20000; ++i) {
        longText += std::to_string(i) + ",";
    }
    ConsoleOutput::Write("##");
    ConsoleOutput::Write(longText);
    ConsoleOutput::Write("#\n");
    EXPECT_EQ(Captured(), "##" + longText + "#\n");
}
