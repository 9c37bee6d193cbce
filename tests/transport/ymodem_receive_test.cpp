// The tool as YMODEM receiver (flash read-back), against a scripted loader
// that sends frames built from the wire description.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "line_peers.h"
#include "transport/ymodem_protocol.h"

using YmodemProtocolSp::YmodemProtocol;

namespace {

constexpr int C = 'C';

// Frames of dataSize bytes under head, the last one padded with pad.
std::vector<Bytes> Frames(const Bytes& data, size_t dataSize, uint8_t head, uint8_t pad = 0x00, size_t firstBlock = 1)
{
    std::vector<Bytes> frames;
    for (size_t offset = 0, block = firstBlock; offset < data.size(); offset += dataSize, ++block) {
        Bytes chunk(data.begin() + static_cast<long>(offset),
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
    std::vector<Bytes> frames;
    std::set<size_t> corruptOnce;              // frame index first sent with a flipped data byte
    std::map<size_t, uint8_t> wrongBlockOnce;  // frame index first sent under another block
    bool badStartOnce = false;
    bool streamFirstTwo = false;  // frames 0 and 1 in one write
    Bytes trailer;                // behind the closing block 0, same write

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
        const int got = link.PeerReadByte();
        if (got != byte && error.empty()) {
            error = std::string(what) + ": got " + std::to_string(got);
        }
        return got == byte;
    }

    void Send(const Bytes& frame, size_t answersExpected = 1)
    {
        link.PeerWrite(frame);
        for (size_t i = 0; i < answersExpected; ++i) {
            answers.push_back(link.PeerReadByte());
        }
    }

    void Run()
    {
        if (!Expect(C, "first C")) {
            return;
        }
        const Bytes start = StartBlock("flash.bin", announcedSize);
        if (badStartOnce) {
            Bytes bad = start;
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
                Bytes bad = frames[i];
                bad[3 + 7] ^= 0x01;
                Send(bad);
            }
            if (wrongBlockOnce.count(i) != 0) {
                Send(WireFrame(frames[i][0], wrongBlockOnce[i], Bytes(frames[i].begin() + 3, frames[i].end() - 2)));
            }
            if (streamFirstTwo && i == 0 && frames.size() > 1) {
                Bytes both = frames[0];
                both.insert(both.end(), frames[1].begin(), frames[1].end());
                Send(both, 2);
                ++i;
                continue;
            }
            Send(frames[i]);
        }
        link.PeerWrite(EOT);
        if (!Expect(ACK, "EOT ACK") || !Expect(C, "closing C")) {
            return;
        }
        Bytes closing = WireFrame(SOH, 0, Bytes(128, 0));
        closing.insert(closing.end(), trailer.begin(), trailer.end());
        link.PeerWrite(closing);
        if (Expect(ACK, "closing ACK")) {
            Expect(C, "final C");
        }
    }
};

class YmodemReceive : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = ::testing::TempDir() + "ymodem_receive_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    }
    void TearDown() override { std::remove(m_path.c_str()); }

    // A file of `size` bytes sent as the peer's frames; the peer is set up by the caller.
    bool Upload(ScriptedSender& peer, uint32_t size, int packetSize = 1024)
    {
        YmodemProtocol receiver(&peer.link, packetSize);
        peer.Start();
        const bool ok = receiver.UploadFile(m_path, size);
        peer.Finish();
        return ok;
    }

    std::vector<int> Percents() const
    {
        std::vector<int> percents;
        const std::regex line(R"( ---- (\d+)%\n)");
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

// ---- content: the receiver follows the head byte, never past its buffer

TEST_F(YmodemReceive, FileKeepsExactlyTheRequestedBytesWhateverTheFrameSize)
{
    const struct {
        size_t size;
        int packetSize;
        uint8_t head;
    } cases[] = {{1500, 1024, STX},       {0, 1024, STX},      {300 * 1024 - 17, 1024, STX},
                 {10000, 4096, 0x0B},     {10000, 4096, STX},  {10000, 4096, 0x0C}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " head " + std::to_string(c.head));
        PrintCapture prints;
        FakeLink line;
        ScriptedSender peer(line);
        const Bytes data = Pattern(c.size, static_cast<uint32_t>(c.size + c.head));
        peer.announcedSize = data.size();
        peer.frames = Frames(data, WireDataSize(c.head), c.head);
        std::remove(m_path.c_str());
        ASSERT_TRUE(Upload(peer, static_cast<uint32_t>(c.size), c.packetSize));
        EXPECT_EQ(peer.error, "");
        EXPECT_EQ(peer.answers, std::vector<int>(peer.frames.size(), ACK));
        EXPECT_TRUE(std::ifstream(m_path, std::ios::binary).good()) << "the file exists, even when empty";
        EXPECT_TRUE(ReadFile(m_path) == data);
        const std::vector<int> percents = Percents();
        if (c.size == 1500) {
            EXPECT_EQ(percents, (std::vector<int>{68, 100}));
        } else if (c.size != 0) {
            EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
            ASSERT_FALSE(percents.empty());
            EXPECT_EQ(percents.back(), 100);
        }
    }
}

TEST_F(YmodemReceive, KilobyteFramesFollowedBy128ByteFramesAreTaken)
{
    const Bytes data = Pattern(1500, 23);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(Bytes(data.begin(), data.begin() + 1024), 1024, STX);
    const auto tail = Frames(Bytes(data.begin() + 1024, data.end()), 128, SOH, 0x1A, 2);
    peer.frames.insert(peer.frames.end(), tail.begin(), tail.end());
    ASSERT_TRUE(Upload(peer, 1500));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(ReadFile(m_path), data);
}

// ---- bad frames are asked for again with 'C'

TEST_F(YmodemReceive, CorruptedFramesAndStartBlockAreAskedForAgain)
{
    const Bytes data = Pattern(3000, 24);
    const std::function<void(ScriptedSender&)> faults[] = {
        [](ScriptedSender& p) { p.corruptOnce = {1}; },
        [](ScriptedSender& p) { p.wrongBlockOnce = {{1, 3}}; },  // a frame of another block
        [](ScriptedSender& p) { p.badStartOnce = true; },
    };
    for (const auto& fault : faults) {
        FakeLink line;
        ScriptedSender peer(line);
        peer.announcedSize = data.size();
        peer.frames = Frames(data, 1024, STX);
        fault(peer);
        ASSERT_TRUE(Upload(peer, 3000));
        EXPECT_EQ(peer.error, "");
        const std::vector<int> once = {ACK, C, ACK, ACK};
        EXPECT_EQ(peer.answers, (peer.badStartOnce ? std::vector<int>{ACK, ACK, ACK} : once));
        EXPECT_EQ(ReadFile(m_path), data);
    }
}

// ---- bytes behind a frame belong to the next reader

TEST_F(YmodemReceive, FrameArrivingRightBehindAnotherIsNotLost)
{
    const Bytes data = Pattern(2048, 27);
    ScriptedSender peer(link);
    peer.announcedSize = data.size();
    peer.frames = Frames(data, 1024, STX);
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
    peer.frames = Frames(Pattern(10, 28), 1024, STX);
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
    EXPECT_EQ(capture.CountLine("YModem SOH frame receiving timed out.\n"), 1);
    EXPECT_EQ(capture.CountLine("Recv uplaod start frame failed.\n"), 1);
}

TEST_F(YmodemReceive, LostLineOrAFileThatCannotBeCreatedFailsTheDataStep)
{
    for (bool lost : {true, false}) {
        PrintCapture prints;
        FakeLink line;
        std::thread peer([&line, lost] {
            line.PeerReadByte();
            line.PeerWrite(StartBlock("f.bin", 100));
            line.PeerRead(2);
            if (lost) {
                line.Break();
            }
        });
        YmodemProtocol receiver(&line, 1024);
        EXPECT_FALSE(receiver.UploadFile(lost ? m_path : ::testing::TempDir() + "no/such/dir/out.bin", 100));
        line.Close();
        peer.join();
        EXPECT_EQ(prints.CountLine("Recv uplaod data frame failed.\n"), 1);
        if (lost) {
            EXPECT_EQ(prints.CountLine("YModem data frame receiving timed out.\n"), 1);
            EXPECT_EQ(prints.CountLine("Receive data frames failed.\n"), 1);
        }
    }
}
