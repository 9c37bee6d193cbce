// The board side of the tool's YMODEM variant: what the loader accepts and
// answers when it receives an image, and how it sends a read-back.
#include "sim/ymodem_receiver.h"
#include "sim/ymodem_sender.h"
#include "vb27_test_support.h"

#include <gtest/gtest.h>

using namespace Vb27Test;
using Sim::YmodemReceiver;
using Sim::YmodemSender;

namespace {

constexpr uint8_t ACK = 0x06;
constexpr uint8_t C = 0x43;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t CAN = 0x18;

class YmodemReceiverTest : public ::testing::Test {
protected:
    YmodemReceiverTest() : receiver([this](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, 1 << 20)
    {
        receiver.Start(0);
    }

    Bytes Feed(const Bytes& bytes)
    {
        sent.clear();
        receiver.Feed(bytes.data(), bytes.size(), now);
        return sent;
    }

    // A whole transfer the way the tool sends it.
    void SendFile(const Bytes& data, size_t blockSize, const std::string& name = "image.bin")
    {
        char size[32];
        std::snprintf(size, sizeof size, "0x%zx", data.size());
        Feed(HeaderBlock(name, size));
        for (const Bytes& block : DataBlocks(data, blockSize)) {
            ASSERT_EQ(Feed(block), Bytes{ACK});
        }
        ASSERT_EQ(Feed({EOT}), Bytes{ACK});
        ASSERT_EQ(Feed(ClosingBlock()), Bytes{ACK});
    }

    Bytes sent;
    int64_t now = 0;
    YmodemReceiver receiver;
};

TEST_F(YmodemReceiverTest, AsksForBlockZeroWithCAtOnceAndRepeatsWhileNothingComes)
{
    EXPECT_EQ(sent, Bytes{C});
    sent.clear();
    receiver.Tick(YmodemReceiver::HEADER_PROMPT_MS - 1);
    EXPECT_TRUE(sent.empty());
    receiver.Tick(YmodemReceiver::HEADER_PROMPT_MS);
    EXPECT_EQ(sent, Bytes{C});
}

TEST_F(YmodemReceiverTest, BlockZeroIsAcknowledgedAndFollowedByTheTextbookC)
{
    EXPECT_EQ(Feed(HeaderBlock("a.bin", "0x10")), (Bytes{ACK, C}));
    EXPECT_EQ(receiver.FileName(), "a.bin");
    EXPECT_EQ(receiver.AnnouncedSize(), 0x10u);
    EXPECT_FALSE(receiver.Idle());
}

TEST_F(YmodemReceiverTest, EveryBlockSizeOfTheVariantIsTakenAndPaddingIsCutOff)
{
    for (const size_t size : {size_t{128}, size_t{1024}, size_t{2048}, size_t{4096}, size_t{8192}}) {
        YmodemReceiver r([](const Bytes&) {}, 1 << 20);
        const Bytes data = Pattern(size * 2 + 37, static_cast<uint32_t>(size));
        char text[32];
        std::snprintf(text, sizeof text, "0x%zx", data.size());
        Bytes all = HeaderBlock("x", text);
        for (const Bytes& b : DataBlocks(data, size)) {
            all.insert(all.end(), b.begin(), b.end());
        }
        all.push_back(EOT);
        const Bytes closing = ClosingBlock();
        all.insert(all.end(), closing.begin(), closing.end());
        r.Feed(all.data(), all.size(), 0);
        ASSERT_EQ(r.GetState(), YmodemReceiver::State::DONE) << size;
        EXPECT_EQ(r.Data(), data) << size;
        EXPECT_TRUE(r.TakeErrors().empty()) << size;
    }
}

TEST_F(YmodemReceiverTest, AFileOfExactlyOneBlockNeedsNoPadding)
{
    const Bytes data = Pattern(1024, 7);
    SendFile(data, 1024);
    EXPECT_EQ(receiver.Data(), data);
}

TEST_F(YmodemReceiverTest, ATextbookDecimalSizeWithModificationTimeIsUnderstood)
{
    Feed(HeaderBlock("t.bin", "1500 14223573421"));
    EXPECT_EQ(receiver.AnnouncedSize(), 1500u);
    EXPECT_TRUE(receiver.HasSize());
}

TEST_F(YmodemReceiverTest, ARepeatedBlockIsAcknowledgedAndDiscarded)
{
    const Bytes data = Pattern(3000, 3);
    Feed(HeaderBlock("r.bin", "0xbb8"));
    const auto blocks = DataBlocks(data, 1024);
    Feed(blocks[0]);
    EXPECT_EQ(Feed(blocks[0]), Bytes{ACK});
    Feed(blocks[1]);
    Feed(blocks[2]);
    Feed({EOT});
    Feed(ClosingBlock());
    ASSERT_EQ(receiver.GetState(), YmodemReceiver::State::DONE);
    EXPECT_EQ(receiver.Data(), data);
    EXPECT_EQ(receiver.RepeatedBlocks(), 1u);
}

TEST_F(YmodemReceiverTest, ASenderThatAnswersTheCAfterBlockZeroEndsWithTheSameFile)
{
    // Such a sender sends block 0 twice when it read the C before the ACK.
    const Bytes data = Pattern(2048, 5);
    Feed(HeaderBlock("c.bin", "0x800"));
    EXPECT_EQ(Feed(HeaderBlock("c.bin", "0x800")), (Bytes{ACK, C}));
    for (const Bytes& b : DataBlocks(data, 1024)) {
        Feed(b);
        Feed(b);  // and every block once more for the C it read late
    }
    Feed({EOT});
    Feed(ClosingBlock());
    ASSERT_EQ(receiver.GetState(), YmodemReceiver::State::DONE);
    EXPECT_EQ(receiver.Data(), data);
}

TEST_F(YmodemReceiverTest, ABlockWithABadCrcIsAskedForAgainWithC)
{
    const Bytes data = Pattern(1024, 9);
    Feed(HeaderBlock("e.bin", "0x400"));
    Bytes broken = DataBlocks(data, 1024)[0];
    broken[100] ^= 0x01;
    EXPECT_EQ(Feed(broken), Bytes{C});
    EXPECT_EQ(receiver.TakeErrors().size(), 1u);
    EXPECT_EQ(Feed(DataBlocks(data, 1024)[0]), Bytes{ACK});
}

TEST_F(YmodemReceiverTest, AnOutOfSequenceBlockCancelsTheTransfer)
{
    const Bytes data = Pattern(4096, 11);
    Feed(HeaderBlock("s.bin", "0x1000"));
    EXPECT_EQ(Feed(DataBlocks(data, 1024)[2]), (Bytes{CAN, CAN}));
    EXPECT_EQ(receiver.GetState(), YmodemReceiver::State::FAILED);
}

TEST_F(YmodemReceiverTest, BlockNumbersWrapAfter255)
{
    const Bytes data = Pattern(300 * 128, 13);
    SendFile(data, 128);
    ASSERT_EQ(receiver.GetState(), YmodemReceiver::State::DONE);
    EXPECT_EQ(receiver.Data(), data);
}

TEST_F(YmodemReceiverTest, JunkBeforeABlockIsSkippedAndReported)
{
    Bytes junk = {0x55, 0x01, 0x00, 0x00, 0x99};  // an SOH without its complement is junk too
    const Bytes header = HeaderBlock("j.bin", "0x1");
    junk.insert(junk.end(), header.begin(), header.end());
    EXPECT_EQ(Feed(junk), (Bytes{ACK, C}));
    const auto errors = receiver.TakeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("5 bytes"), std::string::npos);
}

TEST_F(YmodemReceiverTest, ATransferShorterThanAnnouncedIsMarkedShort)
{
    Feed(HeaderBlock("short.bin", "0x900"));
    Feed(DataBlocks(Pattern(1024, 1), 1024)[0]);
    Feed({EOT});
    Feed(ClosingBlock());
    EXPECT_EQ(receiver.GetState(), YmodemReceiver::State::DONE);
    EXPECT_TRUE(receiver.Short());
}

TEST_F(YmodemReceiverTest, PaddingOtherThanZeroIsAProtocolError)
{
    Feed(HeaderBlock("p.bin", "0x10"));
    Bytes padded(1024, 0x1A);
    Feed(Block(0x02, 1, padded.data(), padded.size(), 1024));
    Feed({EOT});
    Feed(ClosingBlock());
    EXPECT_EQ(receiver.Data(), Bytes(16, 0x1A));
    const auto errors = receiver.TakeErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("padding"), std::string::npos);
}

TEST_F(YmodemReceiverTest, AnEmptyBatchEndsWithoutAFile)
{
    EXPECT_EQ(Feed(ClosingBlock()), Bytes{ACK});
    EXPECT_EQ(receiver.GetState(), YmodemReceiver::State::DONE);
    EXPECT_FALSE(receiver.HasFile());
}

TEST_F(YmodemReceiverTest, AHalfBlockIsGivenUpAfterTheGapAndAskedForAgain)
{
    Feed(HeaderBlock("h.bin", "0x400"));
    const Bytes block = DataBlocks(Pattern(1024, 2), 1024)[0];
    Feed(Bytes(block.begin(), block.begin() + 500));
    sent.clear();
    receiver.Tick(YmodemReceiver::BLOCK_GAP_MS);
    EXPECT_EQ(sent, Bytes{C});
    EXPECT_EQ(Feed(block), Bytes{ACK});
}

TEST_F(YmodemReceiverTest, ATextbookSenderGetsACForItsClosingBlock)
{
    Feed(HeaderBlock("t.bin", "0x1"));
    Feed(DataBlocks(Bytes{1}, 1024)[0]);
    Feed({EOT});
    sent.clear();
    receiver.Tick(YmodemReceiver::CLOSING_PROMPT_MS);
    EXPECT_EQ(sent, Bytes{C});
}

TEST_F(YmodemReceiverTest, ASilentSenderFailsTheTransfer)
{
    Feed(HeaderBlock("q.bin", "0x400"));
    receiver.Tick(YmodemReceiver::SILENCE_LIMIT_MS);
    EXPECT_EQ(receiver.GetState(), YmodemReceiver::State::FAILED);
}

TEST_F(YmodemReceiverTest, BytesAfterTheClosingBlockAreHandedBack)
{
    Feed(HeaderBlock("l.bin", "0x1"));
    Feed(DataBlocks(Bytes{1}, 1024)[0]);
    Feed({EOT});
    Bytes closing = ClosingBlock();
    closing.insert(closing.end(), {0xEF, 0xBE});
    Feed(closing);
    EXPECT_EQ(receiver.TakeLeftover(), (Bytes{0xEF, 0xBE}));
}

TEST_F(YmodemReceiverTest, AnAnnouncedSizeBeyondTheLimitIsCancelled)
{
    EXPECT_EQ(Feed(HeaderBlock("big.bin", "0x100001")), (Bytes{CAN, CAN}));
    EXPECT_EQ(receiver.GetState(), YmodemReceiver::State::FAILED);
}

TEST_F(YmodemReceiverTest, BlocksFedOneByteAtATimeGiveTheSameFile)
{
    YmodemReceiver r([](const Bytes&) {}, 1 << 20);
    const Bytes data = Pattern(5000, 17);
    Bytes all = HeaderBlock("b.bin", "0x1388");
    for (const Bytes& b : DataBlocks(data, 2048)) {
        all.insert(all.end(), b.begin(), b.end());
    }
    all.push_back(EOT);
    const Bytes closing = ClosingBlock();
    all.insert(all.end(), closing.begin(), closing.end());
    for (const uint8_t b : all) {
        r.Feed(&b, 1, 0);
    }
    EXPECT_EQ(r.Data(), data);
}

// --- sending a read-back ---

class YmodemSenderTest : public ::testing::Test {
protected:
    void Make(const Bytes& data)
    {
        sender = std::make_unique<YmodemSender>(
            [this](const Bytes& b) { sent.insert(sent.end(), b.begin(), b.end()); }, "flash.bin", data);
        sender->Start(0);
    }
    Bytes Feed(const Bytes& bytes)
    {
        sent.clear();
        sender->Feed(bytes.data(), bytes.size(), 0);
        return sent;
    }
    std::unique_ptr<YmodemSender> sender;
    Bytes sent;
};

TEST_F(YmodemSenderTest, AReadBackGoesTheWayTheToolsReceiverExpectsIt)
{
    const Bytes data = Pattern(1500, 21);
    Make(data);
    EXPECT_TRUE(sent.empty());  // the receiver speaks first
    EXPECT_EQ(Feed({C}), HeaderBlock("flash.bin", "0x5dc"));
    EXPECT_TRUE(Feed({ACK}).empty());
    const auto blocks = DataBlocks(data, 1024);
    EXPECT_EQ(Feed({C}), blocks[0]);
    EXPECT_EQ(Feed({ACK}), blocks[1]);
    EXPECT_EQ(blocks[1].size(), 1029u);
    EXPECT_EQ(Feed({ACK}), Bytes{EOT});
    EXPECT_TRUE(Feed({ACK}).empty());
    EXPECT_EQ(Feed({C}), ClosingBlock());
    EXPECT_TRUE(Feed({ACK, C}).empty());
    EXPECT_EQ(sender->GetState(), YmodemSender::State::DONE);
    EXPECT_EQ(sender->TakeLeftover(), Bytes{C});
}

TEST_F(YmodemSenderTest, ACWhileWaitingForAnAckSendsTheSameBlockAgain)
{
    const Bytes data = Pattern(2048, 22);
    Make(data);
    Feed({C});
    Feed({ACK});
    const Bytes first = Feed({C});
    EXPECT_EQ(Feed({C}), first);
    EXPECT_EQ(sender->Resent(), 1u);
}

TEST_F(YmodemSenderTest, AnEmptyRangeSendsEotRightAfterBlockZero)
{
    Make({});
    Feed({C});
    Feed({ACK});
    EXPECT_EQ(Feed({C}), Bytes{EOT});
}

TEST_F(YmodemSenderTest, TwoCansFromTheReceiverEndTheTransfer)
{
    Make(Pattern(10, 1));
    Feed({C});
    Feed({CAN, CAN});
    EXPECT_EQ(sender->GetState(), YmodemSender::State::FAILED);
}

TEST_F(YmodemSenderTest, ASilentReceiverFailsTheTransfer)
{
    Make(Pattern(10, 1));
    sender->Tick(YmodemSender::SILENCE_LIMIT_MS);
    EXPECT_EQ(sender->GetState(), YmodemSender::State::FAILED);
}

}  // namespace
