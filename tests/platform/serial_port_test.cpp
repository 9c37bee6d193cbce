// The platform serial port's line flags. Opening, waiting, reading, writing,
// rates and a lost peer are pinned one layer up, through the transport on a
// real pseudo-terminal (tests/transport).
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/serial_termios.h"

namespace {

// A pty clears the parity flags itself, so the mapping is checked here.
TEST(SerialTermiosTest, ParityAndStopCodesBecomeControlFlags)
{
    const struct {
        uint32_t stopBits;
        uint32_t parity;
        tcflag_t expected;
    } cases[] = {
        {0, 0, 0},
        {0, 1, PARENB | PARODD},
        {0, 2, PARENB},
        {0, 3, PARENB | PARODD | CMSPAR},  // mark
        {0, 4, PARENB | CMSPAR},           // space
        {2, 0, CSTOPB},
        {2, 2, CSTOPB | PARENB},
    };
    const tcflag_t relevant = PARENB | PARODD | CMSPAR | CSTOPB;
    for (const auto& c : cases) {
        // Start from every flag set: stale bits must be cleared.
        tcflag_t cflag = relevant | CS8 | CREAD;
        ASSERT_EQ(Platform::ComposeControlFlags(c.stopBits, c.parity, cflag), 0) << c.parity;
        EXPECT_EQ(cflag & relevant, c.expected) << c.stopBits << "/" << c.parity;
        EXPECT_EQ(cflag & (CS8 | CREAD), static_cast<tcflag_t>(CS8 | CREAD));
    }
    tcflag_t cflag = 0;
    EXPECT_EQ(Platform::ComposeControlFlags(1, 0, cflag), EINVAL);  // 1.5 needs 5-bit characters
    EXPECT_EQ(Platform::ComposeControlFlags(3, 0, cflag), EINVAL);
    EXPECT_EQ(Platform::ComposeControlFlags(0, 5, cflag), EINVAL);
}

}  // namespace
