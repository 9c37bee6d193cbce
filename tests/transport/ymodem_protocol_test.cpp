// The tool's YMODEM receiver on a pseudo-terminal, against a scripted loader
// that builds frames from the wire description alone, and against an
// independent sender: lrzsz's sb. The sender's frames, how
// a transfer ends early (a lost line, a cancel) and reads into memory (the
// burn check's read-back) are checked end to end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "support/child_process.h"
#include "support/print_capture.h"
#include "support/pty_pair.h"
#include "transport/scripted_board.h"
#include "support/test_files.h"
#include "transport/chip_link.h"
#include "transport/wire_bytes.h"
#include "transport/ymodem_protocol.h"

using TestSupport::Bytes;
using TestSupport::Pattern;
using TestSupport::PrintCapture;
using TestSupport::ReadFile;
using YmodemProtocolSp::YmodemProtocol;

namespace {

using namespace TestWire;

// The tool's end of a pseudo-terminal as the chip object's line; the far end
// hanging up is a lost line.
class PtyLink : public ChipLink {
public:
    explicit PtyLink(int fd) : m_fd(fd) {}

    unsigned long Send(const unsigned char* data, unsigned long n) override { return Done(write(m_fd, data, n)); }
    unsigned long Receive(unsigned char* buffer, unsigned long n) override { return Done(read(m_fd, buffer, n)); }
    bool WaitForData(uint32_t timeoutMs) override { return Poll(static_cast<int>(timeoutMs)) == POLLIN; }
    bool CheckIsCancel() override { return false; }
    bool LineLost() override { return (Poll(0) & (POLLHUP | POLLERR)) != 0; }
    Common::RunEvents& Events() override { return m_events; }
    void Fail(Common::OutcomeKind, std::string_view message) override { Common::Print(m_events, message); }

private:
    static unsigned long Done(ssize_t n) { return n > 0 ? static_cast<unsigned long>(n) : 0; }
    // The events on the line within ms milliseconds; 0 when none came.
    short Poll(int ms) const
    {
        struct pollfd pfd {m_fd, POLLIN, 0};
        return poll(&pfd, 1, ms) > 0 ? pfd.revents : 0;
    }

    int m_fd;
    Common::CallbackEvents m_events;
};

// The tool reads the slave of a pseudo-terminal, the scripted loader plays
// the board on the master.
struct ScriptedLine {
    ScriptedLine() : slave(open(board.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)), tool(slave) {}
    ~ScriptedLine() { close(slave); }

    // What the loader sent and the tool has not taken.
    Bytes PendingForTool() const
    {
        Bytes rest;
        uint8_t chunk[256];
        for (ssize_t n; (n = read(slave, chunk, sizeof(chunk))) > 0;) {
            rest.insert(rest.end(), chunk, chunk + n);
        }
        return rest;
    }

    PtyBoard board;
    const int slave;
    PtyLink tool;
};

// What goes wrong once: block 0, or the second data frame.
// STREAM: frames 0 and 1 in one write. RESENT: the second frame comes again
// at once, as from a board that took the tool's ACK for 'C'. START_ACK_LOST:
// block 0 comes again on the 'C' that follows. A data block or EOT whose ACK
// the board lost is a row of the e2e reply faults (--lose-read-ack).
enum class Fault { NONE, BAD_START, CORRUPT, WRONG_BLOCK, STREAM, RESENT, START_ACK_LOST };

const Bytes TRAILER = {0xEF, 0xBE, 0xAD, 0xDE};  // behind the closing block 0, same write
const Bytes READ_DATA = Pattern(10000, 24);

// The loader's side of a read-back. Each write waits for the tool's answers
// to the one before (its first 'C' before block 0), so the board's log holds
// every answer in order.
std::vector<Step> Loader(size_t blockSize, Fault fault)
{
    const std::vector<Bytes> frames = DataBlocks(READ_DATA, blockSize);
    const Bytes start = HeaderBlock("flash.bin", "0x2710");  // the 10000 bytes: the loader gives sizes in hex
    std::vector<Step> steps;
    size_t answers = 1;  // the tool's answers to the write before; at first its 'C'
    const auto send = [&](const Bytes& bytes, size_t answered) {
        steps.push_back({answers, bytes});
        answers = answered;
    };
    if (fault == Fault::BAD_START) {
        Bytes bad = start;
        bad[10] ^= 0x40;
        send(bad, 1);
    }
    send(start, 2);
    if (fault == Fault::START_ACK_LOST) {
        send(start, 2);  // taken for a request to repeat it: the tool's ACK was lost
    }
    for (size_t i = 0; i < frames.size(); ++i) {
        const Bytes& f = frames[i];
        if (i == 1 && fault == Fault::CORRUPT) {
            Bytes bad = f;
            bad[3 + 7] ^= 0x01;
            send(bad, 1);
        }
        if (i == 1 && fault == Fault::WRONG_BLOCK) {
            send(Block(f[0], 3, Bytes(f.begin() + 3, f.end() - 2), f.size() - 5), 1);
        }
        const bool both = i == 0 && fault == Fault::STREAM;
        send(both ? Concat({f, frames[++i]}) : f, both ? 2 : 1);
        if (i == 1 && fault == Fault::RESENT) {
            send(f, 1);
        }
    }
    send({EOT}, 2);
    send(Concat({ClosingBlock(), TRAILER}), 2);
    send({}, 0);  // only takes the answers to the closing block
    return steps;
}

class Ymodem : public ::testing::Test {
protected:
    PrintCapture capture;
    TestSupport::TempDir m_dir{"ymodem"};
    const std::string m_path = m_dir.File("read.bin");
};

}  // namespace

// ---- the receiver follows the head byte, never past its buffer; bad frames, and a
// board that waits, are asked for again with 'C'; a frame sent again is
// acknowledged and kept once; bytes behind a frame belong to the next reader

TEST_F(Ymodem, ReceiveSizesFramesByTheirHeadAsksAgainTakesARepeatOnceAndLeavesWhatFollows)
{
    const struct {
        Fault fault;
        size_t blockSize;
        int packetSize;
        Bytes answers;  // to block 0 and the data frames
    } cases[] = {
        {Fault::NONE, 8192, 4096, {ACK, C, ACK, ACK}},  // frames twice the packet size
        {Fault::CORRUPT, 1024, 1024, Concat({{ACK, C, ACK, C}, Bytes(9, ACK)})},
        {Fault::WRONG_BLOCK, 1024, 1024, Concat({{ACK, C, ACK, C}, Bytes(9, ACK)})},
        {Fault::BAD_START, 1024, 1024, Concat({{C, ACK, C}, Bytes(10, ACK)})},
        {Fault::STREAM, 1024, 1024, Concat({{ACK, C}, Bytes(10, ACK)})},
        {Fault::RESENT, 1024, 1024, Concat({{ACK, C}, Bytes(11, ACK)})},
        {Fault::START_ACK_LOST, 1024, 1024, Concat({{ACK, C, ACK, C}, Bytes(10, ACK)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.fault)) + " blocks of " + std::to_string(c.blockSize));
        ScriptedLine line;
        std::remove(m_path.c_str());
        line.board.Play(Script(Loader(c.blockSize, c.fault)));
        const uint32_t size = static_cast<uint32_t>(READ_DATA.size());
        ASSERT_TRUE(YmodemProtocol(&line.tool, c.packetSize).UploadFile(m_path, size));
        line.board.Join();
        // 'C' for block 0 first; ACK and 'C' after EOT and after the closing block last.
        EXPECT_EQ(line.board.Log(), Concat({{C}, c.answers, {ACK, C, ACK, C}}));
        EXPECT_EQ(ReadFile(m_path), READ_DATA);
        EXPECT_EQ(line.PendingForTool(), TRAILER) << "what came behind the closing block";
    }
}

// ---- failures

TEST_F(Ymodem, ReceiveLostLineOrAFileThatCannotBeCreatedFailsWithItsMessages)
{
    ScriptedLine lost;
    lost.board.CloseLine();  // before block 0 came; a line lost mid-data is the e2e read cut mid-data
    EXPECT_FALSE(YmodemProtocol(&lost.tool, 1024).UploadFile(m_path, 100));
    EXPECT_EQ(capture.CountLine("YModem SOH frame receiving timed out.\n"), 1);
    EXPECT_EQ(capture.CountLine("Recv uplaod start frame failed.\n"), 1);
    ScriptedLine line;
    line.board.Play(Script({{1, HeaderBlock("f.bin", "0x64")}, {2, {}}}));
    EXPECT_FALSE(YmodemProtocol(&line.tool, 1024).UploadFile(::testing::TempDir() + "no/such/dir/out.bin", 100));
    EXPECT_EQ(capture.CountLine("Recv uplaod data frame failed.\n"), 1);
}

TEST_F(Ymodem, ReceiveFromLrzszKilobyteBlocksWholeOrWithA128ByteTailAndSmallBlocksOnly)
{
    if (access("/usr/bin/sb", X_OK) != 0) {
        GTEST_SKIP() << "lrzsz (sb) is not installed";
    }
    const std::pair<size_t, std::string> transfers[] = {{4096, "-k"}, {1500, "-k"}, {1000, ""}};
    for (const auto& [size, options] : transfers) {
        // A line of its own per transfer: the receiver's last 'C' of one
        // transfer must not be what starts the next sender.
        TestSupport::PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        const Bytes data = Pattern(size, static_cast<uint32_t>(size));
        ASSERT_TRUE(TestSupport::WriteFile(m_dir.File("src.bin"), data));
        TestSupport::RunResult run;
        std::thread sender([&] {
            const std::string command = "exec sb --ymodem " + options + " " + m_dir.File("src.bin");
            const std::string& slave = pty.SlavePath();
            run = TestSupport::RunProgram("/bin/sh", {"-c", command + " <" + slave + " >" + slave}, 60000);
        });
        PtyLink line(pty.Master());  // sb holds the slave
        const bool ok = YmodemProtocol(&line, 1024).UploadFile(m_path, static_cast<uint32_t>(size));
        sender.join();
        EXPECT_TRUE(ok) << size;
        EXPECT_EQ(run.exitCode, 0) << size;
        // sb pads its last block with 0x1A; the receiver keeps the size it was given.
        EXPECT_EQ(ReadFile(m_path), data) << size;
    }
}
