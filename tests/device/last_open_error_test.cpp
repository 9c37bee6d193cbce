// The device library keeps why the last open of a port failed, so the front
// end can explain a refused permission (the hint's text is the platform's).
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "device/device_library.h"
#include "support/pty_pair.h"

namespace {

// An unprivileged child opens a pseudo-terminal that only root and the tty
// group may open; a failure for another reason keeps its own error, and a
// success clears it.
TEST(LastOpenError, FollowsEveryOpenAndKeepsARefusedPermission)
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

    if (getuid() != 0) {
        GTEST_SKIP() << "dropping to another user needs root";
    }
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0620), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(10);
        }
        const DeviceHandle refused = OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0);
        _exit(refused == nullptr && GetLastOpenError() == EACCES ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no unprivileged user, 12: no EACCES kept";
}

}  // namespace
