// The port list over a prepared sysfs/dev tree of the shape Linux exposes.
// The USB description itself is pinned by the "--ports" listing (cli).
#include <gtest/gtest.h>

#include "transport/fake_sysfs.h"

namespace {

class SerialPortListTest : public FakeSysfs {};

TEST_F(SerialPortListTest, OnlyTtysWithADriverAChipAndANodeAreListedInNaturalOrderThenByIdLinks)
{
    AddTty("ttyS10", "platform/serial8250/tty/ttyS10");
    WriteFile(AddTty("ttyS2", "platform/serial8250/tty/ttyS2") / "type", "4");
    WriteFile(AddTty("ttyS0", "platform/serial8250/tty/ttyS0") / "type", "0");  // a legacy slot without a chip
    WriteFile(m_root / "sys/devices/pci/usb1/1-2/idVendor", "1a2b");
    WriteFile(m_root / "sys/devices/pci/usb1/1-2/product", "UART Bridge");
    AddTty("ttyACM0", "pci/usb1/1-2/1-2:1.0/ttyACM0");
    AddTty("tty1", "virtual/tty/tty1", false);
    fs::create_directories(fs::path(m_sources.ttyClassDir) / "console");  // no device link at all
    AddTty("ttyUSB3", "pci/usb1/1-3/1-3:1.0/ttyUSB3", true, false);      // no device node
    const fs::path byId(m_sources.byIdDir);
    fs::create_symlink("../../ttyACM0", byId / "usb-Maker_Board-if00");
    fs::create_symlink("../../ttyUSB9", byId / "usb-Gone_Adapter-if00-port0");  // dangling: skipped

    const std::string link = (byId / "usb-Maker_Board-if00").string();
    EXPECT_EQ(Paths(), (std::vector<std::string>{Dev("ttyACM0"), Dev("ttyS2"), Dev("ttyS10"), link}));
    std::vector<SerialPortListSp::SerialPortEntry> ports = SerialPortListSp::ListSerialPorts(m_sources);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[3].path, link);
    EXPECT_EQ(ports[3].description, ports[0].description);
    EXPECT_NE(ports[3].description, "");

    m_sources.ttyClassDir = (m_root / "absent").string();
    m_sources.byIdDir = (m_root / "absent-too").string();
    EXPECT_TRUE(SerialPortListSp::ListSerialPorts(m_sources).empty());
}

}  // namespace
