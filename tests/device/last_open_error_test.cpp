// The device library keeps why the last open of a port failed, so the front
// end can explain a refused permission (the hint's text is the platform's).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "device/device_library.h"
#include "platform/as_operator.h"
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
    const std::string kept = AsOperator(65534, 65534, [&pty] {
        const DeviceHandle refused = OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0);
        return refused == nullptr ? std::to_string(GetLastOpenError()) : "opened";
    });
    EXPECT_EQ(kept, std::to_string(EACCES));
}

}  // namespace
