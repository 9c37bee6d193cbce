// The built tarnwick-sim driven through its pseudo-terminal by a small client
// of its own, the way the tool would, for each family; then the exit code, the
// report and the flash file it leaves behind.
#include "sim_test_support.h"
#include "support/sim_launcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace SimTest;

namespace {

constexpr int WAIT_MS = 15000;  // "must end" limits, generous for a loaded machine

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

using TestSupport::SimProcess;

// The tool's side of the pty, independent of the simulator's code.
class Client {
public:
    bool Open(const std::string& path)
    {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        if (m_fd < 0 || tcgetattr(m_fd, &t) != 0) {
            return false;
        }
        cfmakeraw(&t);
        return tcsetattr(m_fd, TCSANOW, &t) == 0;
    }
    void Close()
    {
        if (m_fd >= 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~Client() { Close(); }

    void Send(const Bytes& bytes) { ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    // Reads until `found` says where the wanted thing ends in the buffer; the
    // bytes up to there are consumed into Last(). False when nothing came in time.
    bool WaitFor(const std::function<size_t(const Bytes&)>& found, int ms = WAIT_MS)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const size_t at = found(m_buffer);
            if (at > 0) {
                m_last.assign(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(at));
                m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(at));
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd fd{m_fd, POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            uint8_t chunk[4096];
            const ssize_t n = read(m_fd, chunk, sizeof chunk);
            if (n <= 0) {
                m_hungUp = true;
                return false;
            }
            m_buffer.insert(m_buffer.end(), chunk, chunk + n);
        }
    }

    bool WaitAckFrame(uint8_t result = 0x5A)
    {
        return WaitFor([&](const Bytes& b) -> size_t {
            for (size_t i = 0; i + 12 <= b.size(); ++i) {
                if (IsAck(b, result, i)) {
                    return i + 12;
                }
            }
            return 0;
        });
    }
    bool WaitByte(uint8_t wanted)
    {
        return WaitFor([&](const Bytes& b) -> size_t {
            const auto it = std::find(b.begin(), b.end(), wanted);
            return it == b.end() ? 0 : static_cast<size_t>(it - b.begin()) + 1;
        });
    }
    bool WaitBytes(size_t count) { return WaitFor([&](const Bytes& b) { return b.size() >= count ? count : 0; }); }
    bool WaitText(const std::string& text)
    {
        return WaitFor([&](const Bytes& b) -> size_t {
            const auto it = std::search(b.begin(), b.end(), text.begin(), text.end());
            return it == b.end() ? 0 : static_cast<size_t>(it - b.begin()) + text.size();
        });
    }
    // One TypeSix answer payload; boot text around it is skipped.
    Bytes TypeSixExchange(const Bytes& wire)
    {
        Send(wire);
        return WaitFor([](const Bytes& b) { return Unwrap(b).firstEnd; }) ? Unwrap(m_last).answers.front() : Bytes{};
    }
    const Bytes& Last() const { return m_last; }
    bool HungUp() const { return m_hungUp; }

    // The tool's YMODEM send: wait for C, then every block waits for its ACK;
    // the closing block is followed by the command's ACK frame.
    bool SendFile(const std::string& name, const Bytes& data, size_t blockSize)
    {
        if (!WaitByte(C)) {
            return false;
        }
        for (const Bytes& block : YmodemFile(name, data, blockSize)) {
            Send(block);
            if (!WaitByte(ACK)) {
                return false;
            }
        }
        return WaitAckFrame();
    }

    // The tool's YMODEM receive of `length` bytes in 1024-byte blocks.
    bool ReceiveFile(size_t length, Bytes& data)
    {
        Send({C});
        if (!WaitBytes(133) || Last()[0] != 0x01) {
            return false;
        }
        Send({ACK, C});
        for (size_t got = 0; got < length; got += 1024) {
            if (!WaitBytes(1029) || Last()[0] != 0x02 ||
                Crc16(Last().data() + 3, 1024) != static_cast<uint16_t>((Last()[1027] << 8) | Last()[1028])) {
                return false;
            }
            data.insert(data.end(), Last().begin() + 3,
                        Last().begin() + 3 + static_cast<std::ptrdiff_t>(std::min<size_t>(1024, length - got)));
            Send({ACK});
        }
        if (!WaitBytes(1) || Last()[0] != EOT) {
            return false;
        }
        Send({ACK, C});
        if (!WaitBytes(133) || Last() != ClosingBlock()) {
            return false;
        }
        Send({ACK, C});
        return true;
    }

private:
    int m_fd = -1;
    Bytes m_buffer;
    Bytes m_last;
    bool m_hungUp = false;
};

class SimProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string bin = std::string(TARNWICK_BIN_DIR) + "/tarnwick-sim";
        ASSERT_EQ(access(bin.c_str(), X_OK), 0) << "build the tarnwick-sim target first: " << bin;
        m_dir = "/tmp/tarnwick_sim_process_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        mkdir(m_dir.c_str(), 0700);
    }
    void TearDown() override
    {
        for (const char* f : {"/report.json", "/flash.bin", "/link"}) {
            unlink((m_dir + f).c_str());
        }
        rmdir(m_dir.c_str());
    }
    std::string File(const char* name) const { return m_dir + "/" + name; }
    void WriteFlashFile(size_t size, char fill)
    {
        std::ofstream(File("flash.bin"), std::ios::binary) << std::string(size, fill);
    }
    std::string m_dir;
};

TEST_F(SimProcessTest, BurnEraseReadBackAndResetAVb27Board)
{
    WriteFlashFile(0x20000, '\0');  // all zeros, so the erase shows
    SimProcess sim({"--family", "vb27", "--flash", File("flash.bin"), "--report", File("report.json"), "--link",
                    File("link")});
    ASSERT_FALSE(sim.Port().empty());
    char target[256] = {};
    ASSERT_GT(readlink(File("link").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(sim.Port(), target);

    Client tool;
    ASSERT_TRUE(tool.Open(File("link")));
    tool.Send(Handshake(115200));
    ASSERT_TRUE(tool.WaitAckFrame());
    const Bytes loader = Pattern(2500, 1);
    ASSERT_TRUE(tool.SendFile("loader.bin", loader, 1024));
    tool.Send(FlashImage(0, 0, 0xFFFFFFFF));
    ASSERT_TRUE(tool.WaitAckFrame());
    const Bytes image = Pattern(20000, 2);
    tool.Send(FlashImage(0x10000, 20000, 0x5000));
    ASSERT_TRUE(tool.WaitAckFrame());
    ASSERT_TRUE(tool.SendFile("app.bin", image, 8192));
    tool.Send(Upload(20000, 0x10000));
    ASSERT_TRUE(tool.WaitAckFrame());
    Bytes readBack;
    ASSERT_TRUE(tool.ReceiveFile(20000, readBack));
    EXPECT_EQ(readBack, image);
    tool.Send(ResetFrame());
    tool.Close();
    ASSERT_EQ(sim.WaitExit(WAIT_MS), 0);

    const std::string flash = ReadFile(File("flash.bin"));
    ASSERT_EQ(flash.size(), 0x20000u);
    Bytes expected(0x20000, 0xFF);
    std::copy(image.begin(), image.end(), expected.begin() + 0x10000);
    EXPECT_TRUE(Bytes(flash.begin(), flash.end()) == expected);

    const std::string report = ReadFile(File("report.json"));
    EXPECT_NE(report.find("{\"kind\": \"loader\", \"name\": \"loader.bin\", \"address\": 0, \"fileType\": -1, "
                          "\"length\": 2500, \"regionSize\": 0, \"sha256\": \"" + HexDigest(loader) + "\""),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("{\"kind\": \"flash\", \"name\": \"app.bin\", \"address\": 65536, \"fileType\": -1, "
                          "\"length\": 20000, \"regionSize\": 20480, \"sha256\": \"" + HexDigest(image) + "\""),
              std::string::npos);
    EXPECT_NE(report.find("{\"what\": \"all\", \"address\": 0, \"length\": 131072}"), std::string::npos);
    EXPECT_NE(report.find("\"resets\": [\n    \"efbeadde0c00877800006194\"\n  ]"), std::string::npos);
    EXPECT_NE(report.find("\"protocolErrors\": []"), std::string::npos);
    EXPECT_EQ(access(File("link").c_str(), F_OK), -1);  // the link goes with the line
}

// Noise comes before every answer; the line is paced; the baud switch is recorded.
TEST_F(SimProcessTest, AQn4180BoardUnderNoiseAndLinePacingSwitchesBaudAfterTheLoader)
{
    SimProcess sim({"--family", "qn4180", "--report", File("report.json"), "--line-baud", "115200", "--noise", "5"});
    Client tool;
    ASSERT_TRUE(tool.Open(sim.Port()));
    tool.Send(Handshake(115200));
    ASSERT_TRUE(tool.WaitAckFrame());
    EXPECT_GE(tool.Last().size(), 17u);  // five noise bytes, then the ACK frame
    ASSERT_TRUE(tool.SendFile("loader.bin", Pattern(3000, 3), 1024));
    tool.Send(SwitchBaud(921600));
    ASSERT_TRUE(tool.WaitAckFrame());
    tool.Send(FlashImage(0x2000, 600, 0x400));  // 512-rounded region: a Qn4180 takes it
    ASSERT_TRUE(tool.WaitAckFrame());
    ASSERT_TRUE(tool.SendFile("q.bin", Pattern(600, 4), 2048));
    tool.Send(ResetFrame());
    tool.Close();
    ASSERT_EQ(sim.WaitExit(WAIT_MS), 0);
    const std::string report = ReadFile(File("report.json"));
    EXPECT_NE(report.find("\"family\": \"qn4180\""), std::string::npos);
    EXPECT_NE(report.find("\"baudChanges\": [\n    921600\n  ]"), std::string::npos) << report;
    EXPECT_NE(report.find("\"kind\": \"flash\", \"name\": \"q.bin\", \"address\": 8192"), std::string::npos);
}

TEST_F(SimProcessTest, LoadAnSsbFlashAndApplicationImagesIntoATypeSixBoard)
{
    WriteFlashFile(0x10000, '\0');
    SimProcess sim({"--family", "typesix", "--flash", File("flash.bin"), "--report", File("report.json")});
    Client line;
    ASSERT_TRUE(line.Open(sim.Port()));
    TypeSixTool tool([&line](const Bytes& wire) { return line.TypeSixExchange(wire); });
    ASSERT_TRUE(line.WaitText("-romloader"));
    ASSERT_TRUE(tool.Init(true));
    const Bytes ssb = Pattern(5000, 5);
    ASSERT_TRUE(tool.SendSsb(ssb, 4096, Digest(ssb)));
    line.Send(tool.ExitFrame());
    ASSERT_TRUE(line.WaitText("-ssb-codeloader"));

    const Bytes image = Pattern(9000, 6);
    EXPECT_TRUE(Positive(tool.SendOtherImage(0, 0x4000, 0x4000, image, 4096, Digest(image), 9000)));
    const Bytes app = Pattern(3000, 7);
    EXPECT_TRUE(Positive(tool.SendAppImage(2, app, 4096, Digest(app))));
    line.Send(TYPESIX_RESET_FRAME);
    line.Close();
    ASSERT_EQ(sim.WaitExit(WAIT_MS), 0);

    const std::string flash = ReadFile(File("flash.bin"));
    ASSERT_EQ(flash.size(), 0x10000u);
    Bytes expected(0x10000, 0x00);
    std::fill(expected.begin() + 0x4000, expected.begin() + 0x8000, 0xFF);  // the region was erased first
    std::copy(image.begin(), image.end(), expected.begin() + 0x4000);
    EXPECT_TRUE(Bytes(flash.begin(), flash.end()) == expected);

    const std::string report = ReadFile(File("report.json"));
    EXPECT_NE(report.find("{\"kind\": \"ssb\", \"name\": \"\", \"address\": 0, \"fileType\": -1, \"length\": 5000, "
                          "\"regionSize\": 0, \"sha256\": \"" + HexDigest(ssb) + "\", \"digestMatched\": 1}"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("{\"kind\": \"flash\", \"name\": \"\", \"address\": 16384, \"fileType\": -1, "
                          "\"length\": 9000, \"regionSize\": 16384, \"sha256\": \"" + HexDigest(image) +
                          "\", \"digestMatched\": 1}"),
              std::string::npos);
    EXPECT_NE(report.find("\"kind\": \"app\", \"name\": \"\", \"address\": 0, \"fileType\": 2, \"length\": 3000, "
                          "\"regionSize\": 0, \"sha256\": \"" + HexDigest(app) + "\", \"digestMatched\": 1}"),
              std::string::npos);
    EXPECT_NE(report.find("\"resets\": [\n    \"5c73000c000000000c5c65\"\n  ]"), std::string::npos);
    EXPECT_NE(report.find("\"protocolErrors\": []"), std::string::npos);
}

TEST_F(SimProcessTest, ClosingTheLineBeforeAResetKeepsTheBoardUntilStopped)
{
    SimProcess sim({"--family", "vb27", "--report", File("report.json")});
    {
        Client first;
        ASSERT_TRUE(first.Open(sim.Port()));
        first.Send(Handshake(115200));
        ASSERT_TRUE(first.WaitAckFrame());
    }
    EXPECT_EQ(sim.WaitExit(300), -1);
    Client second;
    ASSERT_TRUE(second.Open(sim.Port()));
    second.Send(Handshake(115200));
    ASSERT_TRUE(second.WaitAckFrame());
    sim.Signal(SIGTERM);
    ASSERT_EQ(sim.WaitExit(WAIT_MS), 0);
    const std::string report = ReadFile(File("report.json"));
    EXPECT_NE(report.find("the tool closed the line before any reset"), std::string::npos);
    EXPECT_NE(report.find("simulator ended: stopped by signal 15"), std::string::npos);
}

TEST_F(SimProcessTest, APulledCableEndsTheLineAfterTheGivenBytes)
{
    SimProcess sim({"--family", "vb27", "--report", File("report.json"), "--close-after", "10"});
    Client tool;
    ASSERT_TRUE(tool.Open(sim.Port()));
    tool.Send(Handshake(115200));
    EXPECT_FALSE(tool.WaitAckFrame());
    EXPECT_TRUE(tool.HungUp());
    ASSERT_EQ(sim.WaitExit(WAIT_MS), 0);
    EXPECT_NE(ReadFile(File("report.json")).find("line closed after 10 received bytes"), std::string::npos);
}

TEST(SimProcessArguments, BadArgumentsEndWithUsageAndCode2)
{
    const TestSupport::RunResult run = TestSupport::RunProgram(TestSupport::SimPath(), {"--family", "nope"}, WAIT_MS);
    EXPECT_EQ(run.exitCode, 2) << run.output;
}

}  // namespace
