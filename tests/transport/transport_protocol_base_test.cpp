// The transfer protocol base: the boot command goes through the chip's text channel.
#include <gtest/gtest.h>

#include "line_peers.h"
#include "transport/transport_protocol_base.h"

namespace {

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
    EXPECT_EQ(prints.CountLine("\nSend command: reset\n"), 1);

    link.commandAnswer = 0;
    EXPECT_FALSE(protocol.SendBootCommand("go", 100)) << "the board does not answer";
    EXPECT_EQ(link.commands, 2);
    EXPECT_FALSE(protocol.SendBootCommand(nullptr, 100));
    EXPECT_FALSE(TransportProtocolBase(nullptr).SendBootCommand("go", 100));
    EXPECT_EQ(link.commands, 2);
}

}  // namespace
