#include "station/usb_ports.h"

#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>

namespace Station {

namespace {

namespace fs = std::filesystem;

constexpr size_t USB_ID_DIGITS = 4;

// One to four hex digits as sysfs writes them: four, lower case.
std::optional<std::string> UsbId(const std::string& text)
{
    if (text.empty() || text.size() > USB_ID_DIGITS) {
        return std::nullopt;
    }
    std::string id(USB_ID_DIGITS - text.size(), '0');
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return std::nullopt;
        }
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

std::string SameCase(const std::string& id)
{
    const std::optional<std::string> normal = UsbId(id);
    return normal ? *normal : id;
}

// The device a port name leads to; the name itself when it leads nowhere.
std::string DeviceOf(const std::string& path)
{
    std::error_code error;
    const fs::path device = fs::canonical(path, error);
    return error ? path : device.string();
}

}  // namespace

std::optional<UsbSelector> ParseUsbSelector(const std::string& text)
{
    const size_t first = text.find(':');
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const size_t second = text.find(':', first + 1);
    const std::optional<std::string> vendor = UsbId(text.substr(0, first));
    const std::optional<std::string> product =
        UsbId(text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
    if (!vendor || !product) {
        return std::nullopt;
    }
    UsbSelector selector{*vendor, *product, ""};
    if (second != std::string::npos) {
        selector.serial = text.substr(second + 1);
        if (selector.serial.empty()) {
            return std::nullopt;
        }
    }
    return selector;
}

bool Matches(const UsbSelector& selector, const SerialPortListSp::SerialPortEntry& port)
{
    return !port.usbVendorId.empty() && SameCase(port.usbVendorId) == selector.vendorId &&
           SameCase(port.usbProductId) == selector.productId &&
           (selector.serial.empty() || port.usbSerial == selector.serial);
}

std::vector<SerialPortListSp::SerialPortEntry> SelectUsbPorts(const std::vector<UsbSelector>& selectors,
                                                              const std::vector<SerialPortListSp::SerialPortEntry>& ports)
{
    std::vector<SerialPortListSp::SerialPortEntry> chosen;
    std::set<std::string> devices;
    for (const SerialPortListSp::SerialPortEntry& port : ports) {
        bool wanted = false;
        for (const UsbSelector& selector : selectors) {
            wanted = wanted || Matches(selector, port);
        }
        if (wanted && devices.insert(DeviceOf(port.path)).second) {
            chosen.push_back(port);
        }
    }
    return chosen;
}

std::string AdapterSerialOf(const std::string& port, const std::vector<SerialPortListSp::SerialPortEntry>& ports)
{
    const std::string device = DeviceOf(port);
    for (const SerialPortListSp::SerialPortEntry& entry : ports) {
        if (!entry.usbSerial.empty() && (entry.path == port || DeviceOf(entry.path) == device)) {
            return entry.usbSerial;
        }
    }
    return "";
}

}  // namespace Station
