// The board side of the tool's YMODEM variant, as scripts of what the tool
// sends and what the board must answer: block sizes, repeats, 'C' prompts,
// timeouts. The read-back the board sends is pinned by the end-to-end read.
#include "sim/ymodem_receiver.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using Sim::YmodemReceiver;
using State = YmodemReceiver::State;

namespace {

using Script = std::vector<std::pair<Bytes, Bytes>>;  // the tool's bytes, the board's answer

// A whole file as the tool sends it: block 0 is followed by the textbook C.
Script Plain(const Bytes& data, size_t blockSize, const std::string& sizeText = "")
{
    Script s;
    for (Bytes& b : YmodemFile("f.bin", data, blockSize, sizeText)) {
        s.push_back({std::move(b), s.empty() ? Bytes{ACK, C} : Bytes{ACK}});
    }
    return s;
}

Script With(Script s, const Script& tail)
{
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
}

class YmodemReceiverTest : public ::testing::Test {
protected:
    YmodemReceiverTest() : receiver([this](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20)
    {
        receiver.Start(0);
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
            sent.clear();
            receiver.Feed(script[i].first.data(), script[i].first.size(), 0);
            EXPECT_EQ(sent, script[i].second) << "step " << i;
        }
    }
    Bytes sent;
    YmodemReceiver receiver;
};

TEST(YmodemReceiverScript, EveryTransferGetsTheDocumentedAnswersAndKeepsOnlyTheFile)
{
    const Bytes data = Pattern(2048, 5), odd = Pattern(1500, 6), small = Pattern(293, 7);
    const auto blocks = DataBlocks(data, 1024);
    const Bytes header = HeaderBlock("f.bin", "0x800");
    Bytes broken = blocks[0];
    broken[100] ^= 0x01;
    Bytes junk = {0x55, 0x01, 0x00, 0x00, 0x99};  // an SOH without its complement is junk too
    junk.insert(junk.end(), header.begin(), header.end());
    const Bytes padded(1024, 0x1A);
    const Script end = {{{EOT}, {ACK}}, {ClosingBlock(), {ACK}}};
    const struct {
        const char* what;
        Script script;
        State state;
        Bytes data;
        const char* error;
        size_t repeated;
        bool byteByByte;
    } cases[] = {
        {"128-byte blocks fed one byte at a time", Plain(small, 128), State::DONE, small, "", 0, true},
        {"a textbook decimal size with a time", Plain(odd, 1024, "1500 14223573421"), State::DONE, odd, "", 0, false},
        {"a repeated block is acknowledged and discarded",
         With({{header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}, end), State::DONE, data,
         "", 1, false},
        // A sender that answers the C after block 0 sends it and every block twice.
        {"a sender that answers the C",
         With({{header, {ACK, C}}, {header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[0], {ACK}}, {blocks[1], {ACK}},
               {blocks[1], {ACK}}}, end),
         State::DONE, data, "", 3, false},
        {"a bad CRC is asked for again with C",
         With({{header, {ACK, C}}, {broken, {C}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}, end), State::DONE, data,
         "CRC", 0, false},
        {"junk before a block is skipped", With({{junk, {ACK, C}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}, end),
         State::DONE, data, "5 bytes", 0, false},
        {"padding other than zero",
         With({{HeaderBlock("p.bin", "0x10"), {ACK, C}}, {Block(0x02, 1, padded.data(), 1024, 1024), {ACK}}}, end),
         State::DONE, Bytes(16, 0x1A), "padding", 0, false},
        {"an out-of-sequence block cancels", {{header, {ACK, C}}, {blocks[1], {CAN, CAN}}}, State::FAILED, {},
         "out of sequence", 0, false},
        {"a size beyond the limit cancels", {{HeaderBlock("big.bin", "0x100001"), {CAN, CAN}}}, State::FAILED, {},
         "exceeds", 0, false},
        {"an empty batch ends without a file", {{ClosingBlock(), {ACK}}}, State::DONE, {}, "", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sent;
        YmodemReceiver r([&sent](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20);
        for (size_t i = 0; i < c.script.size(); ++i) {
            sent.clear();
            const Bytes& in = c.script[i].first;
            for (size_t at = 0, step = c.byteByByte ? 1 : in.size(); at < in.size(); at += step) {
                r.Feed(in.data() + at, step, 0);
            }
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

}  // namespace
