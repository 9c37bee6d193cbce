// The simulated TypeSix board driven in-process by the tool side of
// sim_test_support.h: what the end-to-end suite cannot see (ssb edges, the
// speed switch, read-back and erase the tool does not offer), injected
// faults on the line, and frames no board could parse.
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

    const Sim::ImageRecord& LastImage() const
    {
        static const Sim::ImageRecord none;
        return report.Images().empty() ? none : report.Images().back();
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

TEST_F(TypeSixBoardTest, AnSsbIsTakenInPacketsCutAtItsLengthAndOnlyAVerifiedOneStartsOnTheExitFrame)
{
    const struct {
        const char* what;
        size_t length, packetSize;
        bool endsInPadding, wrongDigest, fallBack;
    } cases[] = {
        {"last packet short, its check at offset 1814", 10000, 4096, false, false, false},
        {"an exact multiple needs no short packet", 4096, 4096, false, false, false},
        {"bytes that look like padding still count", 5000, 1024, true, false, false},
        {"a wrong digest is refused and the ROM stays", 3000, 4096, false, true, false},
        {"a board that falls back to the ROM talks again", 500, 4096, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        faults.fallBackToRom = c.fallBack;
        report = Sim::Report{};
        PowerOn();
        board->OnTick(0);
        ASSERT_TRUE(tool.Init(true));
        Bytes ssb = Pattern(c.length, static_cast<uint32_t>(c.length));
        if (c.endsInPadding) {
            std::fill(ssb.end() - 6, ssb.end(), 0xFF);
        }
        Bytes digest = Digest(ssb);
        digest[31] = static_cast<uint8_t>(digest[31] ^ (c.wrongDigest ? 1 : 0));
        EXPECT_EQ(tool.SendSsb(ssb, c.packetSize, digest), !c.wrongDigest);
        EXPECT_EQ(LastImage().kind, "ssb");
        EXPECT_EQ(LastImage().length, c.length);
        EXPECT_EQ(LastImage().sha256, HexDigest(ssb));
        EXPECT_EQ(LastImage().digestMatched, c.wrongDigest ? 0 : 1);
        const Heard heard = Feed(tool.ExitFrame());
        const bool starts = !c.wrongDigest && !c.fallBack;
        EXPECT_TRUE(heard.answers.empty());
        EXPECT_EQ(heard.text.find("-ssb-codeloader") != std::string::npos, starts) << heard.text;
        EXPECT_EQ(heard.text.find("-romloader") != std::string::npos, !starts) << heard.text;
        EXPECT_EQ(ErrorMentions("exit frame without a verified ssb"), c.wrongDigest);
        line.Take();
        board->OnTick(100000);  // a ROM announces itself until spoken to, a running ssb is quiet
        EXPECT_EQ(Unwrap(line.Take()).text.find("-romloader") != std::string::npos, !starts);
    }
}

// ---- images through the running ssb ----

class TypeSixLoaderTest : public TypeSixBoardTest {
protected:
    void SetUp() override { BootSsb(); }
};

TEST_F(TypeSixLoaderTest, TheDigestFrameDecidesAndMeasuresTheImage)
{
    Bytes fromMemory = Pattern(6000, 24);
    std::fill(fromMemory.end() - 3, fromMemory.end(), 0xFF);  // looks like padding
    const Bytes image = Pattern(5000, 22);
    const struct {
        const char* what;
        Bytes data, digest;
        uint32_t lengthField;
        bool positive;
        int matched;
        const char* error;
    } cases[] = {
        {"wrong digest", image, Digest(Pattern(5000, 23)), 5000, false, 0, ""},
        {"no length: sent from memory", fromMemory, Digest(fromMemory), 0, true, 1, ""},
        {"no digest", image, {}, 5000, true, -1, ""},
        {"length disagrees", image, Digest(image), 9000, false, 0, "announces 9000 bytes"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Positive(tool.SendOtherImage(0, 0x20000, 0x10000, c.data, 4096, c.digest, c.lengthField)),
                  c.positive) << c.what;
        EXPECT_EQ(LastImage().digestMatched, c.matched) << c.what;
        if (*c.error == '\0') {
            EXPECT_EQ(LastImage().length, c.data.size()) << c.what;
            EXPECT_EQ(LastImage().sha256, HexDigest(c.data)) << c.what;
        } else {
            EXPECT_TRUE(ErrorMentions(c.error)) << c.what;
        }
    }
}

TEST_F(TypeSixLoaderTest, SetSpeedIsAnsweredAtTheOldSpeedThenTheLineFollows)
{
    ASSERT_TRUE(tool.Init(false));
    line.log.clear();
    EXPECT_TRUE(Positive(tool.Command(0x0D, TypeSixTool::SpeedParams(921600))));
    EXPECT_EQ(line.log, (std::vector<std::string>{"write", "baud 921600"}));
    line.log.clear();
    EXPECT_TRUE(Positive(tool.Command(0x0D, TypeSixTool::SpeedParams(921600))));  // the same speed changes nothing
    EXPECT_EQ(line.log, (std::vector<std::string>{"write"}));
    EXPECT_TRUE(Negative(tool.Command(0x0D, TypeSixTool::SpeedParams(0))));
    EXPECT_EQ(line.baud, 921600u);
}

TEST_F(TypeSixLoaderTest, ReadBackAnswersFromFlashWithinThePartAndEraseAllClearsItAndItsExitRestarts)
{
    Bytes content = Pattern(10000, 31);
    content[5] = content[4096] = 0x5C;
    flash.Write(0x3000, content.data(), content.size());
    const auto read = [this](uint32_t address, uint32_t length) {
        Bytes p;
        PutBe32(p, address);
        PutBe32(p, length);
        return tool.Command(0x21, p);
    };
    Bytes got;
    for (uint32_t at = 0; at < 10000; at += 4096) {
        const uint32_t n = std::min<uint32_t>(4096, 10000 - at);
        const Bytes answer = read(0x3000 + at, n);
        ASSERT_TRUE(Positive(answer));
        ASSERT_EQ(answer.size(), n + 5);
        got.insert(got.end(), answer.begin() + 4, answer.end() - 1);
    }
    EXPECT_EQ(got, content);
    EXPECT_TRUE(Negative(read(0, 1u << 20)));        // too long
    EXPECT_TRUE(Negative(read(0xFFFFF000u, 4096)));  // past the part

    ASSERT_TRUE(tool.Init(false));
    EXPECT_TRUE(Positive(tool.Command(0x10)));
    EXPECT_EQ(flash.Read(0x3000, 10000), Bytes(10000, 0xFF));
    const Heard heard = Feed(Wrap(tool.Payload(0x08)));
    EXPECT_TRUE(heard.answers.empty());
    EXPECT_TRUE(board->WasReset());
    EXPECT_NE(heard.text.find("-romloader"), std::string::npos);
}

// ---- injected faults, as the tool sees them on the line ----

TEST_F(TypeSixBoardTest, EachFaultHitsExactlyTheNamedFrameOrAnswer)
{
    // So far: five frames (init, version, one ssb packet, digest, exit), four answers.
    enum Fault { NAK, DROP, CORRUPT };
    for (const Fault fault : {NAK, DROP, CORRUPT}) {
        faults = Sim::FaultPlan{};
        (fault == NAK ? faults.nakFrame : fault == DROP ? faults.dropAnswer : faults.corruptAnswer) = fault == NAK ? 7 : 6;
        BootSsb();
        ASSERT_TRUE(tool.Init(false));
        const Heard heard = Feed(Wrap(tool.Payload(0x0D, TypeSixTool::SpeedParams(921600))));
        if (fault == DROP) {
            EXPECT_TRUE(heard.answers.empty());
            EXPECT_EQ(line.baud, 921600u);  // applied all the same
        } else {
            ASSERT_EQ(heard.answers.size(), 1u);
            const Bytes& answer = heard.answers[0];
            EXPECT_EQ(Negative(answer), fault == NAK);
            EXPECT_EQ(line.baud, fault == NAK ? 115200u : 921600u);
            if (fault == CORRUPT) {
                ASSERT_GE(answer.size(), 5u);
                EXPECT_EQ(answer[3], 0x01);
                EXPECT_NE(Xor(answer, answer.size() - 1), answer.back());
            }
        }
        EXPECT_TRUE(Positive(tool.Command(0x25))) << fault;
    }

    faults = Sim::FaultPlan{};
    faults.silent = true;  // says nothing at all but still takes the image
    PowerOn();
    board->OnTick(0);
    board->OnTick(1000);
    TypeSixTool deaf([this](const Bytes& wire) {
        board->OnBytes(wire.data(), wire.size());
        return Bytes{};
    });
    const Bytes ssb = Pattern(50, 42);
    EXPECT_FALSE(deaf.SendSsb(ssb, 4096, Digest(ssb)));
    EXPECT_TRUE(line.Take().empty());
    EXPECT_EQ(LastImage().digestMatched, 1);
}

// ---- frames no board could parse ----

TEST_F(TypeSixLoaderTest, BadCheckTooShortAndUnterminatedFramesAreReportedAndLeftUnanswered)
{
    tool.seq = 0;
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

TEST_F(TypeSixLoaderTest, ArbitraryBytesAndNonsenseParametersNeverStopTheBoard)
{
    uint32_t x = 12345;
    const auto next = [&x]() {
        x = x * 1664525u + 1013904223u;
        return static_cast<uint8_t>(x >> 24);
    };
    for (int round = 0; round < 2000; ++round) {
        Bytes chunk(1 + round % 97);
        for (auto& b : chunk) {
            const uint8_t r = next();  // plenty of markers so that many frames start and end
            b = (r % 5 == 0) ? 0x5C : (r % 7 == 0) ? 0x73 : (r % 11 == 0) ? 0x65 : r;
        }
        board->OnBytes(chunk.data(), chunk.size());
    }
    EXPECT_FALSE(report.ProtocolErrors().empty());
    Feed({0x5C, 0x65});
    // Every code both stages know, well checked, any length and parameters; the
    // bin head is left out so that no random address grows the flash.
    const uint8_t codes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0A, 0x0D, 0x0F, 0x10,
                             0x11, 0x13, 0x14, 0x15, 0x1E, 0x21, 0x25, 0x37, 0xFC, 0xFD, 0x08};
    for (int round = 0; round < 3000; ++round) {
        Bytes p{next(), codes[next() % sizeof(codes)]};
        for (size_t i = 0, length = next() % 48; i < length; ++i) {
            const uint8_t r = next();
            p.push_back(r % 3 == 0 ? 0x00 : r % 3 == 1 ? 0x5C : next());
        }
        p.push_back(Xor(p, p.size()));
        Feed(Wrap(p));
    }
    const Heard heard = Feed(Wrap({0x00, 0x01, 0x01}));
    ASSERT_FALSE(heard.answers.empty());
    EXPECT_EQ(heard.answers.back()[1], 0x02);
}

}  // namespace
