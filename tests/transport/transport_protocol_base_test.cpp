// The transfer protocol base: defaults that succeed without touching the
// line, and the boot command that goes through the chip's text channel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pty_pair.h"
#include "transport/transport_protocol_base.h"

namespace {

// A chip that records every way a protocol could reach the line.
class RecordingChip : public ChipLink {
public:
    unsigned long Send(const unsigned char*, unsigned long length) override
    {
        ++sends;
        return length;
    }
    unsigned long Receive(unsigned char*, unsigned long) override
    {
        ++receives;
        return 0;
    }
    bool WaitForData(uint32_t) override
    {
        ++receives;
        return false;
    }
    bool CheckIsCancel() override { return false; }
    long long GetThisPtr() const override { return 0x1234; }
    int SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize, int timeout) override
    {
        command.assign(reinterpret_cast<const char*>(cmd), length);
        replyZeroed = true;
        for (int i = 0; i < replySize; ++i) {
            replyZeroed = replyZeroed && reply[i] == 0;
        }
        lastReplySize = replySize;
        lastTimeout = timeout;
        ++commands;
        return answer;
    }
    bool IsLineBroken() const override { return false; }

    int sends = 0;
    int receives = 0;
    int commands = 0;
    int answer = 1;
    std::string command;
    bool replyZeroed = false;
    int lastReplySize = 0;
    int lastTimeout = 0;
};

class TransportProtocolBaseTest : public ::testing::Test {
protected:
    RecordingChip m_chip;
    TransportProtocolBase m_protocol{&m_chip};
    PrintCapture m_prints;
};

TEST_F(TransportProtocolBaseTest, FreshProtocolHasNoFileTypeAndNoDigest)
{
    EXPECT_EQ(m_protocol.GetFileType(), -1);
    EXPECT_EQ(m_protocol.GetShaData(), nullptr);
    EXPECT_EQ(m_protocol.GetShaDataLength(), 0u);
    EXPECT_EQ(m_protocol.GetTransport(), &m_chip);
}

TEST_F(TransportProtocolBaseTest, SettersReplaceChipFileTypeAndBorrowedDigest)
{
    RecordingChip other;
    const unsigned char digest[32] = {0xAB};
    m_protocol.SetTransport(&other);
    m_protocol.SetFileType(101);
    m_protocol.SetShaData(digest, sizeof(digest));
    EXPECT_EQ(m_protocol.GetTransport(), &other);
    EXPECT_EQ(m_protocol.GetFileType(), 101);
    EXPECT_EQ(m_protocol.GetShaData(), digest);
    EXPECT_EQ(m_protocol.GetShaDataLength(), 32u);
}

TEST_F(TransportProtocolBaseTest, OperationsNotOverriddenSucceedWithoutTouchingTheLine)
{
    unsigned char data[4] = {1, 2, 3, 4};
    TransportProtocolBase& base = m_protocol;
    EXPECT_TRUE(base.DownloadFileToDdr(data, 4, 0x1000, "loader.bin"));
    EXPECT_TRUE(base.DownloadFile("image.bin", 0x2000, 4));
    EXPECT_TRUE(base.DownloadData(data, 4, 0x3000, 4));
    EXPECT_TRUE(base.UploadFile("/tmp/tarnwick-never-written.bin", 4, 0x4000));
    EXPECT_TRUE(base.EraseFlash(0, 0x10000));
    EXPECT_TRUE(base.DownloadDataToDdr(0x5000, "text"));
    EXPECT_TRUE(base.SendData(1, 2, data));
    EXPECT_EQ(m_chip.sends, 0);
    EXPECT_EQ(m_chip.receives, 0);
    EXPECT_EQ(m_chip.commands, 0);
    EXPECT_TRUE(m_prints.Lines().empty());
}

TEST_F(TransportProtocolBaseTest, BootCommandIsAnnouncedAndSentThroughTheTextChannel)
{
    EXPECT_TRUE(m_protocol.SendBootCommand("reset", 3000));
    EXPECT_EQ(m_chip.commands, 1);
    EXPECT_EQ(m_chip.command, "reset");
    EXPECT_TRUE(m_chip.replyZeroed);
    EXPECT_EQ(m_chip.lastReplySize, 8192);
    EXPECT_EQ(m_chip.lastTimeout, 3000);
    EXPECT_EQ(m_prints.Count("\nSend command: reset\n"), 1);
}

TEST_F(TransportProtocolBaseTest, BootCommandFailsWhenTheBoardDoesNotAnswer)
{
    m_chip.answer = 0;
    EXPECT_FALSE(m_protocol.SendBootCommand("go", 100));
    EXPECT_EQ(m_chip.commands, 1);
}

TEST_F(TransportProtocolBaseTest, BootCommandWithoutChipOrTextFails)
{
    EXPECT_FALSE(m_protocol.SendBootCommand(nullptr, 100));
    TransportProtocolBase orphan(nullptr);
    EXPECT_FALSE(orphan.SendBootCommand("go", 100));
    EXPECT_EQ(m_chip.commands, 0);
}

}  // namespace
