// The tool as YMODEM sender, against a scripted loader that receives frames as
// the wire description lays them out.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "pty_pair.h"
#include "transport/ymodem_protocol.h"
#include "ymodem_fake_link.h"

using namespace YmodemTest;
using YmodemProtocolSp::YmodemProtocol;

namespace {

constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t EOT = 0x04;

// The loader's side of a download: 'C', then ACK for every frame.
struct ScriptedReceiver {
    explicit ScriptedReceiver(FakeLink& line) : link(line) {}

    FakeLink& link;
    std::string bootText;
    bool checksumMode = false;
    int repeatAt = -1;   // frame index answered once with 'C' instead of ACK
    int quietAt = -1;    // frame index answered only after a pause
    bool nakInQuiet = false;

    std::vector<std::vector<uint8_t>> frames;  // everything but EOT, in order
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
        if (!bootText.empty()) {
            link.PeerWrite(std::vector<uint8_t>(bootText.begin(), bootText.end()));
        }
        link.PeerWrite('C');
        bool afterEot = false;
        bool repeated = false;
        for (;;) {
            int head = link.PeerReadByte();
            if (head < 0) {
                error = "no frame";
                return;
            }
            if (head == EOT) {
                ++eotCount;
                afterEot = true;
                link.PeerWrite(ACK);
                continue;
            }
            size_t dataSize = WireDataSize(static_cast<uint8_t>(head));
            if (dataSize == 0) {
                error = "unknown head " + std::to_string(head);
                return;
            }
            bool isFinish = afterEot && head == 0x01;
            size_t checkSize = (checksumMode && !isFinish) ? 1 : 2;
            std::vector<uint8_t> rest = link.PeerRead(2 + dataSize + checkSize);
            if (rest.size() != 2 + dataSize + checkSize) {
                error = "short frame";
                return;
            }
            std::vector<uint8_t> frame = {static_cast<uint8_t>(head)};
            frame.insert(frame.end(), rest.begin(), rest.end());
            frames.push_back(frame);
            int index = static_cast<int>(frames.size()) - 1;
            if (index == repeatAt && !repeated) {
                repeated = true;
                link.PeerWrite('C');
                continue;
            }
            if (index == quietAt) {
                if (nakInQuiet) {
                    link.PeerWrite(NAK);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                bytesDuringQuiet = link.PendingForPeer();
            }
            link.PeerWrite(ACK);
            if (isFinish) {
                return;
            }
        }
    }
};

std::vector<uint8_t> DataOf(const std::vector<uint8_t>& frame, size_t checkSize = 2)
{
    return std::vector<uint8_t>(frame.begin() + 3, frame.end() - static_cast<long>(checkSize));
}

bool CrcHolds(const std::vector<uint8_t>& frame)
{
    std::vector<uint8_t> data = DataOf(frame);
    uint16_t crc = WireCrc16(data.data(), data.size());
    return frame[frame.size() - 2] == (crc >> 8) && frame[frame.size() - 1] == (crc & 0xFF);
}

std::vector<int> Percents(const std::vector<std::string>& lines)
{
    std::vector<int> percents;
    std::regex line(R"( ---- (\d+)%\n)");
    std::smatch m;
    for (const std::string& text : lines) {
        if (std::regex_match(text, m, line)) {
            percents.push_back(std::stoi(m[1]));
        }
    }
    return percents;
}

class YmodemSend : public ::testing::Test {
protected:
    // Sends data under name with data size S; the peer is set up by the caller.
    bool Download(ScriptedReceiver& peer, const std::vector<uint8_t>& data, const std::string& name,
                  int dataSize = 1024)
    {
        YmodemProtocol sender(&link, dataSize);
        peer.Start();
        bool ok = sender.DownloadFile(data.data(), static_cast<uint32_t>(data.size()), name);
        peer.Finish();
        return ok;
    }

    FakeLink link;
    PrintCapture capture;
};

}  // namespace

// ---- frame layout

TEST_F(YmodemSend, ExactKilobyteGoesInOneFrameWithoutPadding)
{
    ScriptedReceiver peer(link);
    std::vector<uint8_t> data = Pattern(1024, 1);
    ASSERT_TRUE(Download(peer, data, "app.bin"));
    ASSERT_EQ(peer.error, "");
    ASSERT_EQ(peer.frames.size(), 3u);  // block 0, one data frame, finish
    const std::vector<uint8_t>& frame = peer.frames[1];
    ASSERT_EQ(frame.size(), 1029u);
    EXPECT_EQ(frame[0], 0x02);
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(frame[2], 0xFE);
    EXPECT_EQ(DataOf(frame), data);
    EXPECT_TRUE(CrcHolds(frame));
    EXPECT_EQ(peer.eotCount, 1);
}

TEST_F(YmodemSend, ShortLastFrameIsZeroPaddedAndCrcCoversThePadding)
{
    ScriptedReceiver peer(link);
    std::vector<uint8_t> data = Pattern(1500, 2);
    ASSERT_TRUE(Download(peer, data, "app.bin"));
    ASSERT_EQ(peer.frames.size(), 4u);
    const std::vector<uint8_t>& last = peer.frames[2];
    ASSERT_EQ(last.size(), 1029u);
    EXPECT_EQ(last[1], 0x02);
    std::vector<uint8_t> expected(data.begin() + 1024, data.end());
    expected.resize(1024, 0x00);  // 476 bytes, then 548 zeros
    EXPECT_EQ(DataOf(last), expected);
    EXPECT_TRUE(CrcHolds(last));
}

TEST_F(YmodemSend, BlockNumbersWrapAt256)
{
    ScriptedReceiver peer(link);
    std::vector<uint8_t> data = Pattern(257 * 1024, 3);
    ASSERT_TRUE(Download(peer, data, "big.bin"));
    ASSERT_EQ(peer.frames.size(), 259u);
    EXPECT_EQ(peer.frames[255][1], 0xFF);  // frame 255
    EXPECT_EQ(peer.frames[256][1], 0x00);  // frame 256
    EXPECT_EQ(peer.frames[256][2], 0xFF);
    EXPECT_EQ(peer.frames[257][1], 0x01);
    EXPECT_EQ(peer.frames[257][2], 0xFE);
    std::vector<uint8_t> joined;
    for (size_t i = 1; i <= 257; ++i) {
        std::vector<uint8_t> d = DataOf(peer.frames[i]);
        joined.insert(joined.end(), d.begin(), d.end());
    }
    EXPECT_EQ(joined, data);
}

TEST_F(YmodemSend, StartFrameCarriesBaseNameAndHexSize)
{
    ScriptedReceiver peer(link);
    ASSERT_TRUE(Download(peer, Pattern(4096, 4), "images/part/flash.img"));
    const std::vector<uint8_t>& start = peer.frames[0];
    ASSERT_EQ(start.size(), 133u);
    EXPECT_EQ(start[0], 0x01);
    EXPECT_EQ(start[1], 0x00);
    EXPECT_EQ(start[2], 0xFF);
    std::vector<uint8_t> expected(128, 0);
    const std::string text = std::string("flash.img") + '\0' + "0x1000";
    std::copy(text.begin(), text.end(), expected.begin());
    EXPECT_EQ(DataOf(start), expected);
    EXPECT_TRUE(CrcHolds(start));
}

TEST_F(YmodemSend, FinishFrameIsBlockZeroOfZeros)
{
    ScriptedReceiver peer(link);
    ASSERT_TRUE(Download(peer, Pattern(10, 5), "a.bin"));
    std::vector<uint8_t> expected(133, 0);
    expected[0] = 0x01;
    expected[2] = 0xFF;
    EXPECT_EQ(peer.frames.back(), expected);
    EXPECT_EQ(peer.eotCount, 1);
}

TEST_F(YmodemSend, EmptyFileSendsNoDataFrame)
{
    ScriptedReceiver peer(link);
    ASSERT_TRUE(Download(peer, {}, "empty.bin"));
    ASSERT_EQ(peer.frames.size(), 2u);
    EXPECT_EQ(peer.eotCount, 1);
    EXPECT_EQ(DataOf(peer.frames[0])[10], '0');  // "empty.bin\0" then "0x0"
    EXPECT_EQ(DataOf(peer.frames[0])[11], 'x');
    EXPECT_EQ(DataOf(peer.frames[0])[12], '0');
}

TEST_F(YmodemSend, HeadByteFollowsTheDataSize)
{
    const std::vector<std::pair<int, uint8_t>> table = {{1024, 0x02}, {2048, 0x0A}, {4096, 0x0B}, {8192, 0x0C}};
    for (const auto& [size, head] : table) {
        FakeLink line;
        ScriptedReceiver peer(line);
        std::vector<uint8_t> data = Pattern(static_cast<size_t>(size) + 1, 6);
        YmodemProtocol sender(&line, size);
        peer.Start();
        ASSERT_TRUE(sender.DownloadFile(data.data(), static_cast<uint32_t>(data.size()), "x.bin")) << size;
        peer.Finish();
        ASSERT_EQ(peer.frames.size(), 4u) << size;
        for (int i : {1, 2}) {
            EXPECT_EQ(peer.frames[i][0], head) << size;
            EXPECT_EQ(peer.frames[i].size(), static_cast<size_t>(size) + 5) << size;
            EXPECT_TRUE(CrcHolds(peer.frames[i])) << size;
        }
        EXPECT_EQ(DataOf(peer.frames[2])[0], data.back());
    }
}

TEST_F(YmodemSend, SetSingleFrameDataSizeOverridesTheConstructor)
{
    ScriptedReceiver peer(link);
    YmodemProtocol sender(&link, 0);  // no packet size: 1024
    EXPECT_EQ(sender.GetSingleFrameDataSize(), 1024);
    sender.SetSingleFrameDataSize(4096);
    sender.SetSingleFrameDataSize(-1);  // ignored
    std::vector<uint8_t> data = Pattern(5000, 7);
    peer.Start();
    ASSERT_TRUE(sender.DownloadFile(data.data(), 5000, "y.bin"));
    peer.Finish();
    ASSERT_EQ(peer.frames.size(), 4u);
    EXPECT_EQ(peer.frames[1][0], 0x0B);
}

TEST_F(YmodemSend, ChecksumModeUsesOneByteSumsButKeepsTheFinishFrame)
{
    ScriptedReceiver peer(link);
    peer.checksumMode = true;
    YmodemProtocol sender(&link, 1024);
    sender.SetIsCheckSumCrc(true);
    std::vector<uint8_t> data = Pattern(700, 8);
    peer.Start();
    ASSERT_TRUE(sender.DownloadFile(data.data(), 700, "c.bin"));
    peer.Finish();
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

// ---- file name limit

TEST_F(YmodemSend, NameOf112CharactersFits)
{
    ScriptedReceiver peer(link);
    std::string name(112, 'n');
    ASSERT_TRUE(Download(peer, Pattern(16, 9), "dir/" + name));
    std::vector<uint8_t> data = DataOf(peer.frames[0]);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 112), name);
    EXPECT_EQ(data[112], 0);
    EXPECT_EQ(std::string(data.begin() + 113, data.begin() + 117), "0x10");
}

TEST_F(YmodemSend, NameOf113CharactersFailsBeforeAnyFrame)
{
    ScriptedReceiver peer(link);
    EXPECT_FALSE(Download(peer, Pattern(16, 9), std::string(113, 'n')));
    EXPECT_TRUE(peer.frames.empty());
    std::vector<std::string> lines = capture.Lines();
    auto at = std::find(lines.begin(), lines.end(), "The file name is too long.\n");
    ASSERT_NE(at, lines.end());
    ASSERT_LE(at + 2, lines.end() - 1);
    EXPECT_EQ(*(at + 1), "Init ymodem start frame failed.\n");
    EXPECT_EQ(*(at + 2), "Send ymodem start frame failed.\n");
}

// ---- acknowledgement wait

TEST_F(YmodemSend, RequestWhileWaitingForAckRepeatsTheFrameOnce)
{
    ScriptedReceiver peer(link);
    peer.repeatAt = 1;  // the first data frame
    std::vector<uint8_t> data = Pattern(2048, 10);
    ASSERT_TRUE(Download(peer, data, "r.bin"));
    ASSERT_EQ(peer.frames.size(), 5u);  // block 0, frame 1 twice, frame 2, finish
    EXPECT_EQ(peer.frames[1], peer.frames[2]);
    EXPECT_EQ(peer.frames[3][1], 0x02);
}

TEST_F(YmodemSend, SilenceAndNakDoNotRepeatTheFrame)
{
    ScriptedReceiver peer(link);
    peer.quietAt = 0;
    peer.nakInQuiet = true;
    ASSERT_TRUE(Download(peer, Pattern(100, 11), "q.bin"));
    EXPECT_EQ(peer.bytesDuringQuiet, 0u);
    ASSERT_EQ(peer.frames.size(), 3u);
    EXPECT_EQ(peer.frames[1][1], 0x01);
}

TEST_F(YmodemSend, LostLineEndsTheAckWaitWithItsMessage)
{
    YmodemProtocol sender(&link, 1024);
    std::thread peer([this] {
        link.PeerWrite('C');
        link.PeerRead(133);
        link.Break();
    });
    std::vector<uint8_t> data = Pattern(100, 12);
    EXPECT_FALSE(sender.DownloadFile(data.data(), 100, "l.bin"));
    link.Close();
    peer.join();
    EXPECT_EQ(capture.Count("ACK receiving timed out.\n"), 1);
    EXPECT_EQ(capture.Count("Send ymodem start frame failed.\n"), 1);
}

TEST_F(YmodemSend, CancelDuringAckWaitIsReported)
{
    YmodemProtocol sender(&link, 1024);
    std::thread peer([this] {
        link.PeerWrite('C');
        link.PeerRead(133);
        link.SetCancel(true);
    });
    std::vector<uint8_t> data = Pattern(100, 13);
    EXPECT_FALSE(sender.DownloadFile(data.data(), 100, "c.bin"));
    link.Close();
    peer.join();
    EXPECT_EQ(capture.Count("\nUser Cancelled!\n"), 1);
}

TEST_F(YmodemSend, ShortSendFailsTheFrame)
{
    link.PeerWrite('C');
    link.SetFailSend(true);
    YmodemProtocol sender(&link, 1024);
    std::vector<uint8_t> data = Pattern(100, 14);
    EXPECT_FALSE(sender.DownloadFile(data.data(), 100, "s.bin"));
    EXPECT_EQ(capture.Count("Send data frame failed.\n"), 1);
    EXPECT_EQ(capture.Count("Send ymodem start frame failed.\n"), 1);
}

// ---- handshake

TEST_F(YmodemSend, HandshakeShowsTheBootTextAndAcceptsNak)
{
    YmodemProtocol sender(&link, 1024);
    link.PeerWrite(std::vector<uint8_t>{'b', 'o', 'o', 't', ' ', 'o', 'k', NAK});
    EXPECT_TRUE(sender.YmodemHandshake());
    EXPECT_EQ(capture.Count("boot ok\x15\n"), 1);
}

TEST_F(YmodemSend, HandshakeOnALostLineFailsAtOnce)
{
    YmodemProtocol sender(&link, 1024);
    link.PeerWrite(std::vector<uint8_t>{'x', 'y'});
    link.Break();
    std::vector<uint8_t> data = Pattern(10, 15);
    EXPECT_FALSE(sender.DownloadFile(data.data(), 10, "h.bin"));
    EXPECT_EQ(capture.Count("xy\n"), 1);
    EXPECT_EQ(capture.Count("Ymodem handshake failed.\n"), 1);
    EXPECT_EQ(link.PendingForPeer(), 0u);
}

// ---- progress

TEST_F(YmodemSend, ProgressMarksEveryFrameAndEndsAtHundred)
{
    ScriptedReceiver peer(link);
    ASSERT_TRUE(Download(peer, Pattern(1500, 16), "p.bin"));
    std::vector<std::string> lines = capture.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "#"), 2);
    EXPECT_EQ(Percents(lines), (std::vector<int>{68, 100}));
}

TEST_F(YmodemSend, ProgressLinesEveryTenthNeverAboveHundred)
{
    ScriptedReceiver peer(link);
    ASSERT_TRUE(Download(peer, Pattern(20 * 1024 + 5, 17), "p.bin"));  // 21 frames, step 3
    std::vector<int> percents = Percents(capture.Lines());
    ASSERT_EQ(percents.size(), 7u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.front(), 14);
    EXPECT_EQ(percents.back(), 100);
}
