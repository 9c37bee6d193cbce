// The serial ports of the machine. Linux: tty devices bound to a driver, and
// the stable /dev/serial/by-id names, with the USB description where there is
// one. Windows: the COM names of the registry's serial device map, with the
// device's friendly name where the device manager has one.
#pragma once

#include <string>
#include <vector>

namespace SerialPortListSp {

struct SerialPortEntry {
    std::string path;         // what to open, e.g. /dev/ttyUSB0 or COM3
    std::string description;  // "maker product (serial)" of a USB device, a friendly name, or empty
    // The USB adapter behind the port as sysfs gives it (IDs in hex); empty when there is none.
    std::string usbVendorId;
    std::string usbProductId;
    std::string usbSerial;
};

// Where to look on Linux: under the system root, which is "/" unless the
// environment variable TARNWICK_SYSTEM_ROOT names a prepared tree (tests).
struct SerialPortSources {
    SerialPortSources() : SerialPortSources(SystemRoot()) {}
    explicit SerialPortSources(const std::string& root)
        : ttyClassDir(root + "/sys/class/tty"), devDir(root + "/dev"), byIdDir(root + "/dev/serial/by-id")
    {
    }
    static std::string SystemRoot();

    std::string ttyClassDir;
    std::string devDir;
    std::string byIdDir;
};

// Windows: COM ports in natural order (COM3 before COM10). Linux: tty devices in natural order (ttyS2 before ttyS10), then the by-id links;
// every path once.
std::vector<SerialPortEntry> ListSerialPorts(const SerialPortSources& sources = SerialPortSources());

// a < b with the number that ends each name compared as a number.
bool NaturalLess(const std::string& a, const std::string& b);

// The same list, paths only.
std::vector<std::string> ListSerialPortPaths(const SerialPortSources& sources = SerialPortSources());

}  // namespace SerialPortListSp
