// The transfer protocol base: defaults that succeed without touching the
// line, and the boot command that goes through the chip's text channel.
#include <gtest/gtest.h>

#include "line_peers.h"
#include "transport/transport_protocol_base.h"

namespace {

TEST(TransportProtocolBase, OperationsNotOverriddenSucceedWithoutTouchingTheLine)
{
    PrintCapture prints;
    FakeLink link;
    TransportProtocolBase base(&link);
    unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_TRUE(base.DownloadFileToDdr(data, 4, 0x1000, "loader.bin"));
    EXPECT_TRUE(base.DownloadFile("image.bin", 0x2000, 4));
    EXPECT_TRUE(base.DownloadData(data, 4, 0x3000, 4));
    EXPECT_TRUE(base.UploadFile("/tmp/tarnwick-never-written.bin", 4, 0x4000));
    EXPECT_TRUE(base.EraseFlash(0, 0x10000));
    EXPECT_TRUE(base.DownloadDataToDdr(0x5000, "text"));
    EXPECT_TRUE(base.SendData(1, 2, data));
    EXPECT_EQ(link.PendingForPeer(), 0u);
    EXPECT_EQ(link.commands, 0);
    EXPECT_TRUE(prints.Lines().empty());
}

TEST(TransportProtocolBase, BootCommandIsAnnouncedAndSentThroughTheTextChannel)
{
    PrintCapture prints;
    FakeLink link;
    TransportProtocolBase protocol(&link);
    EXPECT_TRUE(protocol.SendBootCommand("reset", 3000));
    EXPECT_EQ(link.command, "reset");
    EXPECT_TRUE(link.replyZeroed);
    EXPECT_EQ(link.commandReplySize, 8192);
    EXPECT_EQ(link.commandTimeout, 3000);
    EXPECT_EQ(prints.Count("\nSend command: reset\n"), 1);

    link.commandAnswer = 0;
    EXPECT_FALSE(protocol.SendBootCommand("go", 100)) << "the board does not answer";
    EXPECT_EQ(link.commands, 2);
    EXPECT_FALSE(protocol.SendBootCommand(nullptr, 100));
    EXPECT_FALSE(TransportProtocolBase(nullptr).SendBootCommand("go", 100));
    EXPECT_EQ(link.commands, 2);
}

}  // namespace
