// The tool as YMODEM receiver (flash read-back), against a scripted loader
// that sends frames built from the wire description.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "line_peers.h"
#include "transport/ymodem_protocol.h"

using YmodemProtocolSp::YmodemProtocol;

namespace {

constexpr int C = 'C';

// What goes wrong once: block 0, or the second data frame.
enum class Fault { NONE, BAD_START, CORRUPT, WRONG_BLOCK };

// The loader's side of a read-back.
struct ScriptedSender {
    explicit ScriptedSender(FakeLink& line) : link(line) {}

    FakeLink& link;
    size_t announcedSize = 0;
    std::vector<Bytes> frames;
    Fault fault = Fault::NONE;
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
        if (fault == Fault::BAD_START) {
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
            if (i == 1 && fault == Fault::CORRUPT) {
                Bytes bad = frames[i];
                bad[3 + 7] ^= 0x01;
                Send(bad);
            }
            if (i == 1 && fault == Fault::WRONG_BLOCK) {
                Send(WireFrame(frames[i][0], 3, Bytes(frames[i].begin() + 3, frames[i].end() - 2)));
            }
            if (streamFirstTwo && i == 0) {
                Bytes both = frames[0];
                both.insert(both.end(), frames[1].begin(), frames[1].end());
                Send(both, 2);
                ++i;
                continue;
            }
            Send(frames[i]);
        }
        link.PeerWrite({EOT});
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
    // `data` sent by the peer in frames under head; the tool asks for exactly its size.
    bool Upload(ScriptedSender& peer, const Bytes& data, uint8_t head = STX, int packetSize = 1024)
    {
        peer.announcedSize = data.size();
        peer.frames = Frames(data, WireDataSize(head), head);
        YmodemProtocol receiver(&peer.link, packetSize);
        peer.Start();
        const bool ok = receiver.UploadFile(m_path, static_cast<uint32_t>(data.size()));
        peer.Finish();
        return ok;
    }

    FakeLink link;
    PrintCapture capture;
    TestSupport::TempDir m_dir{"ymodem-receive"};
    const std::string m_path = m_dir.File("read.bin");
};

}  // namespace

// ---- content: the receiver follows the head byte, never past its buffer

TEST_F(YmodemReceive, FileKeepsExactlyTheRequestedBytesWhateverTheFrameSize)
{
    const struct {
        size_t size;
        int packetSize;
        uint8_t head;
    } cases[] = {{1500, 1024, STX}, {0, 1024, STX}, {10000, 4096, STX}, {10000, 4096, 0x0C}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " head " + std::to_string(c.head));
        PrintCapture prints;
        FakeLink line;
        ScriptedSender peer(line);
        const Bytes data = Pattern(c.size, static_cast<uint32_t>(c.size + c.head));
        std::remove(m_path.c_str());
        ASSERT_TRUE(Upload(peer, data, c.head, c.packetSize));
        EXPECT_EQ(peer.error, "");
        EXPECT_EQ(peer.answers, std::vector<int>(peer.frames.size(), ACK));
        EXPECT_TRUE(std::ifstream(m_path, std::ios::binary).good()) << "the file exists, even when empty";
        EXPECT_TRUE(ReadFile(m_path) == data);
        std::vector<int> percents;
        for (const std::string& text : prints.Lines()) {
            if (text.rfind(" ---- ", 0) == 0) {
                percents.push_back(std::stoi(text.substr(6)));
            }
        }
        if (c.size == 1500) {
            EXPECT_EQ(percents, (std::vector<int>{68, 100}));
        } else if (c.size != 0) {
            EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
            ASSERT_FALSE(percents.empty());
            EXPECT_EQ(percents.back(), 100);
        }
    }
}

// ---- bad frames are asked for again with 'C'

TEST_F(YmodemReceive, CorruptedFramesAndStartBlockAreAskedForAgain)
{
    const Bytes data = Pattern(3000, 24);
    for (Fault fault : {Fault::CORRUPT, Fault::WRONG_BLOCK, Fault::BAD_START}) {
        FakeLink line;
        ScriptedSender peer(line);
        peer.fault = fault;
        ASSERT_TRUE(Upload(peer, data));
        EXPECT_EQ(peer.error, "");
        const std::vector<int> once = {ACK, C, ACK, ACK};
        EXPECT_EQ(peer.answers, (fault == Fault::BAD_START ? std::vector<int>{ACK, ACK, ACK} : once));
        EXPECT_EQ(ReadFile(m_path), data);
    }
}

// ---- bytes behind a frame belong to the next reader

TEST_F(YmodemReceive, FrameRightBehindAnotherIsTakenAndBytesBehindTheClosingBlockStayPending)
{
    const Bytes data = Pattern(2048, 27);
    ScriptedSender peer(link);
    peer.streamFirstTwo = true;
    peer.trailer = {0xEF, 0xBE, 0xAD, 0xDE};
    ASSERT_TRUE(Upload(peer, data));
    EXPECT_EQ(peer.error, "");
    EXPECT_EQ(peer.answers, (std::vector<int>{ACK, ACK}));
    EXPECT_EQ(ReadFile(m_path), data);
    EXPECT_EQ(link.PendingForTool(), peer.trailer);
}

// ---- failures

TEST_F(YmodemReceive, LostLineOrAFileThatCannotBeCreatedFailsWithItsMessages)
{
    const struct {
        bool beforeStart;  // the line goes before block 0 came
        bool lost;         // else the file cannot be created
        std::vector<std::string> messages;
    } cases[] = {
        {true, true, {"YModem SOH frame receiving timed out.\n", "Recv uplaod start frame failed.\n"}},
        {false, true,
         {"Recv uplaod data frame failed.\n", "YModem data frame receiving timed out.\n",
          "Receive data frames failed.\n"}},
        {false, false, {"Recv uplaod data frame failed.\n"}},
    };
    for (const auto& c : cases) {
        PrintCapture prints;
        FakeLink line;
        if (c.beforeStart) {
            line.Break();
        }
        std::thread peer([&line, &c] {
            if (!c.beforeStart) {
                line.PeerReadByte();
                line.PeerWrite(StartBlock("f.bin", 100));
                line.PeerRead(2);
                if (c.lost) {
                    line.Break();
                }
            }
        });
        YmodemProtocol receiver(&line, 1024);
        EXPECT_FALSE(receiver.UploadFile(c.lost ? m_path : ::testing::TempDir() + "no/such/dir/out.bin", 100));
        line.Close();
        peer.join();
        for (const std::string& message : c.messages) {
            EXPECT_EQ(prints.CountLine(message), 1) << message;
        }
    }
}
