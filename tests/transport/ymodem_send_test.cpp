// The tool as YMODEM sender, against a scripted loader that receives frames as
// the wire description lays them out.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "line_peers.h"
#include "transport/ymodem_protocol.h"

using YmodemProtocolSp::YmodemProtocol;

namespace {

// The loader's side of a download: 'C', then ACK for every frame.
struct ScriptedReceiver {
    explicit ScriptedReceiver(FakeLink& line) : link(line) {}

    FakeLink& link;
    bool checksumMode = false;
    int repeatAt = -1;  // frame index answered once with 'C' instead of ACK
    int quietAt = -1;   // frame index answered with NAK, then ACK after a pause

    std::vector<Bytes> frames;  // everything but EOT, in order
    int eotCount = 0;
    size_t bytesDuringQuiet = 0;
    std::string error;
    std::thread thread;

    void Start() { thread = std::thread([this] { Run(); }); }
    void Finish()
    {
        link.Close();
        thread.join();
    }

    void Run()
    {
        link.PeerWrite({'C'});
        bool repeated = false;
        for (;;) {
            const int head = link.PeerReadByte();
            if (head == EOT) {
                ++eotCount;
                link.PeerWrite({ACK});
                continue;
            }
            const size_t dataSize = head < 0 ? 0 : WireDataSize(static_cast<uint8_t>(head));
            if (dataSize == 0) {
                error = "unknown head " + std::to_string(head);
                return;
            }
            const bool isFinish = eotCount > 0 && head == SOH;
            const size_t checkSize = (checksumMode && !isFinish) ? 1 : 2;
            Bytes frame = link.PeerRead(2 + dataSize + checkSize);
            if (frame.size() != 2 + dataSize + checkSize) {
                error = "short frame";
                return;
            }
            frame.insert(frame.begin(), static_cast<uint8_t>(head));
            frames.push_back(frame);
            const int index = static_cast<int>(frames.size()) - 1;
            if (index == repeatAt && !repeated) {
                repeated = true;
                link.PeerWrite({'C'});
                continue;
            }
            if (index == quietAt) {
                link.PeerWrite({NAK});
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                bytesDuringQuiet = link.PendingForPeer();
            }
            link.PeerWrite({ACK});
            if (isFinish) {
                return;
            }
        }
    }
};

class YmodemSend : public ::testing::Test {
protected:
    bool Download(ScriptedReceiver& peer, const Bytes& data, const std::string& name, int dataSize = 1024)
    {
        YmodemProtocol sender(&peer.link, dataSize);
        sender.SetIsCheckSumCrc(peer.checksumMode);
        peer.Start();
        const bool ok = sender.DownloadFile(data.data(), static_cast<uint32_t>(data.size()), name);
        peer.Finish();
        return ok;
    }

    FakeLink link;
    PrintCapture capture;
};

}  // namespace

// ---- frame layout

TEST_F(YmodemSend, FramesCarryTheZeroPaddedFileUnderTheHeadOfTheDataSize)
{
    const struct {
        size_t fileSize;
        int dataSize;
        uint8_t head;
    } cases[] = {{0, 1024, STX}, {1500, 1024, STX}, {8193, 8192, 0x0C}};
    for (const auto& c : cases) {
        FakeLink line;
        ScriptedReceiver peer(line);
        const Bytes data = Pattern(c.fileSize, static_cast<uint32_t>(c.fileSize));
        ASSERT_TRUE(Download(peer, data, "images/part/flash.img", c.dataSize));
        ASSERT_EQ(peer.error, "");
        EXPECT_EQ(peer.eotCount, 1);
        // Block 0 with the base name and the hex size, the data, the all-zero finish frame.
        std::vector<Bytes> expected = Frames(data, static_cast<size_t>(c.dataSize), c.head);
        expected.insert(expected.begin(), StartBlock("flash.img", c.fileSize));
        expected.push_back(WireFrame(SOH, 0, Bytes(128, 0)));
        EXPECT_TRUE(peer.frames == expected) << c.fileSize << ": " << peer.frames.size() << " frames";
    }
}

TEST_F(YmodemSend, ChecksumModeUsesOneByteSumsButKeepsTheFinishFrame)
{
    ScriptedReceiver peer(link);
    peer.checksumMode = true;
    ASSERT_TRUE(Download(peer, Pattern(700, 8), "c.bin"));
    ASSERT_EQ(peer.error, "");
    ASSERT_EQ(peer.frames.size(), 3u);
    EXPECT_EQ(peer.frames[0].size(), 132u);
    ASSERT_EQ(peer.frames[1].size(), 1028u);
    uint32_t sum = 0;
    for (size_t i = 3; i < 1027; ++i) {
        sum += peer.frames[1][i];
    }
    EXPECT_EQ(peer.frames[1][1027], static_cast<uint8_t>(sum & 0xFF));
    EXPECT_EQ(peer.frames[2].size(), 133u);
}

TEST_F(YmodemSend, NameOf112CharactersFits113FailBeforeAnyFrame)
{
    ScriptedReceiver peer(link);
    const std::string name(112, 'n');
    ASSERT_TRUE(Download(peer, Pattern(16, 9), "dir/" + name));
    EXPECT_EQ(peer.frames[0], StartBlock(name, 16));

    FakeLink line;
    ScriptedReceiver refused(line);
    EXPECT_FALSE(Download(refused, Pattern(16, 9), std::string(113, 'n')));
    EXPECT_TRUE(refused.frames.empty());
    const std::vector<std::string> lines = capture.Lines();
    auto at = std::find(lines.begin(), lines.end(), "The file name is too long.\n");
    ASSERT_LE(at + 3, lines.end());
    EXPECT_EQ(*(at + 1), "Init ymodem start frame failed.\n");
    EXPECT_EQ(*(at + 2), "Send ymodem start frame failed.\n");
}

// ---- acknowledgement wait

TEST_F(YmodemSend, RequestWhileWaitingForAckRepeatsTheFrameOnceButSilenceAndNakDoNot)
{
    ScriptedReceiver peer(link);
    peer.quietAt = 0;   // block 0
    peer.repeatAt = 1;  // the first data frame
    ASSERT_TRUE(Download(peer, Pattern(2048, 10), "r.bin"));
    EXPECT_EQ(peer.bytesDuringQuiet, 0u);
    ASSERT_EQ(peer.frames.size(), 5u);  // block 0, frame 1 twice, frame 2, finish
    EXPECT_EQ(peer.frames[1][1], 0x01);
    EXPECT_EQ(peer.frames[1], peer.frames[2]);
    EXPECT_EQ(peer.frames[3][1], 0x02);
}

TEST_F(YmodemSend, LostLineCancelAndShortSendEndTheTransferWithTheirMessages)
{
    const struct {
        std::function<void(FakeLink&)> afterStartFrame;  // none: every send fails
        std::vector<std::string> messages;
    } cases[] = {
        {[](FakeLink& l) { l.Break(); }, {"ACK receiving timed out.\n", "Send ymodem start frame failed.\n"}},
        {[](FakeLink& l) { l.SetCancel(true); }, {"\nUser Cancelled!\n"}},
        {nullptr, {"Send data frame failed.\n", "Send ymodem start frame failed.\n"}},
    };
    for (const auto& c : cases) {
        PrintCapture prints;
        FakeLink line;
        YmodemProtocol sender(&line, 1024);
        line.PeerWrite({'C'});
        line.SetFailSend(c.afterStartFrame == nullptr);
        std::thread peer([&] {
            if (c.afterStartFrame) {
                line.PeerRead(133);
                c.afterStartFrame(line);
            }
        });
        const Bytes data = Pattern(100, 12);
        EXPECT_FALSE(sender.DownloadFile(data.data(), 100, "l.bin"));
        line.Close();
        peer.join();
        for (const std::string& message : c.messages) {
            EXPECT_EQ(prints.CountLine(message), 1) << message;
        }
    }
}

// ---- handshake

TEST_F(YmodemSend, HandshakeShowsTheBootTextAcceptsNakAndFailsAtOnceOnALostLine)
{
    YmodemProtocol sender(&link, 1024);
    link.PeerWrite(Bytes{'b', 'o', 'o', 't', ' ', 'o', 'k', NAK});
    EXPECT_TRUE(sender.YmodemHandshake());
    EXPECT_EQ(capture.CountLine("boot ok\x15\n"), 1);

    FakeLink lost;
    YmodemProtocol other(&lost, 1024);
    lost.PeerWrite(Bytes{'x', 'y'});
    lost.Break();
    const Bytes data = Pattern(10, 15);
    EXPECT_FALSE(other.DownloadFile(data.data(), 10, "h.bin"));
    EXPECT_EQ(capture.CountLine("xy\n"), 1);
    EXPECT_EQ(capture.CountLine("Ymodem handshake failed.\n"), 1);
    EXPECT_EQ(lost.PendingForPeer(), 0u);
}
