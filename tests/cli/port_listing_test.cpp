// "--ports" over a prepared sysfs/dev tree: one line per port, the USB
// description after the path where the kernel gives one, and dispatch from
// the front end.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/front_end.h"
#include "cli/port_listing.h"
#include "transport/fake_sysfs.h"

namespace fs = std::filesystem;

namespace {

class PortListing : public FakeSysfs {};

TEST_F(PortListing, OnePortALineWithTheUsbDescriptionAfterThePath)
{
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

TEST_F(PortListing, NoPortsIsAnEmptyListAndANoteOnTheSide)
{
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(FrontEnd::PrintSerialPorts(out, err, m_sources), 0);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "no serial ports found\n");
}

TEST(PortListingDispatch, PortsIsAnOperationAndTheUsageTextEndsWithIt)
{
    char program[] = "tarnwickcmd";
    char ports[] = "--ports";
    char* argv[] = {program, ports, nullptr};
    ::testing::internal::CaptureStdout();
    const int code = FrontEnd::RunFrontEnd(2, argv);
    const std::string listed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(listed.find("tarnwickcmd.exe --burn"), std::string::npos) << listed;

    ::testing::internal::CaptureStdout();
    FrontEnd::Help();
    const std::string usage = ::testing::internal::GetCapturedStdout();
    const std::string last = "--ports           list the serial ports of this machine, one a line, with the USB "
                             "description.\n";
    ASSERT_GE(usage.size(), last.size());
    EXPECT_EQ(usage.substr(usage.size() - last.size()), last);
    // The specified lines stay first and unchanged.
    EXPECT_EQ(usage.rfind("tarnwickcmd.exe --burn [-f filePath] [-p programmerPath]\n", 0), 0u);
}

}  // namespace
