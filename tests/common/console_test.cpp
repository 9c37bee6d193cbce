// The console funnel: messages, details, the cancel query and progress marks
// reach the registered callbacks, and nothing at all without them.
#include "common/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct PrintCall {
    long long handle;
    std::string tag;
    std::string message;
    std::string detail;
    int type;
};

std::vector<PrintCall> g_calls;
int g_cancelAnswer = 0;
int g_cancelQueries = 0;

void Capture(long long handle, const char* tag, const char* message, const char* detail, int type)
{
    g_calls.push_back({handle, tag, message, detail, type});
}

int CancelQuery()
{
    ++g_cancelQueries;
    return g_cancelAnswer;
}

std::string AllMessages()
{
    std::string text;
    for (const auto& call : g_calls) {
        text += call.message;
    }
    return text;
}

// Every test starts with the print callback registered and no cancel query.
class ConsoleFunnel : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_cancelAnswer = 0;
        g_cancelQueries = 0;
        g_printInfo = Capture;
        g_isCancelled = nullptr;
    }
    void TearDown() override
    {
        g_printInfo = nullptr;
        g_isCancelled = nullptr;
    }
};

} // namespace

TEST_F(ConsoleFunnel, WithoutCallbackNothingIsPrinted)
{
    g_printInfo = nullptr;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Common::Print("hello\n", "detail", 1, "tag");
    Common::PrintInfo(1, Common::NORMAL_INFO, "value %d\n", 5);
    uint32_t counter = 0;
    Common::PrintProgress(counter, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(counter, 1u);
}

TEST_F(ConsoleFunnel, PrintHandsOverEveryArgumentWithNullTextsAsEmpty)
{
    Common::Print("msg\n", "more", 0x1234, "TAG");
    Common::Print(nullptr, nullptr, 0, nullptr);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].handle, 0x1234);
    EXPECT_EQ(g_calls[0].tag, "TAG");
    EXPECT_EQ(g_calls[0].message, "msg\n");
    EXPECT_EQ(g_calls[0].detail, "more");
    EXPECT_EQ(g_calls[0].type, 0);
    EXPECT_EQ(g_calls[1].message + g_calls[1].detail + g_calls[1].tag, "");
}

TEST_F(ConsoleFunnel, PrintInfoNormalIsAMessageDebugADetailAndOver4095CharactersNothing)
{
    Common::PrintInfo(42, Common::NORMAL_INFO, "send %s failed %d\n", "frame", 3);
    Common::PrintInfo(43, Common::DEBUG_INFO, "trace %02x\n", 0xAB);
    const std::string fits(4095, 'f');
    const std::string tooLong(4096, 'x');
    Common::PrintInfo(0, Common::NORMAL_INFO, "%s", fits.c_str());
    Common::PrintInfo(0, Common::NORMAL_INFO, "%s", tooLong.c_str());
    Common::PrintInfo(0, Common::DEBUG_INFO, "%s", tooLong.c_str());
    ASSERT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[0].handle, 42);
    EXPECT_EQ(g_calls[0].message, "send frame failed 3\n");
    EXPECT_EQ(g_calls[0].detail + g_calls[0].tag, "");
    EXPECT_EQ(g_calls[1].handle, 43);
    EXPECT_EQ(g_calls[1].message, "");
    EXPECT_EQ(g_calls[1].detail, "trace ab\n");
    EXPECT_EQ(g_calls[1].type, 0);
    EXPECT_EQ(g_calls[2].message, fits);
}

TEST_F(ConsoleFunnel, CancelledAsksEveryTimeAndReportsEveryCancel)
{
    EXPECT_FALSE(Common::Cancelled()) << "no query registered";
    g_isCancelled = CancelQuery;
    EXPECT_FALSE(Common::Cancelled());
    EXPECT_TRUE(g_calls.empty());
    g_cancelAnswer = 1;
    EXPECT_TRUE(Common::Cancelled());
    EXPECT_TRUE(Common::Cancelled());
    g_cancelAnswer = 0;
    EXPECT_FALSE(Common::Cancelled());
    EXPECT_EQ(g_cancelQueries, 4);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].message, "user cancelled!\n");
    EXPECT_EQ(g_calls[0].handle, 0);
    EXPECT_EQ(g_calls[1].message, "user cancelled!\n");
}

TEST_F(ConsoleFunnel, ProgressMarksEveryStepUnitsAndBreaksAfterEvery100Marks)
{
    struct Case {
        uint32_t step;
        int calls;
        uint32_t counter;
        std::string marks;
        uint32_t counterAfter;
    };
    const Case cases[] = {
        {1, 250, 0, std::string(100, '#') + "\n" + std::string(100, '#') + "\n" + std::string(50, '#'), 250},
        {3, 302, 0, std::string(100, '#') + "\n", 302}, // marks at 3, 6, ..., 300
        {0, 1, 7, "", 7},
        // 100 * step exceeds 32 bits: the mark is due, the break is not.
        {0x80000000u, 1, 0x7FFFFFFFu, "#", 0x80000000u},
    };
    for (const Case& c : cases) {
        g_calls.clear();
        uint32_t counter = c.counter;
        for (int i = 0; i < c.calls; ++i) {
            Common::PrintProgress(counter, c.step);
        }
        EXPECT_EQ(AllMessages(), c.marks) << "step " << c.step;
        EXPECT_EQ(counter, c.counterAfter) << "step " << c.step;
    }
}
