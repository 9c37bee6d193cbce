// The tool's YMODEM sender and receiver against scripted loaders that build
// and check frames from the wire description alone, and the receiver against
// an independent sender: lrzsz's sb on the slave side of a pseudo-terminal.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>

#include "support/child_process.h"
#include "support/print_capture.h"
#include "support/pty_pair.h"
#include "support/test_files.h"
#include "transport/chip_link.h"
#include "transport/transport_protocol_base.h"
#include "transport/ymodem_protocol.h"

using TestSupport::Bytes;
using TestSupport::Pattern;
using TestSupport::PrintCapture;
using TestSupport::ReadFile;
using YmodemProtocolSp::YmodemProtocol;

namespace {

// --- YMODEM, as the wire description lays it out ------------------------------------

constexpr int PEER_TIMEOUT_MS = 20000;  // "must end" bound of a peer read
constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;

// Data bytes behind a head byte.
size_t WireDataSize(uint8_t head)
{
    switch (head) {
        case 0x01: return 128;
        case 0x02: return 1024;
        case 0x0A: return 2048;
        case 0x0B: return 4096;
        case 0x0C: return 8192;
        default: return 0;
    }
}

// head, block, ~block, data, CRC high byte first.
Bytes WireFrame(uint8_t head, uint8_t block, const Bytes& data)
{
    const uint16_t crc = TestSupport::Crc16(data.data(), data.size());
    Bytes frame(3 + data.size() + 2);
    frame[0] = head;
    frame[1] = block;
    frame[2] = static_cast<uint8_t>(0xFF - block);
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    frame[3 + data.size()] = static_cast<uint8_t>(crc >> 8);
    frame[4 + data.size()] = static_cast<uint8_t>(crc & 0xFF);
    return frame;
}

// Block 0: name, NUL, size as "0x..." text, zeros.
Bytes StartBlock(const std::string& name, size_t size)
{
    Bytes data(128, 0);
    std::copy(name.begin(), name.end(), data.begin());
    char* text = reinterpret_cast<char*>(data.data()) + name.size() + 1;
    std::snprintf(text, data.size() - name.size() - 1, "0x%zx", size);
    return WireFrame(SOH, 0, data);
}

// Frames of dataSize bytes under head, the last one padded with zeros.
std::vector<Bytes> Frames(const Bytes& data, size_t dataSize, uint8_t head)
{
    std::vector<Bytes> frames;
    for (size_t offset = 0, block = 1; offset < data.size(); offset += dataSize, ++block) {
        Bytes chunk(data.begin() + static_cast<long>(offset),
                    data.begin() + static_cast<long>(std::min(data.size(), offset + dataSize)));
        chunk.resize(dataSize, 0x00);
        frames.push_back(WireFrame(head, static_cast<uint8_t>(block & 0xFF), chunk));
    }
    return frames;
}

// The chip object's line in memory: the tool's side first, then the scripted peer's.
class FakeLink : public ChipLink {
public:
    // ---- tool side
    unsigned long Send(const unsigned char* data, unsigned long length) override
    {
        if (failSend || m_broken) {
            return 0;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_toPeer.insert(m_toPeer.end(), data, data + length);
        m_peerCv.notify_all();
        return length;
    }
    unsigned long Receive(unsigned char* buffer, unsigned long length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const size_t n = std::min<size_t>(length, m_toTool.size());
        std::copy(m_toTool.begin(), m_toTool.begin() + static_cast<long>(n), buffer);
        m_toTool.erase(m_toTool.begin(), m_toTool.begin() + static_cast<long>(n));
        return static_cast<unsigned long>(n);
    }
    bool WaitForData(uint32_t timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_toolCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_toTool.empty() || m_broken; });
        return !m_toTool.empty();
    }
    bool CheckIsCancel() override { return cancel; }
    long long GetThisPtr() const override { return 0x5EED; }
    int SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize, int timeout) override
    {
        command.assign(reinterpret_cast<const char*>(cmd), length);
        replyZeroed = std::all_of(reply, reply + replySize, [](unsigned char b) { return b == 0; });
        commandReplySize = replySize;
        commandTimeout = timeout;
        ++commands;
        return commandAnswer;
    }
    bool IsLineBroken() const override { return m_broken; }

    // What SendCmd was given, and what it answers.
    std::string command;
    bool replyZeroed = false;
    int commandReplySize = 0;
    int commandTimeout = 0;
    int commands = 0;
    int commandAnswer = 1;

    // ---- peer side
    void PeerWrite(const Bytes& bytes)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_toTool.insert(m_toTool.end(), bytes.begin(), bytes.end());
        m_toolCv.notify_all();
    }

    // Exactly count bytes, or fewer when the wait ends or the line closes.
    Bytes PeerRead(size_t count, int timeoutMs = PEER_TIMEOUT_MS)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_peerCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return m_toPeer.size() >= count || m_closed; });
        const size_t n = std::min(count, m_toPeer.size());
        Bytes bytes(m_toPeer.begin(), m_toPeer.begin() + static_cast<long>(n));
        m_toPeer.erase(m_toPeer.begin(), m_toPeer.begin() + static_cast<long>(n));
        return bytes;
    }
    // The next byte, or -1.
    int PeerReadByte()
    {
        const Bytes b = PeerRead(1);
        return b.empty() ? -1 : b[0];
    }
    // What the tool has sent and the peer has not read.
    size_t PendingForPeer()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_toPeer.size();
    }
    // What the peer has sent and the tool has not taken.
    Bytes PendingForTool()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return Bytes(m_toTool.begin(), m_toTool.end());
    }
    // Wakes a blocked peer once the tool is done.
    void Close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_peerCv.notify_all();
    }
    void Break()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_broken = true;
        m_toolCv.notify_all();
    }
    std::atomic<bool> cancel{false};
    std::atomic<bool> failSend{false};  // every send takes nothing

private:
    std::mutex m_mutex;
    std::condition_variable m_toolCv;
    std::condition_variable m_peerCv;
    std::deque<uint8_t> m_toTool;
    std::deque<uint8_t> m_toPeer;
    bool m_closed = false;
    std::atomic<bool> m_broken{false};
};

constexpr int C = 'C';

// A loader's side, run on its own thread against the tool.
struct ScriptedPeer {
    explicit ScriptedPeer(FakeLink& line) : link(line) {}
    virtual ~ScriptedPeer() = default;
    virtual void Run() = 0;

    void Start() { thread = std::thread([this] { Run(); }); }
    void Finish()
    {
        link.Close();
        thread.join();
    }

    FakeLink& link;
    std::string error;
    std::thread thread;
};

// The loader's side of a download: 'C', then ACK for every frame.
struct ScriptedReceiver : ScriptedPeer {
    using ScriptedPeer::ScriptedPeer;

    bool checksumMode = false;
    int repeatAt = -1;  // frame index answered once with 'C' instead of ACK
    int quietAt = -1;   // frame index answered with NAK, then ACK after a pause

    std::vector<Bytes> frames;  // everything but EOT, in order
    int eotCount = 0;
    size_t bytesDuringQuiet = 0;

    void Run() override
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

// What goes wrong once: block 0, or the second data frame.
// STREAM: frames 0 and 1 in one write.
enum class Fault { NONE, BAD_START, CORRUPT, WRONG_BLOCK, STREAM };

// The loader's side of a read-back.
struct ScriptedSender : ScriptedPeer {
    using ScriptedPeer::ScriptedPeer;

    size_t announcedSize = 0;
    std::vector<Bytes> frames;
    Fault fault = Fault::NONE;
    const Bytes trailer = {0xEF, 0xBE, 0xAD, 0xDE};  // behind the closing block 0, same write

    std::vector<int> answers;  // what the tool said after each data frame

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

    void Run() override
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
            if (i == 0 && fault == Fault::STREAM) {
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

// The master fd of the pair as the chip object's line.
class PtyLink : public ChipLink {
public:
    explicit PtyLink(int fd) : m_fd(fd) {}

    unsigned long Send(const unsigned char* data, unsigned long length) override
    {
        unsigned long done = 0;
        while (done < length) {
            ssize_t n = write(m_fd, data + done, length - done);
            if (n > 0) {
                done += static_cast<unsigned long>(n);
                continue;
            }
            struct pollfd pfd {m_fd, POLLOUT, 0};
            if (poll(&pfd, 1, 5000) <= 0) {
                break;
            }
        }
        return done;
    }
    unsigned long Receive(unsigned char* buffer, unsigned long length) override
    {
        ssize_t n = read(m_fd, buffer, length);
        return n > 0 ? static_cast<unsigned long>(n) : 0;
    }
    bool WaitForData(uint32_t timeoutMs) override
    {
        struct pollfd pfd {m_fd, POLLIN, 0};
        return poll(&pfd, 1, static_cast<int>(timeoutMs)) > 0 && (pfd.revents & POLLIN) != 0;
    }
    bool CheckIsCancel() override { return false; }
    long long GetThisPtr() const override { return 1; }
    int SendCmd(unsigned char*, unsigned long, unsigned char*, int, int) override { return 0; }
    bool IsLineBroken() const override { return false; }

private:
    int m_fd;
};

class Ymodem : public ::testing::Test {
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
    TestSupport::TempDir m_dir{"ymodem"};
    const std::string m_path = m_dir.File("read.bin");
};
using YmodemSend = Ymodem;
using YmodemReceive = Ymodem;

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
    const uint32_t sum = std::accumulate(peer.frames[1].begin() + 3, peer.frames[1].begin() + 1027, 0u);
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
        {[](FakeLink& l) { l.cancel = true; }, {"\nUser Cancelled!\n"}},
        {nullptr, {"Send data frame failed.\n", "Send ymodem start frame failed.\n"}},
    };
    for (const auto& c : cases) {
        PrintCapture prints;
        FakeLink line;
        YmodemProtocol sender(&line, 1024);
        line.PeerWrite({'C'});
        line.failSend = c.afterStartFrame == nullptr;
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

// ---- bad frames are asked for again with 'C'; bytes behind a frame belong to the next reader

TEST_F(YmodemReceive, BadFramesAreAskedForAgainAndBytesBehindAFrameBelongToTheNextReader)
{
    const Bytes data = Pattern(3000, 24);
    const std::pair<Fault, std::vector<int>> cases[] = {
        {Fault::CORRUPT, {ACK, C, ACK, ACK}},
        {Fault::WRONG_BLOCK, {ACK, C, ACK, ACK}},
        {Fault::BAD_START, {ACK, ACK, ACK}},
        {Fault::STREAM, {ACK, ACK, ACK}},
    };
    for (const auto& [fault, answers] : cases) {
        FakeLink line;
        ScriptedSender peer(line);
        peer.fault = fault;
        ASSERT_TRUE(Upload(peer, data));
        EXPECT_EQ(peer.error, "");
        EXPECT_EQ(peer.answers, answers);
        EXPECT_EQ(ReadFile(m_path), data);
        EXPECT_EQ(line.PendingForTool(), peer.trailer) << "what came behind the closing block";
    }
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

TEST_F(YmodemReceive, FromLrzszKilobyteBlocksWholeOrWithA128ByteTailAndSmallBlocksOnly)
{
    if (access("/usr/bin/sb", X_OK) != 0) {
        GTEST_SKIP() << "lrzsz (sb) is not installed";
    }
    TestSupport::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const std::pair<size_t, std::string> transfers[] = {{4096, "-k"}, {1500, "-k"}, {1000, ""}};
    for (const auto& [size, options] : transfers) {
        const Bytes data = Pattern(size, static_cast<uint32_t>(size));
        ASSERT_TRUE(TestSupport::WriteFile(m_dir.File("src.bin"), data));
        TestSupport::RunResult run;
        std::thread sender([&] {
            const std::string command = "exec sb --ymodem " + options + " " + m_dir.File("src.bin");
            const std::string& slave = pty.SlavePath();
            run = TestSupport::RunProgram("/bin/sh", {"-c", command + " <" + slave + " >" + slave}, 60000);
        });
        PtyLink line(pty.Master());
        const bool ok = YmodemProtocol(&line, 1024).UploadFile(m_path, static_cast<uint32_t>(size));
        sender.join();
        EXPECT_TRUE(ok) << size;
        EXPECT_EQ(run.exitCode, 0) << size;
        // sb pads its last block with 0x1A; the receiver keeps the size it was given.
        EXPECT_EQ(ReadFile(m_path), data) << size;
    }
}

// ---- the protocol base: the boot command goes through the chip's text channel

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
