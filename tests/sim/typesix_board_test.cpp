// The simulated TypeSix board driven in-process by the tool side of
// sim_test_support.h: what the end-to-end suite cannot see (ssb edges, the
// speed switch, refused parameters) and frames no board could parse.
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;

namespace {

class TypeSixBoardTest : public ::testing::Test {
protected:
    void PowerOn() { board = Sim::MakeTypeSixBoard(Sim::BoardEnv{line, flash, report, faults}); }

    // Everything the board says in return to these bytes.
    Heard Feed(const Bytes& wire)
    {
        line.Take();
        board->OnBytes(wire.data(), wire.size());
        return Unwrap(line.Take());
    }

    // Power-on to a running ssb, as the tool's first steps.
    void BootSsb()
    {
        PowerOn();
        ASSERT_TRUE(tool.Init(true));
        const Bytes ssb = Pattern(100, 1);
        ASSERT_TRUE(tool.SendSsb(ssb, 4096, Digest(ssb)));
        ASSERT_NE(Feed(tool.ExitFrame()).text.find("-ssb-codeloader"), std::string::npos);
    }

    bool ErrorMentions(const std::string& text) const { return Mentions(report.ProtocolErrors(), text); }

    RecordingLine line;
    Sim::Flash flash{256 * 1024};
    Sim::Report report;
    Sim::FaultPlan faults;
    std::unique_ptr<Sim::Board> board;
    // A command must get exactly one answer.
    TypeSixTool tool{[this](const Bytes& wire) {
        const Heard heard = Feed(wire);
        EXPECT_EQ(heard.answers.size(), 1u) << "frame " << testing::PrintToString(wire);
        return heard.answers.empty() ? Bytes{} : heard.answers.front();
    }};
};

// ---- boot ROM and ssb load ----

TEST_F(TypeSixBoardTest, OnlyAVerifiedSsbStartsOnTheExitFrameAndItIsAsLongAsItSays)
{
    PowerOn();
    board->OnTick(0);
    Bytes ssb = Pattern(5000, 5);
    std::fill(ssb.end() - 6, ssb.end(), 0xFF);  // bytes that look like padding still count
    int64_t now = 0;
    for (const bool wrongDigest : {true, false}) {
        SCOPED_TRACE(wrongDigest ? "wrong digest: refused, the ROM stays" : "verified in 1024-byte packets");
        ASSERT_TRUE(tool.Init(true));
        Bytes digest = Digest(ssb);
        digest[31] = static_cast<uint8_t>(digest[31] ^ (wrongDigest ? 1 : 0));
        EXPECT_EQ(tool.SendSsb(ssb, wrongDigest ? 4096 : 1024, digest), !wrongDigest);
        ASSERT_FALSE(report.Images().empty());
        EXPECT_EQ(report.Images().back().kind, "ssb");
        EXPECT_EQ(report.Images().back().length, ssb.size());
        EXPECT_EQ(report.Images().back().sha256, HexDigest(ssb));
        EXPECT_EQ(report.Images().back().digestMatched, wrongDigest ? 0 : 1);
        const Heard heard = Feed(tool.ExitFrame());
        EXPECT_TRUE(heard.answers.empty());
        EXPECT_EQ(heard.text.find("-ssb-codeloader") != std::string::npos, !wrongDigest) << heard.text;
        EXPECT_EQ(heard.text.find("-romloader") != std::string::npos, wrongDigest) << heard.text;
        EXPECT_TRUE(ErrorMentions("exit frame without a verified ssb"));
        EXPECT_EQ(report.ProtocolErrors().size(), 1u);
        board->OnTick(now += 100000);  // a ROM announces itself until spoken to, a running ssb is quiet
        EXPECT_EQ(Unwrap(line.Take()).text.find("-romloader") != std::string::npos, wrongDigest);
    }
}

// ---- commands to the running ssb ----

class TypeSixLoaderTest : public TypeSixBoardTest {
protected:
    void SetUp() override { BootSsb(); }
};

TEST_F(TypeSixLoaderTest, NonsenseParametersAreRefusedWithTheReasonAndAGoodSpeedIsAnsweredAtTheOldOne)
{
    const struct {
        uint8_t code;
        Bytes params;
        const char* error;
    } cases[] = {
        {0x0D, Be32s({0, 28672}), "baud rate 0 not supported"},
        {0x0D, {0x00, 0x01, 0xC2, 0x00}, "set speed frame of 7 bytes, expected 11"},
        {0x21, Be32s({0, 1u << 20}), "data request for 1048576 bytes"},
        {0x21, Be32s({0xFFFFF000u, 4096}), "beyond the part"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Negative(tool.Command(c.code, c.params))) << c.error;
        EXPECT_TRUE(ErrorMentions(c.error)) << c.error;
    }
    EXPECT_EQ(line.baud, 115200u);
    line.log.clear();
    EXPECT_TRUE(Positive(tool.Command(0x0D, Be32s({921600, 28672}))));
    EXPECT_EQ(line.log, (std::vector<std::string>{"write", "baud 921600"}));  // then the line follows
}

// ---- frames no board could parse ----

TEST_F(TypeSixLoaderTest, BadCheckTooShortAndUnterminatedFramesAreReportedAndLeftUnanswered)
{
    Bytes p = tool.Payload(0x01);
    p.back() ^= 0x01;
    EXPECT_TRUE(Feed(Wrap(p)).answers.empty());
    EXPECT_TRUE(ErrorMentions("wrong check byte"));
    EXPECT_TRUE(Feed({0x5C, 0x73, 0x01, 0x01, 0x5C, 0x65}).answers.empty());
    EXPECT_TRUE(ErrorMentions("payload of 2 bytes"));
    EXPECT_TRUE(Feed({0x5C, 0x73, 0x00, 0x01}).answers.empty());
    p.back() ^= 0x01;  // the tool's resend with a good check
    EXPECT_TRUE(Positive(tool.Raw(p)));
    EXPECT_TRUE(ErrorMentions("without end marker"));
}

}  // namespace
