// The board side of the tool's YMODEM variant, as scripts of what the tool
// sends and what the board must answer: block sizes, repeats, 'C' prompts,
// timeouts, and the read-back the board sends.
#include "sim/ymodem_receiver.h"
#include "sim/ymodem_sender.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using Sim::YmodemReceiver;
using Sim::YmodemSender;
using State = YmodemReceiver::State;

namespace {

using Script = std::vector<std::pair<Bytes, Bytes>>;  // the tool's bytes, the board's answer

class YmodemReceiverTest : public ::testing::Test {
protected:
    YmodemReceiverTest() : receiver([this](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20)
    {
        receiver.Start(0);
    }
    Bytes Feed(const Bytes& bytes)
    {
        sent.clear();
        receiver.Feed(bytes.data(), bytes.size(), 0);
        return sent;
    }
    Bytes Tick(int64_t nowMs)
    {
        sent.clear();
        receiver.Tick(nowMs);
        return sent;
    }
    void Run(const Script& script)
    {
        for (size_t i = 0; i < script.size(); ++i) {
            EXPECT_EQ(Feed(script[i].first), script[i].second) << "step " << i;
        }
    }
    Bytes sent;
    YmodemReceiver receiver;
};

TEST_F(YmodemReceiverTest, EveryBlockSizeOfTheVariantIsTakenAndThePaddingCutOff)
{
    const struct {
        size_t blockSize, length;
        bool byteByByte;
    } cases[] = {
        {128, 2 * 128 + 37, false}, {1024, 2 * 1024 + 37, false}, {2048, 2 * 2048 + 37, false},
        {4096, 2 * 4096 + 37, false}, {8192, 2 * 8192 + 37, false},
        {1024, 1024, false},      // exactly one block: no padding
        {128, 300 * 128, false},  // block numbers wrap after 255
        {2048, 5000, true},       // fed one byte at a time
    };
    for (const auto& c : cases) {
        YmodemReceiver r([](const Bytes&) {}, 1 << 20);
        const Bytes data = Pattern(c.length, static_cast<uint32_t>(c.blockSize));
        for (const Bytes& b : YmodemFile("x", data, c.blockSize)) {
            for (size_t at = 0, step = c.byteByByte ? 1 : b.size(); at < b.size(); at += step) {
                r.Feed(b.data() + at, step, 0);
            }
        }
        ASSERT_EQ(r.GetState(), State::DONE) << c.blockSize << " " << c.length;
        EXPECT_EQ(r.Data(), data) << c.blockSize << " " << c.length;
        EXPECT_TRUE(r.TakeErrors().empty());
    }
}

TEST(YmodemHeader, TheSizeIsHexFromTheToolOrDecimalWithATimeFromATextbookSender)
{
    for (const auto& [text, size] : {std::pair<const char*, uint64_t>{"0x10", 0x10}, {"1500 14223573421", 1500}}) {
        Bytes sent;
        YmodemReceiver r([&sent](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20);
        const Bytes header = HeaderBlock("a.bin", text);
        r.Feed(header.data(), header.size(), 0);
        EXPECT_EQ(sent, (Bytes{ACK, C})) << "block 0 is followed by the textbook C";
        EXPECT_EQ(r.FileName(), "a.bin");
        EXPECT_TRUE(r.HasSize());
        EXPECT_EQ(r.AnnouncedSize(), size);
        EXPECT_FALSE(r.Idle());
    }
}

TEST_F(YmodemReceiverTest, ScriptedTransfersGetTheDocumentedAnswers)
{
    const Bytes data = Pattern(2048, 5);
    const auto blocks = DataBlocks(data, 1024);
    const Bytes header = HeaderBlock("f.bin", "0x800");
    Bytes broken = blocks[0];
    broken[100] ^= 0x01;
    Bytes junk = {0x55, 0x01, 0x00, 0x00, 0x99};  // an SOH without its complement is junk too
    junk.insert(junk.end(), header.begin(), header.end());
    const Bytes padded(1024, 0x1A);
    const Script end = {{{EOT}, {ACK}}, {ClosingBlock(), {ACK}}};
    const auto with = [&end](Script s) {
        s.insert(s.end(), end.begin(), end.end());
        return s;
    };
    const struct {
        const char* what;
        Script script;
        State state;
        Bytes data;
        const char* error;
        size_t repeated;
    } cases[] = {
        {"a repeated block is acknowledged and discarded",
         with({{header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}), State::DONE, data, "", 1},
        // A sender that answers the C after block 0 sends it and every block twice.
        {"a sender that answers the C",
         with({{header, {ACK, C}}, {header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[0], {ACK}}, {blocks[1], {ACK}},
               {blocks[1], {ACK}}}),
         State::DONE, data, "", 3},
        {"a bad CRC is asked for again with C",
         with({{header, {ACK, C}}, {broken, {C}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}), State::DONE, data, "CRC", 0},
        {"junk before a block is skipped", with({{junk, {ACK, C}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}),
         State::DONE, data, "5 bytes", 0},
        {"padding other than zero", with({{HeaderBlock("p.bin", "0x10"), {ACK, C}}, {Block(0x02, 1, padded.data(), 1024, 1024), {ACK}}}),
         State::DONE, Bytes(16, 0x1A), "padding", 0},
        {"an out-of-sequence block cancels", {{header, {ACK, C}}, {blocks[1], {CAN, CAN}}}, State::FAILED, {}, "out of sequence", 0},
        {"a size beyond the limit cancels", {{HeaderBlock("big.bin", "0x100001"), {CAN, CAN}}}, State::FAILED, {}, "exceeds", 0},
        {"an empty batch ends without a file", {{ClosingBlock(), {ACK}}}, State::DONE, {}, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        YmodemReceiver r([this](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20);
        for (size_t i = 0; i < c.script.size(); ++i) {
            sent.clear();
            r.Feed(c.script[i].first.data(), c.script[i].first.size(), 0);
            EXPECT_EQ(sent, c.script[i].second) << "step " << i;
        }
        EXPECT_EQ(r.GetState(), c.state);
        EXPECT_EQ(r.Data(), c.data);
        EXPECT_EQ(r.HasFile(), c.state == State::FAILED || !c.data.empty());
        EXPECT_EQ(r.RepeatedBlocks(), c.repeated);
        const auto errors = r.TakeErrors();
        EXPECT_EQ(Mentions(errors, c.error), *c.error != '\0') << testing::PrintToString(errors);
    }
}

TEST_F(YmodemReceiverTest, PromptsAndTimeoutsFollowTheClock)
{
    EXPECT_EQ(sent, Bytes{C});  // block 0 is asked for at once
    EXPECT_TRUE(Tick(YmodemReceiver::HEADER_PROMPT_MS - 1).empty());
    EXPECT_EQ(Tick(YmodemReceiver::HEADER_PROMPT_MS), Bytes{C});

    const Bytes block = DataBlocks(Pattern(1024, 2), 1024)[0];
    Run({{HeaderBlock("h.bin", "0x400"), {ACK, C}}, {Bytes(block.begin(), block.begin() + 500), {}}});
    EXPECT_EQ(Tick(YmodemReceiver::BLOCK_GAP_MS), Bytes{C});  // a half block is given up
    Run({{block, {ACK}}, {{EOT}, {ACK}}});
    EXPECT_EQ(Tick(YmodemReceiver::BLOCK_GAP_MS + YmodemReceiver::CLOSING_PROMPT_MS), Bytes{C});
    Run({{ClosingBlock(), {ACK}}});
    EXPECT_EQ(receiver.GetState(), State::DONE);

    YmodemReceiver quiet([](const Bytes&) {}, 1 << 20);
    const Bytes header = HeaderBlock("q.bin", "0x400");
    quiet.Feed(header.data(), header.size(), 0);
    quiet.Tick(YmodemReceiver::SILENCE_LIMIT_MS);
    EXPECT_EQ(quiet.GetState(), State::FAILED);
}

TEST_F(YmodemReceiverTest, AShortTransferIsMarkedAndBytesAfterTheClosingBlockAreHandedBack)
{
    Bytes closing = ClosingBlock();
    closing.insert(closing.end(), {0xEF, 0xBE});
    Run({{HeaderBlock("s.bin", "0x900"), {ACK, C}}, {DataBlocks(Pattern(1024, 1), 1024)[0], {ACK}}, {{EOT}, {ACK}},
         {closing, {ACK}}});
    EXPECT_EQ(receiver.GetState(), State::DONE);
    EXPECT_TRUE(receiver.Short());
    EXPECT_EQ(receiver.TakeLeftover(), (Bytes{0xEF, 0xBE}));
}

// ---- sending a read-back ----

TEST(YmodemSenderTest, TheReadBackAnswersTheToolsReceiver)
{
    const Bytes data = Pattern(1500, 21), two = Pattern(2048, 22);
    const auto blocks = DataBlocks(data, 1024);
    const auto twoBlocks = DataBlocks(two, 1024);
    const struct {
        const char* what;
        Bytes data;
        Script script;
        YmodemSender::State state;
        size_t resent;
    } cases[] = {
        {"a whole read-back", data,
         {{{C}, HeaderBlock("flash.bin", "0x5dc")}, {{ACK}, {}}, {{C}, blocks[0]}, {{ACK}, blocks[1]}, {{ACK}, {EOT}},
          {{ACK}, {}}, {{C}, ClosingBlock()}, {{ACK, C}, {}}},
         YmodemSender::State::DONE, 0},
        {"a C while waiting for an ACK sends the block again", two,
         {{{C}, HeaderBlock("flash.bin", "0x800")}, {{ACK}, {}}, {{C}, twoBlocks[0]}, {{C}, twoBlocks[0]}},
         YmodemSender::State::WAIT_DATA_ACK, 1},
        {"an empty range sends EOT right after block 0", {},
         {{{C}, HeaderBlock("flash.bin", "0x0")}, {{ACK}, {}}, {{C}, {EOT}}}, YmodemSender::State::WAIT_EOT_ACK, 0},
        {"two CANs end the transfer", data, {{{C}, HeaderBlock("flash.bin", "0x5dc")}, {{CAN, CAN}, {}}},
         YmodemSender::State::FAILED, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sent;
        YmodemSender sender([&sent](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, "flash.bin",
                            c.data);
        sender.Start(0);
        EXPECT_TRUE(sent.empty());  // the receiver speaks first
        for (size_t i = 0; i < c.script.size(); ++i) {
            sent.clear();
            sender.Feed(c.script[i].first.data(), c.script[i].first.size(), 0);
            EXPECT_EQ(sent, c.script[i].second) << "step " << i;
        }
        EXPECT_EQ(sender.GetState(), c.state);
        EXPECT_EQ(sender.Resent(), c.resent);
    }
}

TEST(YmodemSenderTest, TheToolsClosingCIsHandedBackAndASilentReceiverFailsTheTransfer)
{
    YmodemSender sender([](const Bytes&) {}, "flash.bin", {});
    sender.Start(0);
    for (const Bytes& in : {Bytes{C}, Bytes{ACK}, Bytes{C}, Bytes{ACK}, Bytes{C}, Bytes{ACK, C}}) {
        sender.Feed(in.data(), in.size(), 0);
    }
    EXPECT_EQ(sender.GetState(), YmodemSender::State::DONE);
    EXPECT_EQ(sender.TakeLeftover(), Bytes{C});

    YmodemSender quiet([](const Bytes&) {}, "flash.bin", Pattern(10, 1));
    quiet.Start(0);
    quiet.Tick(YmodemSender::SILENCE_LIMIT_MS);
    EXPECT_EQ(quiet.GetState(), YmodemSender::State::FAILED);
}

}  // namespace
