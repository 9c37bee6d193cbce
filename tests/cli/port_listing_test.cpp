// "--ports" over a prepared sysfs/dev tree: one line per port, the USB
// description after the path where the kernel gives one, and a note on the
// side when there is none. Dispatch and the usage line are checked through the
// built tool in installation_run_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/port_listing.h"
#include "transport/fake_sysfs.h"

namespace fs = std::filesystem;

namespace {

class PortListing : public FakeSysfs {};

TEST_F(PortListing, OnePortALineWithTheUsbDescriptionAfterThePathOrANoteWhenThereIsNone)
{
    std::ostringstream none;
    std::ostringstream note;
    EXPECT_EQ(FrontEnd::PrintSerialPorts(none, note, m_sources), 0);
    EXPECT_EQ(none.str(), "");
    EXPECT_EQ(note.str(), "no serial ports found\n");

    const fs::path usb = m_root / "sys/devices/pci/usb1/1-1";
    WriteFile(usb / "idVendor", "1a2b");
    WriteFile(usb / "manufacturer", "Maker Inc");
    WriteFile(usb / "product", "UART Bridge");
    WriteFile(usb / "serial", "A5XK3RJT");
    AddTty("ttyUSB0", "pci/usb1/1-1/1-1:1.0/ttyUSB0");
    AddTty("ttyS1", "platform/serial8250/tty/ttyS1");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(FrontEnd::PrintSerialPorts(out, err, m_sources), 0);
    EXPECT_EQ(out.str(), Dev("ttyS1") + "\n" + Dev("ttyUSB0") + "  Maker Inc UART Bridge (A5XK3RJT)\n");
    EXPECT_EQ(err.str(), "");
}

}  // namespace
