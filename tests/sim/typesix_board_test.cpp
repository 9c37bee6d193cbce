// The simulated TypeSix board given frames no board could parse: each is
// reported and left unanswered, so the tool sends it again. Whole loads, the
// speed switch and every command are driven end to end.
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;

namespace {

TEST(TypeSixBoard, BadCheckTooShortAndUnterminatedFramesAreReportedAndLeftUnanswered)
{
    RecordingLine line;
    Sim::Flash flash{4096};
    Sim::Report report;
    Sim::FaultPlan faults;
    const std::unique_ptr<Sim::Board> board = Sim::MakeTypeSixBoard(Sim::BoardEnv{line, flash, report, faults});
    const auto feed = [&](const Bytes& wire) {
        board->OnBytes(wire.data(), wire.size());
        return Unwrap(line.Take());
    };
    const auto errorMentions = [&](const std::string& text) { return Mentions(report.ProtocolErrors(), text); };

    Bytes init{0x00, 0x01, 0x01};  // seq 0, init, check
    init.back() ^= 0x01;
    EXPECT_TRUE(feed(Wrap(init)).empty());
    EXPECT_TRUE(errorMentions("wrong check byte"));
    EXPECT_TRUE(feed({0x5C, 0x73, 0x01, 0x01, 0x5C, 0x65}).empty());
    EXPECT_TRUE(errorMentions("payload of 2 bytes"));
    EXPECT_TRUE(feed({0x5C, 0x73, 0x00, 0x01}).empty());
    init.back() ^= 0x01;  // the tool's resend with a good check
    const std::vector<Bytes> answers = feed(Wrap(init));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(Positive(answers.front()));
    EXPECT_TRUE(errorMentions("without end marker"));
}

}  // namespace
