// A pulled cable: the board's end of the line goes away in the middle of an
// exchange. Every wait must end with failure at once instead of running out
// its window, and the loss is reported once.
#include <gtest/gtest.h>

#include <future>

#include "pty_board.h"

namespace {

// Far longer than any of these operations may take once the line is gone,
// far shorter than the windows they are given.
constexpr auto MUST_END_WITHIN = std::chrono::seconds(20);
constexpr unsigned long LONG_WINDOW = 120000;
const std::string LOSS = "error: the serial line was lost.\n";

struct Case {
    const char* what;
    std::vector<Step> board;  // then the board's end goes away
    std::function<int(PlainChip&)> operation;
    const char* message;  // besides the loss report, when there is one
};

class PulledCable : public ::testing::TestWithParam<Case> {};

Bytes g_frame = {0x10, 0x20, 0x30, 0x40};

TEST_P(PulledCable, EndsTheWaitWithFailureAndOneReport)
{
    PrintCapture messages;
    ChipOnLine line;
    ASSERT_TRUE(line.Open());
    PlainChip& chip = line.chip;
    line.board.Play([](PtyBoard& b) {
        Script(GetParam().board)(b);
        b.Drain(100);  // what was written is taken before the line goes
        b.CloseLine();
    });
    auto result = std::async(std::launch::async, [&chip] { return GetParam().operation(chip); });
    ASSERT_EQ(result.wait_for(MUST_END_WITHIN), std::future_status::ready) << "kept waiting on a lost line";
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(messages.Count(LOSS), 1u) << messages.Messages();
    if (GetParam().message != nullptr) {
        EXPECT_TRUE(messages.Has(GetParam().message)) << messages.Messages();
    }
    EXPECT_EQ(chip.Report().Failure().kind, Common::OutcomeKind::LINE_LOST)
        << "what came after the loss is its consequence: " << chip.Report().Failure().message;
    EXPECT_EQ(chip.Report().Failure().message, LOSS);
    // Every later operation fails at once too, without a second report.
    EXPECT_EQ(chip.SendFrameBySerial(g_frame.data(), g_frame.size(), 500, LONG_WINDOW), 0);
    EXPECT_FALSE(chip.SendFrame(g_frame.data(), g_frame.size(), 500, LONG_WINDOW, true));
    EXPECT_EQ(messages.Count(LOSS), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWait, PulledCable,
    ::testing::Values(
        Case{"FramedSend", {{4, {}}},
             [](PlainChip& c) { return c.SendFrame(g_frame.data(), g_frame.size(), 500, LONG_WINDOW, true) ? 1 : 0; },
             nullptr},
        Case{"AckByte", {{3, {}}},
             [](PlainChip& c) { return c.SendFrameBySerial(g_frame.data(), 3, 500, LONG_WINDOW); }, nullptr},
        Case{"TextCommandAnswer", {{5, {0xAA}}, {5, {0xAA}}},
             [](PlainChip& c) {
                 uint8_t cmd[] = "go";
                 uint8_t reply[256] = {};
                 return c.SendCmd(cmd, 2, reply, sizeof(reply), 120000);
             },
             "\nReceive board respond timeout: "}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.what); });

} // namespace
