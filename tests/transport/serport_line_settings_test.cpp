// Line settings of the transport as the driver holds them afterwards, read
// back through the pty master (which reports its slave's settings).
#include <gtest/gtest.h>

#include <termios.h>

#include "platform/serial_speed_linux.h"
#include "line_peers.h"
#include "transport/serport_transport.h"

namespace {

class SerportLineSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_pty.Ok()); }

    Common::TRANSPORT_MODE_ATTR_U Attributes(uint32_t baud, uint32_t stopBits = 0, uint32_t parity = 0) const
    {
        Common::TRANSPORT_MODE_ATTR_U attr;
        attr.serial.portName = m_pty.SlavePath();
        attr.serial.baudRate = baud;
        attr.serial.stopBits = stopBits;
        attr.serial.parity = parity;
        return attr;
    }
    struct termios LineFlags() const
    {
        struct termios tio {};
        EXPECT_EQ(tcgetattr(m_pty.Master(), &tio), 0);
        return tio;
    }
    uint32_t LineSpeed() const
    {
        uint32_t baud = 0;
        EXPECT_EQ(Platform::LinuxSerialSpeed::Get(m_pty.Master(), baud), 0);
        return baud;
    }

    PtyPair m_pty;
    PrintCapture m_prints;
    SerportTransport m_transport;
};

TEST_F(SerportLineSettingsTest, OpenSetsARaw8BitLineWithoutFlowControl)
{
    ASSERT_TRUE(m_transport.Open(Attributes(115200)));
    struct termios tio = LineFlags();
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | INLCR | IGNCR | PARMRK), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(LineSpeed(), 115200u);
}

TEST_F(SerportLineSettingsTest, FastRatesStopBitsAndParityCodesAreAppliedAndBytesStillFlow)
{
    for (uint32_t baud : {921600u, 1500000u, 2000000u, 3000000u}) {
        ASSERT_TRUE(m_transport.Open(Attributes(baud))) << baud;
        EXPECT_EQ(LineSpeed(), baud);
    }
    const struct {
        uint32_t baud;
        uint32_t stopBits;
        uint32_t parity;
    } settings[] = {{1234567, 0, 0}, {115200, 2, 0}, {115200, 0, 1}, {115200, 0, 2}, {115200, 0, 3}, {115200, 2, 4}};
    for (const auto& s : settings) {
        // A rate no B-constant names; the pty drops parity flags itself (the
        // mapping is checked in the platform tests): accepted, no input checking.
        ASSERT_TRUE(m_transport.InitDcb(Attributes(s.baud, s.stopBits, s.parity))) << s.baud << " " << s.parity;
        const struct termios tio = LineFlags();
        EXPECT_EQ(LineSpeed(), s.baud);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, s.stopBits == 2);
        EXPECT_EQ(tio.c_iflag & (INPCK | PARMRK | IGNPAR | ISTRIP), 0u);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    }
    EXPECT_EQ(m_prints.CountLine("SetCommState failed.\n"), 0);
    const uint8_t frame[] = {0xEF, 0xBE, 0xAD, 0xDE};
    EXPECT_EQ(m_transport.Send(frame, 4), 4u);
    EXPECT_EQ(m_pty.Read(4), (Bytes{0xEF, 0xBE, 0xAD, 0xDE}));
}

TEST_F(SerportLineSettingsTest, RefusedSettingsLeaveTheOpenLineAsItWas)
{
    EXPECT_FALSE(m_transport.InitDcb(Attributes(115200))) << "a closed port";
    ASSERT_TRUE(m_transport.Open(Attributes(921600, 2, 2)));
    // One and a half stop bits do not exist with 8-bit characters; parity 5
    // and rate 0 are no codes at all.
    EXPECT_FALSE(m_transport.InitDcb(Attributes(115200, 1, 0)));
    EXPECT_FALSE(m_transport.InitDcb(Attributes(115200, 0, 5)));
    EXPECT_FALSE(m_transport.InitDcb(Attributes(0, 0, 0)));
    EXPECT_EQ(m_prints.CountLine("SetCommState failed.\n"), 4);
    EXPECT_EQ(m_transport.GetErrorCode(), EINVAL);
    EXPECT_TRUE(m_transport.IsOpen());
    struct termios tio = LineFlags();
    EXPECT_EQ(LineSpeed(), 921600u);
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
}

}  // namespace
