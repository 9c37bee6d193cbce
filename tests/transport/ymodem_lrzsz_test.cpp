// The tool's receiver against an independent sender: lrzsz's sb on the slave
// side of a pseudo-terminal, the receiver on the master side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "line_peers.h"
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

std::string FindSender()
{
    for (const char* path : {"/usr/bin/sb", "/usr/bin/lsb"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

class YmodemFromLrzsz : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sender = FindSender();
        if (m_sender.empty()) {
            GTEST_SKIP() << "lrzsz (sb) is not installed";
        }
        ASSERT_TRUE(m_pty.Ok());
        std::string base = ::testing::TempDir() + "ymodem_lrzsz_" + std::to_string(getpid());
        m_source = base + "_src.bin";
        m_target = base + "_dst.bin";
    }
    void TearDown() override
    {
        std::remove(m_source.c_str());
        std::remove(m_target.c_str());
    }

    // Starts sb on the slave with the given options for the source file.
    pid_t StartSender(const std::vector<std::string>& options)
    {
        std::vector<std::string> args = {m_sender, "--ymodem"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(m_source);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const std::string slave = m_pty.SlavePath();
        pid_t pid = fork();
        if (pid == 0) {
            int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
            int null = open("/dev/null", O_WRONLY);
            if (fd < 0 || null < 0 || dup2(fd, 0) < 0 || dup2(fd, 1) < 0 || dup2(null, 2) < 0) {
                _exit(127);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    // Waits for sb to end (generously), then reaps it; its exit status.
    static int Reap(pid_t pid)
    {
        int status = 0;
        for (int i = 0; i < 400; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }

    void Transfer(size_t size, const std::vector<std::string>& options)
    {
        std::vector<uint8_t> data = Pattern(size, static_cast<uint32_t>(size));
        {
            std::ofstream out(m_source, std::ios::binary);
            out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        }
        PtyLink link(m_pty.Master());
        YmodemProtocol receiver(&link, 1024);
        pid_t pid = StartSender(options);
        ASSERT_GT(pid, 0);
        bool ok = receiver.UploadFile(m_target, static_cast<uint32_t>(size));
        int status = Reap(pid);
        EXPECT_TRUE(ok) << size;
        EXPECT_EQ(status, 0) << size;
        // sb pads its last block with 0x1A; the receiver keeps the size it was given.
        EXPECT_EQ(ReadFile(m_target), data) << size;
    }

    PtyPair m_pty;
    PrintCapture m_capture;
    std::string m_sender;
    std::string m_source;
    std::string m_target;
};

}  // namespace

TEST_F(YmodemFromLrzsz, KilobyteBlocksWholeOrWithAShortTailAndSmallBlocksOnly)
{
    Transfer(4096, {"-k"});
    Transfer(1500, {"-k"});
    Transfer(1000, {});
}
