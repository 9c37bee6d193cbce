// The tool's receiver against an independent sender: lrzsz's sb on the slave
// side of a pseudo-terminal, the receiver on the master side.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <thread>

#include "line_peers.h"
#include "support/child_process.h"
#include "transport/ymodem_protocol.h"

using YmodemProtocolSp::YmodemProtocol;

namespace {

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

class YmodemFromLrzsz : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access("/usr/bin/sb", X_OK) != 0) {
            GTEST_SKIP() << "lrzsz (sb) is not installed";
        }
        ASSERT_TRUE(m_pty.Ok());
    }

    // sb sends the file over the slave while the receiver reads the master.
    void Transfer(size_t size, const std::string& options)
    {
        const Bytes data = Pattern(size, static_cast<uint32_t>(size));
        ASSERT_TRUE(TestSupport::WriteFile(m_dir.File("src.bin"), data));
        const std::string& slave = m_pty.SlavePath();
        TestSupport::RunResult run;
        std::thread sender([&] {
            const std::string command = "exec sb --ymodem " + options + " " + m_dir.File("src.bin");
            run = TestSupport::RunProgram("/bin/sh", {"-c", command + " <" + slave + " >" + slave}, 60000);
        });
        PtyLink link(m_pty.Master());
        YmodemProtocol receiver(&link, 1024);
        const bool ok = receiver.UploadFile(m_dir.File("dst.bin"), static_cast<uint32_t>(size));
        sender.join();
        EXPECT_TRUE(ok) << size;
        EXPECT_EQ(run.exitCode, 0) << size;
        // sb pads its last block with 0x1A; the receiver keeps the size it was given.
        EXPECT_EQ(ReadFile(m_dir.File("dst.bin")), data) << size;
    }

    PtyPair m_pty;
    PrintCapture m_capture;
    TestSupport::TempDir m_dir{"ymodem-lrzsz"};
};

}  // namespace

TEST_F(YmodemFromLrzsz, KilobyteBlocksWholeOrWithAShortTailAndSmallBlocksOnly)
{
    Transfer(4096, "-k");
    Transfer(1500, "-k");
    Transfer(1000, "");
}
