// The console funnel's cancel query and progress marks. Messages reach the
// console through the funnel on every run of the tool (e2e).
#include "common/console.h"
#include "support/print_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using TestSupport::PrintCapture;

class ConsoleFunnel : public ::testing::Test {
protected:
    void TearDown() override { g_isCancelled = nullptr; }
    PrintCapture m_recording;
};

} // namespace

TEST_F(ConsoleFunnel, CancelledAsksEveryTimeAndReportsEveryCancel)
{
    EXPECT_FALSE(Common::Cancelled()) << "no query registered";
    static int answer = 0;
    g_isCancelled = [] { return answer; };
    EXPECT_FALSE(Common::Cancelled());
    answer = 1;
    EXPECT_TRUE(Common::Cancelled());
    EXPECT_TRUE(Common::Cancelled());
    answer = 0;
    EXPECT_FALSE(Common::Cancelled());
    EXPECT_EQ(PrintCapture::Text(), "user cancelled!\nuser cancelled!\n");
}

TEST_F(ConsoleFunnel, ProgressMarksEveryStepUnitsAndBreaksAfterEvery100Marks)
{
    const struct {
        uint32_t step;
        int calls;
        uint32_t counter;
        std::string marks;
        uint32_t counterAfter;
    } cases[] = {
        {1, 250, 0, std::string(100, '#') + "\n" + std::string(100, '#') + "\n" + std::string(50, '#'), 250},
        {3, 302, 0, std::string(100, '#') + "\n", 302}, // marks at 3, 6, ..., 300
        {0, 1, 7, "", 7},
        // 100 * step exceeds 32 bits: the mark is due, the break is not.
        {0x80000000u, 1, 0x7FFFFFFFu, "#", 0x80000000u},
    };
    for (const auto& c : cases) {
        PrintCapture::Clear();
        uint32_t counter = c.counter;
        for (int i = 0; i < c.calls; ++i) {
            Common::PrintProgress(counter, c.step);
        }
        EXPECT_EQ(PrintCapture::Text(), c.marks) << "step " << c.step;
        EXPECT_EQ(counter, c.counterAfter) << "step " << c.step;
    }
}
