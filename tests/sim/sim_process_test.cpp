// The built tarnwick-sim driven through its pseudo-terminal by a small client
// of its own, once per family: its first answer, a line closed and opened
// again, the reset that ends it, the report it leaves. Whole runs of the real
// tool are in the end-to-end suite.
#include "sim_test_support.h"
#include "support/sim_launcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace SimTest;

namespace {

constexpr int WAIT_MS = 15000;  // "must end" limits, generous for a loaded machine

// The tool's side of the pty, independent of the simulator's code.
class Client {
public:
    explicit Client(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY))
    {
        termios t{};
        if (m_fd >= 0 && tcgetattr(m_fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~Client() { close(m_fd); }
    void Send(const Bytes& bytes) { ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    // Reads until `wanted` has come; false when it never did in time.
    bool ReadUntil(const Bytes& wanted)
    {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::milliseconds(WAIT_MS);
        while (std::search(heard.begin(), heard.end(), wanted.begin(), wanted.end()) == heard.end()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            pollfd fd{m_fd, POLLIN, 0};
            uint8_t chunk[4096];
            const ssize_t n = left.count() > 0 && poll(&fd, 1, static_cast<int>(left.count())) > 0
                                  ? read(m_fd, chunk, sizeof chunk) : -1;
            if (n <= 0) {
                return false;
            }
            heard.insert(heard.end(), chunk, chunk + n);
        }
        return true;
    }

    Bytes heard;

private:
    int m_fd;
};

// Line pacing rides along on the Qn4180 run, the link on the Vb27 one.
TEST(SimProcess, EachFamilyOutlivesAClosedLineAndEndsAfterTheResetFrameAndTheClose)
{
    const std::string base = "/tmp/tarnwick_sim_process_" + std::to_string(getpid());
    const std::string report = base + ".json", link = base + ".link";
    // The success ACK frame; a TypeSix init answer: seq 0, ACK, code 01, OK, check.
    const Bytes vb27Answer{0xEF, 0xBE, 0xAD, 0xDE, 0x0C, 0x00, 0xE1, 0x1E, 0x5A, 0x00, 0x95, 0x22};
    const struct {
        const char* family;
        std::vector<std::string> extra;
        Bytes command, answer;
        Bytes reset;
    } cases[] = {
        {"vb27", {"--link", link}, Handshake(115200), vb27Answer, ResetFrame()},
        {"qn4180", {"--line-baud", "115200"}, Handshake(115200), vb27Answer, ResetFrame()},
        {"typesix", {}, Wrap({0x00, 0x01, 0x01}), Wrap({0x00, 0x02, 0x01, 0x01, 0x02}),
         Wrap({0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.family);
        std::vector<std::string> args{"--family", c.family, "--report", report};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        TestSupport::SimProcess sim(args);
        ASSERT_TRUE(sim.Ok());
        const bool linked = std::string(c.family) == "vb27";
        char target[256] = {};
        EXPECT_EQ(readlink(link.c_str(), target, sizeof target - 1) > 0, linked);
        EXPECT_EQ(linked ? sim.Port() : "", target);
        for (const bool last : {false, true}) {
            EXPECT_EQ(last ? sim.WaitExit(300) : -1, -1);  // a line closed before a reset does not end it
            Client tool(sim.Port());
            const std::string boot = "-romloader";  // a fresh TypeSix ROM talks first
            ASSERT_TRUE(last || std::string(c.family) != "typesix" || tool.ReadUntil(Bytes(boot.begin(), boot.end())));
            tool.Send(c.command);
            ASSERT_TRUE(tool.ReadUntil(c.answer));
            if (last) {
                tool.Send(c.reset);
            }
        }
        ASSERT_EQ(sim.WaitExit(WAIT_MS), 0);
        const TestSupport::SimReport seen = TestSupport::ReadSimReport(report);
        EXPECT_EQ(seen.family, c.family);
        EXPECT_EQ(seen.resets, std::vector<std::string>{TestSupport::Hex(c.reset)}) << seen.text;
        EXPECT_TRUE(seen.protocolErrors.empty()) << seen.text;
        EXPECT_TRUE(seen.HasEvent("the tool closed the line before any reset")) << seen.text;
        EXPECT_EQ(access(link.c_str(), F_OK), -1);  // the link goes with the line
    }
    unlink(report.c_str());
}

TEST(SimProcess, BadArgumentsEndWithUsageAndCode2)
{
    const TestSupport::RunResult run = TestSupport::RunProgram(TestSupport::SimPath(), {"--family", "nope"}, WAIT_MS);
    EXPECT_EQ(run.exitCode, 2) << run.output;
}

}  // namespace
