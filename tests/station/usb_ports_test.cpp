// Ports chosen by their USB adapter, read from a sysfs tree the test builds:
// which selectors are understood, which ports they choose, and which adapter
// serial number a port named in any way has.
#include <gtest/gtest.h>

#include <tuple>

#include "station/usb_ports.h"
#include "transport/fake_sysfs.h"

namespace {

using namespace Station;

class UsbAdapters : public FakeSysfs {
protected:
    // A USB serial adapter with one tty, as sysfs shows an FTDI or CH340 cable.
    void AddAdapter(const std::string& tty, const std::string& usbPath, const std::string& vendor,
                    const std::string& product, const std::string& serial)
    {
        const fs::path usb = m_root / "sys/devices/pci0000:00/usb1" / usbPath;
        WriteFile(usb / "idVendor", vendor);
        WriteFile(usb / "idProduct", product);
        if (!serial.empty()) {
            WriteFile(usb / "serial", serial);
        }
        AddTty(tty, fs::path("pci0000:00/usb1") / usbPath / (usbPath + ":1.0") / tty);
    }

    std::vector<std::string> Chosen(const std::vector<std::string>& texts) const
    {
        std::vector<UsbSelector> selectors;
        for (const std::string& text : texts) {
            selectors.push_back(*ParseUsbSelector(text));
        }
        std::vector<std::string> paths;
        for (const auto& port : SelectUsbPorts(selectors, SerialPortListSp::ListSerialPorts(m_sources))) {
            paths.push_back(port.path);
        }
        return paths;
    }

    void SetUp() override
    {
        FakeSysfs::SetUp();
        AddAdapter("ttyUSB0", "1-1", "0403", "6001", "A10K3B7Q");
        AddAdapter("ttyUSB1", "1-2", "0403", "6001", "A10K9ZZZ");
        AddAdapter("ttyUSB2", "1-3", "1A86", "7523", "");  // a CH340 without a serial number
        AddAdapter("ttyACM0", "1-4", "2e8a", "000a", "E6614C311B");
        AddTty("ttyS0", "platform/serial8250/tty/ttyS0");
        fs::create_symlink("../../ttyUSB1", m_sources.byIdDir + "/usb-FTDI_USB_Serial_A10K9ZZZ-if00-port0");
    }
};

TEST(UsbSelectors, HexIdsOfOneToFourDigitsAndAnOptionalSerial)
{
    const std::optional<UsbSelector> full = ParseUsbSelector("403:6001:A10K:3B7Q");
    ASSERT_TRUE(full);
    // A serial number may hold a colon.
    EXPECT_EQ(std::tie(full->vendorId, full->productId, full->serial), std::make_tuple("0403", "6001", "A10K:3B7Q"));
    EXPECT_EQ(ParseUsbSelector("1A86:7523")->vendorId, "1a86");
    for (const char* wrong :
         {"", "0403", ":6001", "0403:", "04031:6001", "0403:6001:", "g403:6001", "0403:60g1", "0403 6001"}) {
        EXPECT_FALSE(ParseUsbSelector(wrong)) << wrong;
    }
}

// ttyUSB1 has a by-id link as well: a port and its link are one port, named by its tty.
// Both FTDI cables of a fixture chosen by 403:6001, and their serial numbers, are
// the station's end to end (BoardsByAdapter).
TEST_F(UsbAdapters, AVendorAndProductChooseEveryAdapterOfThatKindAndASerialNumberOne)
{
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> rows{
        {{"1a86:7523"}, {Dev("ttyUSB2")}},
        {{"0403:6010"}, {}},
        {{"0403:6001:A10K9ZZZ"}, {Dev("ttyUSB1")}},
        {{"0403:6001:a10k9zzz"}, {}},  // serial numbers are exact
        {{"2e8a:000a:E6614C311B", "0403:6001:A10K3B7Q"}, {Dev("ttyACM0"), Dev("ttyUSB0")}},  // the list's order
    };
    for (const auto& [selectors, chosen] : rows) {
        SCOPED_TRACE(selectors.front());
        EXPECT_EQ(Chosen(selectors), chosen);
    }
}

TEST_F(UsbAdapters, TheAdapterSerialOfAPortNamedByTtyOrByLink)
{
    const auto ports = SerialPortListSp::ListSerialPorts(m_sources);
    EXPECT_EQ(AdapterSerialOf(m_sources.byIdDir + "/usb-FTDI_USB_Serial_A10K9ZZZ-if00-port0", ports), "A10K9ZZZ");
    EXPECT_EQ(AdapterSerialOf(Dev("ttyUSB2"), ports), "");  // no serial number
    EXPECT_EQ(AdapterSerialOf(Dev("ttyS0"), ports), "");
    EXPECT_EQ(AdapterSerialOf("rfc2217://10.0.0.5:4001", ports), "");
}

}  // namespace
