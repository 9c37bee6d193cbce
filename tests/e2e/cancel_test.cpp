// Cancel from outside: SIGINT or SIGTERM during a run ends the running wait
// with "User Cancelled!", the job fails, the port is let go and the process
// exits with a failure code soon after; a second signal ends it at once.
//
// The bounds are "must end" checks for a loaded machine, not measurements.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

// Printed by both families as the wait for the board begins.
constexpr const char* WAITING_FOR_BOARD = "Please reset the device, the waiting time is about 30 seconds.\n";
constexpr const char* USER_CANCELLED = "\nUser Cancelled!\n";
constexpr int START_LIMIT_MS = 30000;
// After the signal: the run must be over well within this.
constexpr int END_LIMIT_MS = 5000;

// The tool as a child whose output is read while it runs.
class RunningTool {
public:
    RunningTool(const std::string& tool, const std::vector<std::string>& arguments)
    {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        std::vector<std::string> all{tool};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            dup2(fds[1], STDERR_FILENO);
            close(fds[0]);
            close(fds[1]);
            execv(tool.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        m_out = fds[0];
    }

    ~RunningTool()
    {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) {
            close(m_out);
        }
    }

    bool Started() const { return m_pid > 0 && m_out >= 0; }

    // Reads output until it holds text; false when the time runs out first.
    bool WaitForOutput(const std::string& text, int limitMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!Contains(m_output, text)) {
            if (!ReadSome(deadline)) {
                return false;
            }
        }
        return true;
    }

    void Signal(int number) { kill(m_pid, number); }

    // Reads to the end and reaps the child; false when it did not end in time
    // (it is killed then).
    bool WaitForEnd(int limitMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (ReadSome(deadline)) {
        }
        for (;;) {
            const pid_t done = waitpid(m_pid, &m_status, WNOHANG);
            if (done == m_pid) {
                m_reaped = true;
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    const std::string& Output() const { return m_output; }
    bool Exited() const { return m_reaped && WIFEXITED(m_status); }
    int ExitCode() const { return WEXITSTATUS(m_status); }
    bool KilledBy(int number) const { return m_reaped && WIFSIGNALED(m_status) && WTERMSIG(m_status) == number; }

private:
    // False at the end of the output or of the time.
    bool ReadSome(std::chrono::steady_clock::time_point deadline)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd fd{m_out, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t n = read(m_out, buffer, sizeof(buffer));
        if (n <= 0) {
            return false;
        }
        m_output.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_status = 0;
    bool m_reaped = false;
    std::string m_output;
};

class CancelBySignal : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_install.Ready()) << "build tarnwickcmd first: " << TARNWICK_BIN_DIR; }

    std::string Package(const std::vector<PackageEntry>& entries)
    {
        const std::string path = m_install.Path("cancel.fwpkg");
        EXPECT_TRUE(WriteFile(path, BuildPackage(entries)));
        return path;
    }

    std::vector<std::string> BurnArguments(const std::string& family, const Simulator& sim, const std::string& pkg)
    {
        return {"--burn", "-n", family, "-m", "serial", sim.Port(), "-f", pkg};
    }

    // The job failed because of the cancel, and said so.
    static void ExpectCancelledRun(const RunningTool& tool)
    {
        ASSERT_TRUE(tool.Exited()) << tool.Output();
        EXPECT_NE(tool.ExitCode(), 0) << tool.Output();
        EXPECT_TRUE(Contains(tool.Output(), USER_CANCELLED)) << tool.Output();
        EXPECT_TRUE(Contains(tool.Output(), "\nBurned failed.\n")) << tool.Output();
        EXPECT_FALSE(Contains(tool.Output(), "Burned successfully")) << tool.Output();
    }

    Installation m_install;
};

TEST_F(CancelBySignal, SigintDuringTheVb27HandshakeEndsTheRunAsAFailure)
{
    const std::string package =
        Package({{"loader.bin", TYPE_LOADER, 0, 0, Pattern(4096, 1)}, {"app.bin", TYPE_FLASH, 0x10000, 0x1000, Pattern(512, 2)}});
    Simulator sim(m_install.Dir(), "vb27", {"--silent"});
    ASSERT_TRUE(sim.Started());
    RunningTool tool(m_install.Tool(), BurnArguments("vb27", sim, package));
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(tool.WaitForOutput(WAITING_FOR_BOARD, START_LIMIT_MS)) << tool.Output();
    // Let a few handshake frames go out first.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    tool.Signal(SIGINT);
    ASSERT_TRUE(tool.WaitForEnd(END_LIMIT_MS)) << "still running after SIGINT:\n" << tool.Output();
    ExpectCancelledRun(tool);

    const SimReport report = sim.Stop();
    EXPECT_TRUE(report.images.empty()) << report.text;
    EXPECT_TRUE(report.HasEvent("the tool closed the line")) << report.text;
}

TEST_F(CancelBySignal, SigtermInTheMiddleOfAnImageStopsTheTransferAndNeverCallsItSuccessful)
{
    const std::string package = Package({{"loader.bin", TYPE_LOADER, 0, 0, Pattern(2048, 3)},
                                         {"big.bin", TYPE_FLASH, 0x100000, 0x80000, Pattern(400 * 1024, 4)}});
    // A slow line: the image takes far longer than the test waits.
    Simulator sim(m_install.Dir(), "vb27", {"--line-baud", "115200"});
    ASSERT_TRUE(sim.Started());
    RunningTool tool(m_install.Tool(), BurnArguments("vb27", sim, package));
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(tool.WaitForOutput("Start download: big.bin.", START_LIMIT_MS)) << tool.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    tool.Signal(SIGTERM);
    ASSERT_TRUE(tool.WaitForEnd(END_LIMIT_MS)) << "still running after SIGTERM:\n" << tool.Output();
    ExpectCancelledRun(tool);
    EXPECT_FALSE(Contains(tool.Output(), "downloaded: big.bin successfully")) << tool.Output();

    const SimReport report = sim.Stop();
    for (const SimImage& image : report.images) {
        EXPECT_NE(image.name, "big.bin") << report.text;
    }
    EXPECT_TRUE(report.HasEvent("the tool closed the line")) << report.text;
}

TEST_F(CancelBySignal, SigintWhileWaitingForATypeSixRomEndsTheRunAsAFailure)
{
    const std::string package = Package({{"loader.bin", 0, 0, 0, Pattern(3000, 5)},
                                         {"flash.bin", 100, 0x1000, 0x2000, Pattern(3000, 6)}});
    Simulator sim(m_install.Dir(), "typesix", {"--silent"});
    ASSERT_TRUE(sim.Started());
    RunningTool tool(m_install.Tool(), BurnArguments("typesix", sim, package));
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(tool.WaitForOutput(WAITING_FOR_BOARD, START_LIMIT_MS)) << tool.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    tool.Signal(SIGINT);
    ASSERT_TRUE(tool.WaitForEnd(END_LIMIT_MS)) << "still running after SIGINT:\n" << tool.Output();
    ExpectCancelledRun(tool);
    EXPECT_FALSE(Contains(tool.Output(), "ready failed")) << "the wait ran out instead:\n" << tool.Output();
    sim.Stop();
}

TEST_F(CancelBySignal, ASecondSignalEndsTheProcessAtOnce)
{
    const std::string package = Package({{"loader.bin", TYPE_LOADER, 0, 0, Pattern(4096, 7)}});
    Simulator sim(m_install.Dir(), "vb27", {"--silent"});
    ASSERT_TRUE(sim.Started());
    RunningTool tool(m_install.Tool(), BurnArguments("vb27", sim, package));
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(tool.WaitForOutput(WAITING_FOR_BOARD, START_LIMIT_MS)) << tool.Output();

    // Two different signals cannot merge into one while pending; whichever is
    // delivered second ends the process by its default action.
    tool.Signal(SIGTERM);
    tool.Signal(SIGINT);
    ASSERT_TRUE(tool.WaitForEnd(END_LIMIT_MS)) << "still running after two signals:\n" << tool.Output();
    EXPECT_TRUE(tool.KilledBy(SIGINT) || tool.KilledBy(SIGTERM))
        << "the second signal did not end the process:\n" << tool.Output();
    EXPECT_FALSE(Contains(tool.Output(), "Burned failed.")) << "the job wound down instead:\n" << tool.Output();
    sim.Stop();
}

}  // namespace
