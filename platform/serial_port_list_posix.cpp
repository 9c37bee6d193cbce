#include "platform/serial_port_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace SerialPortListSp {

namespace {

// The USB device sits a few levels above the tty's interface or port node.
constexpr int MAX_USB_PARENT_LEVELS = 8;
// serial8250 registers every legacy UART slot; type 0 means no chip answered.
const char* const UNKNOWN_PORT_TYPE = "0";

std::string ReadAttribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string value;
    if (!in || !std::getline(in, value)) {
        return std::string();
    }
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())) != 0) {
        value.pop_back();
    }
    return value;
}

bool Exists(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(p, ec);
}

// Fills the description and USB identity of entry from the USB device above the tty.
void DescribeUsbAdapter(const fs::path& ttyEntry, SerialPortEntry& entry)
{
    std::error_code ec;
    fs::path dir = fs::canonical(ttyEntry / "device", ec);
    if (ec) {
        return;
    }
    for (int level = 0; level < MAX_USB_PARENT_LEVELS && dir.has_relative_path(); ++level) {
        if (Exists(dir / "idVendor")) {
            std::string text = ReadAttribute(dir / "manufacturer");
            std::string product = ReadAttribute(dir / "product");
            if (!product.empty()) {
                text += text.empty() ? product : " " + product;
            }
            std::string serial = ReadAttribute(dir / "serial");
            if (!serial.empty()) {
                text += text.empty() ? serial : " (" + serial + ")";
            }
            entry.description = text;
            entry.usbVendorId = ReadAttribute(dir / "idVendor");
            entry.usbProductId = ReadAttribute(dir / "idProduct");
            entry.usbSerial = serial;
            return;
        }
        dir = dir.parent_path();
    }
}

std::vector<std::string> SortedNames(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts(const SerialPortSources& sources)
{
    std::vector<SerialPortEntry> ports;
    std::set<std::string> seen;
    std::map<std::string, SerialPortEntry> entryByTty;

    const fs::path ttyClass(sources.ttyClassDir);
    for (const std::string& name : SortedNames(ttyClass)) {
        fs::path entry = ttyClass / name;
        if (!Exists(entry / "device" / "driver")) {
            continue;  // virtual terminals, ptys, the console
        }
        if (ReadAttribute(entry / "type") == UNKNOWN_PORT_TYPE) {
            continue;
        }
        std::string path = (fs::path(sources.devDir) / name).string();
        if (!Exists(path) || !seen.insert(path).second) {
            continue;
        }
        SerialPortEntry port;
        port.path = path;
        DescribeUsbAdapter(entry, port);
        entryByTty[name] = port;
        ports.push_back(port);
    }

    const fs::path byId(sources.byIdDir);
    for (const std::string& name : SortedNames(byId)) {
        std::string path = (byId / name).string();
        std::error_code ec;
        fs::path target = fs::canonical(path, ec);
        if (ec || !seen.insert(path).second) {
            continue;  // a dangling link: its device is gone
        }
        auto known = entryByTty.find(target.filename().string());
        SerialPortEntry link = known != entryByTty.end() ? known->second : SerialPortEntry();
        link.path = path;
        ports.push_back(link);
    }
    return ports;
}

}  // namespace SerialPortListSp
