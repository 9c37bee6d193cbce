// The hint after a refused port: only for a denied permission, naming the
// group that owns the device, and reached through the device library's last
// open error when an unprivileged user opens a port of root's.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "device/device_library.h"
#include "support/pty_pair.h"
#include "platform/port_access_hint.h"

namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class PortAccessHint : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/tarnwick-hint-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        m_device = name;
    }
    void TearDown() override { std::remove(m_device.c_str()); }

    std::string m_device;
};

TEST_F(PortAccessHint, OnlyADeniedPermissionGivesAHintAndADeviceNotExaminedNamesTheUsualGroup)
{
    for (int error : {0, ENOENT, EBUSY, EIO, ENOTTY}) {
        EXPECT_EQ(Platform::PortAccessHint(m_device, error), "") << error;
    }
    const std::string hint = Platform::PortAccessHint("/dev/no-such-tarnwick-port", EACCES);
    EXPECT_TRUE(Has(hint, "usually dialout")) << hint;
}

TEST_F(PortAccessHint, TheGroupThatOwnsTheDeviceIsNamed)
{
    if (getuid() != 0) {
        GTEST_SKIP() << "changing a file's group to another one needs root";
    }
    const group* dialout = getgrnam("dialout");
    const gid_t gid = dialout != nullptr ? dialout->gr_gid : 20;
    const std::string name = dialout != nullptr ? "dialout" : std::to_string(gid);
    ASSERT_EQ(chown(m_device.c_str(), 0, gid), 0);
    const std::string hint = Platform::PortAccessHint(m_device, EACCES);
    EXPECT_TRUE(Has(hint, "permission denied on " + m_device + ":")) << hint;
    EXPECT_TRUE(Has(hint, "must be in group " + name + ", which owns the device")) << hint;
    EXPECT_TRUE(Has(hint, "usermod -aG " + name + " $USER")) << hint;
    EXPECT_EQ(hint.find('\n'), hint.size() - 1) << "one line";

    ASSERT_EQ(chown(m_device.c_str(), 0, 0), 0);
    const std::string rootHint = Platform::PortAccessHint(m_device, EACCES);
    EXPECT_TRUE(Has(rootHint, "belongs to group root")) << rootHint;
    EXPECT_FALSE(Has(rootHint, "usermod -aG root")) << rootHint;
}

// An unprivileged child opens a pseudo-terminal that only root and the tty
// group may open: the library keeps EACCES and the hint names the owner.
TEST(PortAccessHintOpen, AnUnprivilegedOpenIsExplained)
{
    if (getuid() != 0) {
        GTEST_SKIP() << "dropping to another user needs root";
    }
    const TestSupport::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const std::string slave = pty.SlavePath();
    ASSERT_EQ(chmod(slave.c_str(), 0620), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(10);
        }
        SetChipType(0x30004);
        DeviceHandle handle = OpenSerialPort(slave.c_str(), 115200, 0, 0);
        const int error = GetLastOpenError();
        const std::string hint = Platform::PortAccessHint(slave, error);
        if (write(pipeFds[1], hint.data(), hint.size()) != static_cast<ssize_t>(hint.size())) {
            _exit(11);
        }
        _exit(handle == nullptr && error == EACCES ? 0 : 12);
    }
    close(pipeFds[1]);
    std::string hint;
    char buffer[512];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof(buffer))) > 0;) {
        hint.append(buffer, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no unprivileged user, 12: no EACCES kept";
    EXPECT_TRUE(Has(hint, "permission denied on " + slave)) << hint;
    EXPECT_FALSE(Has(hint, "usually dialout")) << "the device could be examined: " << hint;
}

// After a failure for another reason the error is not EACCES, and a success clears it.
TEST(PortAccessHintOpen, TheLastOpenErrorFollowsEveryOpen)
{
    SetChipType(0x30004);
    EXPECT_EQ(OpenSerialPort("/dev/no-such-tarnwick-port", 115200, 0, 0), nullptr);
    EXPECT_EQ(GetLastOpenError(), ENOENT);
    const TestSupport::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    DeviceHandle handle = OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GetLastOpenError(), 0);
    DestroyDevice(handle);
}

}  // namespace
