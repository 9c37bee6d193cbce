// The board side of the tool's YMODEM variant at its boundaries, as scripts of
// what the tool sends and what the board must answer. Whole transfers of every
// block size, and blocks the board asks for again or whose ACK it loses, are
// driven end to end.
#include "sim/ymodem_receiver.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace SimTest;
using Sim::YmodemReceiver;
using State = YmodemReceiver::State;

namespace {

using Script = std::vector<std::pair<Bytes, Bytes>>;  // the tool's bytes, the board's answer

Script With(Script s, const Script& tail)
{
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
}

TEST(YmodemReceiverScript, RepeatsPromptsAndBrokenBlocksGetTheDocumentedAnswersAndKeepOnlyTheFile)
{
    const Bytes data = Pattern(2048, 5);
    const auto blocks = DataBlocks(data, 1024);
    const Bytes header = HeaderBlock("f.bin", "0x800");
    Bytes broken = blocks[0];
    broken[100] ^= 0x01;
    const Script end = {{{EOT}, {ACK}}, {ClosingBlock(), {ACK}}};
    const struct {
        const char* what;
        Script script;
        State state;
        Bytes data;
        const char* error;
        size_t repeated;
    } cases[] = {
        // A sender that answers the C after block 0 sends it and every block
        // twice: each repeat is acknowledged and discarded.
        {"a sender that answers the C",
         With({{header, {ACK, C}}, {header, {ACK, C}}, {blocks[0], {ACK}}, {blocks[0], {ACK}}, {blocks[1], {ACK}},
               {blocks[1], {ACK}}}, end),
         State::DONE, data, "", 3},
        {"a bad CRC is asked for again with C",
         With({{header, {ACK, C}}, {broken, {C}}, {blocks[0], {ACK}}, {blocks[1], {ACK}}}, end), State::DONE, data,
         "CRC", 0},
        {"an out-of-sequence block cancels", {{header, {ACK, C}}, {blocks[1], {CAN, CAN}}}, State::FAILED, {},
         "out of sequence", 0},
        {"a size beyond the limit cancels", {{HeaderBlock("big.bin", "0x100001"), {CAN, CAN}}}, State::FAILED, {},
         "exceeds", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes sent;
        YmodemReceiver r([&sent](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20);
        for (size_t i = 0; i < c.script.size(); ++i) {
            sent.clear();
            r.Feed(c.script[i].first.data(), c.script[i].first.size(), 0);
            EXPECT_EQ(sent, c.script[i].second) << "step " << i;
        }
        EXPECT_EQ(r.GetState(), c.state);
        EXPECT_EQ(r.Data(), c.data);
        EXPECT_TRUE(r.HasFile());
        EXPECT_EQ(r.RepeatedBlocks(), c.repeated);
        const auto errors = r.TakeErrors();
        EXPECT_EQ(Mentions(errors, c.error), *c.error != '\0') << testing::PrintToString(errors);
    }
}

}  // namespace
