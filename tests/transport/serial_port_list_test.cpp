// The port list over a prepared sysfs/dev tree of the shape Linux exposes.
#include <gtest/gtest.h>

#include "transport/fake_sysfs.h"

namespace {

class SerialPortListTest : public FakeSysfs {};

TEST_F(SerialPortListTest, OnlyTtysBoundToADriverAreListedInNaturalOrder)
{
    AddTty("ttyS10", "platform/serial8250/tty/ttyS10");
    AddTty("ttyS2", "platform/serial8250/tty/ttyS2");
    AddTty("ttyACM0", "pci/usb1/1-2/1-2:1.0");
    AddTty("tty1", "virtual/tty/tty1", false);
    fs::create_directories(fs::path(m_sources.ttyClassDir) / "console");  // no device link at all

    AddTty("ttyUSB3", "pci/usb1/1-3/1-3:1.0/ttyUSB3", true, false);  // no device node
    EXPECT_EQ(Paths(), (std::vector<std::string>{Dev("ttyACM0"), Dev("ttyS2"), Dev("ttyS10")}));

    m_sources.ttyClassDir = (m_root / "absent").string();
    m_sources.byIdDir = (m_root / "absent-too").string();
    EXPECT_TRUE(SerialPortListSp::ListSerialPorts(m_sources).empty());
}

TEST_F(SerialPortListTest, LegacyUartSlotsWithoutAChipAreLeftOut)
{
    fs::path absent = AddTty("ttyS0", "platform/serial8250/tty/ttyS0");
    WriteFile(absent / "type", "0");
    fs::path present = AddTty("ttyS1", "platform/serial8250/tty/ttyS1");
    WriteFile(present / "type", "4");
    EXPECT_EQ(Paths(), (std::vector<std::string>{Dev("ttyS1")}));
}

// The USB description itself is pinned by the "--ports" listing (cli).
TEST_F(SerialPortListTest, ByIdLinksFollowOnceEachWithTheirDevicesDescription)
{
    WriteFile(m_root / "sys/devices/pci/usb1/1-1/idVendor", "1a2b");
    WriteFile(m_root / "sys/devices/pci/usb1/1-1/product", "UART Bridge");
    AddTty("ttyUSB0", "pci/usb1/1-1/1-1:1.0/ttyUSB0");
    const fs::path byId(m_sources.byIdDir);
    fs::create_symlink("../../ttyUSB0", byId / "usb-Maker_UART_Bridge-if00-port0");
    fs::create_symlink("../../ttyUSB9", byId / "usb-Gone_Adapter-if00-port0");  // dangling: skipped

    std::vector<SerialPortListSp::SerialPortEntry> ports = SerialPortListSp::ListSerialPorts(m_sources);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].path, Dev("ttyUSB0"));
    EXPECT_EQ(ports[1].path, (byId / "usb-Maker_UART_Bridge-if00-port0").string());
    EXPECT_EQ(ports[1].description, ports[0].description);
    EXPECT_NE(ports[1].description, "");
}

}  // namespace
