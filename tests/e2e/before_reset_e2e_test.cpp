// "-beforereset": while a board does not answer, the handshake goes on and
// the chip's ResetAtCommand goes out after every 100th handshake frame. The
// board here is a bare pseudo-terminal that only listens, so the test sees
// every byte the tool writes and in which order.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "support/pty_pair.h"

using namespace E2e;

namespace {

const std::string AT_COMMAND = "AT+RESET";
const std::string AT_LINE = AT_COMMAND + "\r\n";

// Handshake frame at 115200 baud: flag, length 18, F0 0F, rate, 08 01 00 00, CRC; little-endian.
const Bytes HANDSHAKE_FRAME{0xEF, 0xBE, 0xAD, 0xDE, 0x12, 0x00, 0xF0, 0x0F, 0x00,
                            0xC2, 0x01, 0x00, 0x08, 0x01, 0x00, 0x00, 0xE0, 0x64};

// What the listening board made of the line.
struct Heard {
    size_t frames = 0;
    std::vector<size_t> atAfterFrames;  // frame count at each reset command
    size_t strayBytes = 0;
};

Heard Decode(const Bytes& line)
{
    const Bytes& frame = HANDSHAKE_FRAME;
    Heard heard;
    size_t i = 0;
    while (i < line.size()) {
        if (line.size() - i >= frame.size() && std::equal(frame.begin(), frame.end(), line.begin() + i)) {
            ++heard.frames;
            i += frame.size();
        } else if (line.size() - i >= AT_LINE.size() && std::equal(AT_LINE.begin(), AT_LINE.end(), line.begin() + i)) {
            heard.atAfterFrames.push_back(heard.frames);
            i += AT_LINE.size();
        } else if (line.size() - i < std::max(frame.size(), AT_LINE.size())) {
            break;  // a frame still arriving
        } else {
            ++heard.strayBytes;
            ++i;
        }
    }
    return heard;
}

class BeforeResetTest : public E2eTest {
protected:
    void TearDown() override { StopTool(); }

    // Also drains what the tool left on the line.
    void StopTool()
    {
        if (m_tool > 0) {
            kill(m_tool, SIGKILL);
            waitpid(m_tool, nullptr, 0);
            m_tool = -1;
        }
        m_pty.Read(SIZE_MAX, 100);
    }

    PtyPair m_pty;
    pid_t m_tool = -1;
};

}  // namespace

TEST_F(BeforeResetTest, TheResetCommandFollowsEveryHundredthHandshakeFrameOnlyWithTheOption)
{
    ASSERT_TRUE(m_pty.Ok());
    ASSERT_TRUE(WriteText(Path("bin/ChipProperties/vb27.txt"),
                          "ChipType=0x30004\nLoadBurnAddress=0\nResetAtCommand=" + AT_COMMAND + "\n"));
    const std::string package =
        Given("board.fwpkg", BuildPackage({{"loader.bin", TYPE_LOADER, 0, 0, Pattern(4096, 1)}}));
    for (const bool option : {true, false}) {
        SCOPED_TRACE(option);
        std::vector<std::string> argv = ToolArgs("--burn", "vb27", m_pty.SlavePath(), package, {"-burninterval:2"});
        argv.insert(argv.begin(), Tool());
        if (option) {
            argv.push_back("-beforereset");
        }
        m_tool = Spawn(argv, -1, true);
        ASSERT_GT(m_tool, 0);
        // Listens to 250 handshake frames (or until a generous limit passes).
        Bytes line;
        Heard heard;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (heard.frames < 250 && std::chrono::steady_clock::now() < deadline) {
            const Bytes got = m_pty.ReadFor(4096, 200);
            line.insert(line.end(), got.begin(), got.end());
            heard = Decode(line);
        }
        ASSERT_GE(heard.frames, 250u) << "the handshake stopped early";
        EXPECT_EQ(heard.atAfterFrames, option ? std::vector<size_t>({100, 200}) : std::vector<size_t>());
        EXPECT_EQ(heard.strayBytes, 0u) << "bytes that are neither a handshake frame nor the reset command";
        StopTool();
    }
}
