// The console funnel: messages, details, the cancel query and progress marks
// reach the registered callbacks, and nothing at all without them.
#include "common/console.h"
#include "support/print_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TestSupport::PrintCapture;

constexpr auto Prints = &PrintCapture::Calls;

class ConsoleFunnel : public ::testing::Test {
protected:
    void TearDown() override { g_isCancelled = nullptr; }
    PrintCapture m_recording;
};

} // namespace

TEST_F(ConsoleFunnel, PrintAndPrintInfoHandOverEverythingUpTo4095CharactersAndNothingWithoutCallback)
{
    Common::Print("msg\n", "more", 0x1234, "TAG");
    Common::Print(nullptr, nullptr, 0, nullptr);
    Common::PrintInfo(43, Common::DEBUG_INFO, "trace %02x\n", 0xAB);
    const std::string fits(4095, 'f');
    const std::string tooLong(4096, 'x');
    Common::PrintInfo(42, Common::NORMAL_INFO, "%s", fits.c_str());
    Common::PrintInfo(0, Common::NORMAL_INFO, "%s", tooLong.c_str());
    Common::PrintInfo(0, Common::DEBUG_INFO, "%s", tooLong.c_str());
    ASSERT_EQ(Prints().size(), 4u);
    EXPECT_EQ(Prints()[0].handle, 0x1234);
    EXPECT_EQ(Prints()[0].tag + "|" + Prints()[0].message + "|" + Prints()[0].detail, "TAG|msg\n|more");
    EXPECT_EQ(Prints()[0].type, 0);
    EXPECT_EQ(Prints()[1].message + Prints()[1].detail + Prints()[1].tag, "");
    EXPECT_EQ(Prints()[2].handle, 43);
    EXPECT_EQ(Prints()[2].message + "|" + Prints()[2].detail, "|trace ab\n"); // debug goes to the detail
    EXPECT_EQ(Prints()[3].handle, 42);
    EXPECT_EQ(Prints()[2].type, 0);
    EXPECT_EQ(Prints()[3].message, fits);
    EXPECT_EQ(Prints()[3].detail + Prints()[3].tag, "");

    g_printInfo = nullptr;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Common::Print("hello\n", "detail", 1, "tag");
    Common::PrintInfo(1, Common::NORMAL_INFO, "value %d\n", 5);
    uint32_t counter = 0;
    Common::PrintProgress(counter, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(counter, 1u);
}

TEST_F(ConsoleFunnel, CancelledAsksEveryTimeAndReportsEveryCancel)
{
    EXPECT_FALSE(Common::Cancelled()) << "no query registered";
    static int answer = 0;
    static int queries = 0;
    g_isCancelled = [] {
        ++queries;
        return answer;
    };
    EXPECT_FALSE(Common::Cancelled());
    answer = 1;
    EXPECT_TRUE(Common::Cancelled());
    EXPECT_TRUE(Common::Cancelled());
    answer = 0;
    EXPECT_FALSE(Common::Cancelled());
    EXPECT_EQ(queries, 4);
    ASSERT_EQ(Prints().size(), 2u);
    EXPECT_EQ(Prints()[0].message + Prints()[1].message, "user cancelled!\nuser cancelled!\n");
    EXPECT_EQ(Prints()[0].handle, 0);
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
        Prints().clear();
        uint32_t counter = c.counter;
        for (int i = 0; i < c.calls; ++i) {
            Common::PrintProgress(counter, c.step);
        }
        EXPECT_EQ(PrintCapture::Text(), c.marks) << "step " << c.step;
        EXPECT_EQ(counter, c.counterAfter) << "step " << c.step;
    }
}
