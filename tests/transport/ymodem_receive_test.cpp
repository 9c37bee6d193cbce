// The tool as YMODEM receiver (flash read-back), against a scripted loader
// that sends frames built from the wire description.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <unistd.h>

#include "pty_pair.h"
#include "transport/ymodem_protocol.h"
#include "ymodem_fake_link.h"

using namespace YmodemTest;
using YmodemProtocolSp::YmodemProtocol;

namespace {

constexpr int ACK = 0x06;
constexpr int C = 'C';
constexpr uint8_t EOT = 0x04;

std::vector<uint8_t> StartBlock(const std::string& name, size_t size)
{
    std::vector<uint8_t> data(128, 0);
    char sizeText[32];
    std::snprintf(sizeText, sizeof(sizeText), "0x%zx", size);
    std::string text = name + '\0' + sizeText;
    std::copy(text.begin(), text.end(), data.begin());
    return WireFrame(0x01, 0, data);
}

// Frames of dataSize bytes under head, the last one padded with pad.
std::vector<std::vector<uint8_t>> Frames(const std::vector<uint8_t>& data, size_t dataSize, uint8_t head,
                                         uint8_t pad = 0x00, size_t firstBlock = 1)
{
    std::vector<std::vector<uint8_t>> frames;
    for (size_t offset = 0, block = firstBlock; offset < data.size(); offset += dataSize, ++block) {
        std::vector<uint8_t> chunk(data.begin() + static_cast<long>(offset),
                                   data.begin() + static_cast<long>(std::min(data.size(), offset + dataSize)));
        chunk.resize(dataSize, pad);
        frames.push_back(WireFrame(head, static_cast<uint8_t>(block & 0xFF), chunk));
    }
    return frames;
}

// The loader's side of a read-back.
struct ScriptedSender {
    explicit ScriptedSender(FakeLink& line) : link(line) {}

    FakeLink& link;
    size_t announcedSize = 0;
    std::vector<std::vector<uint8_t>> frames;
    std::set<size_t> corruptOnce;             // frame index first sent with a flipped data byte
    std::map<size_t, uint8_t> wrongBlockOnce;  // frame index first sent under another block
    bool badStartOnce = false;
    bool streamFirstTwo = false;               // frames 0 and 1 in one write
    std::vector<uint8_t> trailer;               // behind the closing block 0, same write

    std::vector<int> answers;  // what the tool said after each data frame
    std::string error;
    std::thread thread;

    void Start() { thread = std::thread([this] { Run(); }); }
    void Finish()
    {
        link.Close();
        thread.join();
    }

    bool Expect(int byte, const char* what)
    {
        int got = link.PeerReadByte();
        if (got != byte) {
            error = std::string(what) + ": got " + std::to_string(got);
            return false;
        }
        return true;
    }

    void Run()
    {
        if (!Expect(C, "first C")) {
            return;
        }
        std::vector<uint8_t> start = StartBlock("flash.bin", announcedSize);
        if (badStartOnce) {
            std::vector<uint8_t> bad = start;
            bad[10] ^= 0x40;
            link.PeerWrite(bad);
            if (!Expect(C, "C after bad block 0")) {
                return;
            }
        }
        link.PeerWrite(start);
        if (!Expect(ACK, "block 0 ACK") || !Expect(C, "block 0 C")) {
            return;
        }
        for (size_t i = 0; i < frames.size(); ++i) {
            if (corruptOnce.count(i) != 0) {
                std::vector<uint8_t> bad = frames[i];
                bad[3 + 7] ^= 0x01;
                link.PeerWrite(bad);
                answers.push_back(link.PeerReadByte());
            }
            if (wrongBlockOnce.count(i) != 0) {
                std::vector<uint8_t> other = frames[i];
                std::vector<uint8_t> data(other.begin() + 3, other.end() - 2);
                link.PeerWrite(WireFrame(other[0], wrongBlockOnce[i], data));
                answers.push_back(link.PeerReadByte());
            }
            if (streamFirstTwo && i == 0 && frames.size() > 1) {
                std::vector<uint8_t> both = frames[0];
                both.insert(both.end(), frames[1].begin(), frames[1].end());
                link.PeerWrite(both);
                answers.push_back(link.PeerReadByte());
                answers.push_back(link.PeerReadByte());
                ++i;
                continue;
            }
            link.PeerWrite(frames[i]);
            answers.push_back(link.PeerReadByte());
        }
        link.PeerWrite(EOT);
        if (!Expect(ACK, "EOT ACK") || !Expect(C, "closing C")) {
            return;
        }
        std::vector<uint8_t> closing = WireFrame(0x01, 0, std::vector<uint8_t>(128, 0));
        closing.insert(closing.end(), trailer.begin(), trailer.end());
        link.PeerWrite(closing);
        if (Expect(ACK, "closing ACK")) {
            Expect(C, "final C");
        }
    }
};

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class YmodemReceive : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = ::testing::TempDir() + "ymodem_receive_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    }
    void TearDown() override { std::remove(m_path.c_str()); }

    bool Upload(ScriptedSender& peer, uint32_t size, int packetSize = 1024)
    {
        YmodemProtocol receiver(&link, packetSize);
        peer.Start();
        bool ok = receiver.UploadFile(m_path, size);
        peer.Finish();
        return ok;
    }

    std::vector<int> Percents() const
    {
        std::vector<int> percents;
        std::regex line(R"( ---- (\d+)%\n)");
        std::smatch m;
        for (const std::string& text : capture.Lines()) {
            if (std::regex_match(text, m, line)) {
                percents.push_back(std::stoi(m[1]));
            }
        }
        return percents;
    }

    FakeLink link;
    PrintCapture capture;
    std::string m_path;
};

}  // namespace

// ---- content

TEST_F(YmodemReceive, FileKeepsExactlyTheRequestedBytes)
{
    std::vector<uint8_t> data = Pattern(1500, 21);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(data, 1024, 0x02);
    ASSERT_TRUE(Upload(peer, 1500));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(ReadFile(m_path), data);
    EXPECT_EQ(peer.answers, (std::vector<int>{ACK, ACK}));
    EXPECT_EQ(Percents(), (std::vector<int>{68, 100}));
}

TEST_F(YmodemReceive, BlockNumbersWrapAt256)
{
    std::vector<uint8_t> data = Pattern(300 * 1024 - 17, 22);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(data, 1024, 0x02);
    ASSERT_TRUE(Upload(peer, static_cast<uint32_t>(data.size())));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(ReadFile(m_path), data);
    std::vector<int> percents = Percents();
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 100);
}

TEST_F(YmodemReceive, EmptyReadBackCreatesAnEmptyFile)
{
    ScriptedSender peer(link);
    ASSERT_TRUE(Upload(peer, 0));
    EXPECT_EQ(peer.error, "");
    std::ifstream in(m_path, std::ios::binary);
    EXPECT_TRUE(in.good());
    EXPECT_TRUE(ReadFile(m_path).empty());
}

// ---- frame sizes: the receiver follows the head byte

TEST_F(YmodemReceive, KilobyteFramesFollowedBy128ByteFramesAreTaken)
{
    std::vector<uint8_t> data = Pattern(1500, 23);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(std::vector<uint8_t>(data.begin(), data.begin() + 1024), 1024, 0x02);
    auto tail = Frames(std::vector<uint8_t>(data.begin() + 1024, data.end()), 128, 0x01, 0x1A, 2);
    peer.frames.insert(peer.frames.end(), tail.begin(), tail.end());
    ASSERT_TRUE(Upload(peer, 1500));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(ReadFile(m_path), data);
}

TEST_F(YmodemReceive, PacketSizeAboveOneKilobyteNeverOverrunsTheBuffer)
{
    // With 4096 set, the loader may send 4096-byte frames or keep 1 KiB ones.
    for (uint8_t head : {uint8_t{0x0B}, uint8_t{0x02}, uint8_t{0x0C}}) {
        FakeLink line;
        std::vector<uint8_t> data = Pattern(10000, head);
        ScriptedSender peer(line);
        peer.announcedSize = data.size();
        peer.frames = Frames(data, WireDataSize(head), head);
        YmodemProtocol receiver(&line, 4096);
        peer.Start();
        ASSERT_TRUE(receiver.UploadFile(m_path, 10000)) << int(head);
        peer.Finish();
        EXPECT_EQ(peer.error, "") << int(head);
        EXPECT_EQ(ReadFile(m_path), data) << int(head);
    }
}

// ---- bad frames are asked for again with 'C'

TEST_F(YmodemReceive, CorruptedFrameIsAskedForAgainAndTheSameBlockExpected)
{
    std::vector<uint8_t> data = Pattern(3000, 24);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(data, 1024, 0x02);
    peer.corruptOnce = {1};
    ASSERT_TRUE(Upload(peer, 3000));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(peer.answers, (std::vector<int>{ACK, C, ACK, ACK}));
    EXPECT_EQ(ReadFile(m_path), data);
}

TEST_F(YmodemReceive, FrameOfAnotherBlockIsTreatedAsCorrupted)
{
    std::vector<uint8_t> data = Pattern(3000, 25);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(data, 1024, 0x02);
    peer.wrongBlockOnce = {{1, 3}};
    ASSERT_TRUE(Upload(peer, 3000));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(peer.answers, (std::vector<int>{ACK, C, ACK, ACK}));
    EXPECT_EQ(ReadFile(m_path), data);
}

TEST_F(YmodemReceive, BadStartBlockIsAskedForAgain)
{
    std::vector<uint8_t> data = Pattern(100, 26);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(data, 1024, 0x02);
    peer.badStartOnce = true;
    ASSERT_TRUE(Upload(peer, 100));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(ReadFile(m_path), data);
}

// ---- bytes behind a frame belong to the next reader

TEST_F(YmodemReceive, FrameArrivingRightBehindAnotherIsNotLost)
{
    std::vector<uint8_t> data = Pattern(2048, 27);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(data, 1024, 0x02);
    peer.streamFirstTwo = true;
    ASSERT_TRUE(Upload(peer, 2048));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(peer.answers, (std::vector<int>{ACK, ACK}));
    EXPECT_EQ(ReadFile(m_path), data);
}

TEST_F(YmodemReceive, BytesBehindTheClosingBlockStayPending)
{
    ScriptedSender peer(link);
    peer.announcedSize = 10;
    peer.frames = Frames(Pattern(10, 28), 1024, 0x02);
    peer.trailer = {0xEF, 0xBE, 0xAD, 0xDE};
    ASSERT_TRUE(Upload(peer, 10));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(link.PendingForTool(), peer.trailer);
}

// ---- failures

TEST_F(YmodemReceive, LostLineBeforeBlockZeroFailsWithBothMessages)
{
    link.Break();
    YmodemProtocol receiver(&link, 1024);
    EXPECT_FALSE(receiver.UploadFile(m_path, 100));
    EXPECT_EQ(capture.Count("YModem SOH frame receiving timed out.\n"), 1);
    EXPECT_EQ(capture.Count("Recv uplaod start frame failed.\n"), 1);
}

TEST_F(YmodemReceive, LostLineDuringDataFailsTheDataStep)
{
    std::thread peer([this] {
        link.PeerReadByte();
        link.PeerWrite(StartBlock("f.bin", 100));
        link.PeerRead(2);
        link.Break();
    });
    YmodemProtocol receiver(&link, 1024);
    EXPECT_FALSE(receiver.UploadFile(m_path, 100));
    link.Close();
    peer.join();
    EXPECT_EQ(capture.Count("YModem data frame receiving timed out.\n"), 1);
    EXPECT_EQ(capture.Count("Receive data frames failed.\n"), 1);
    EXPECT_EQ(capture.Count("Recv uplaod data frame failed.\n"), 1);
}

TEST_F(YmodemReceive, FileThatCannotBeCreatedFailsTheDataStep)
{
    std::thread peer([this] {
        link.PeerReadByte();
        link.PeerWrite(StartBlock("f.bin", 100));
        link.PeerRead(2);
    });
    YmodemProtocol receiver(&link, 1024);
    EXPECT_FALSE(receiver.UploadFile(::testing::TempDir() + "no/such/dir/out.bin", 100));
    link.Close();
    peer.join();
    EXPECT_EQ(capture.Count("Recv uplaod data frame failed.\n"), 1);
}
