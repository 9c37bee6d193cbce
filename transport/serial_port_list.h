// The serial ports of a Linux machine: tty devices bound to a driver, and the
// stable /dev/serial/by-id names, with the USB description where there is one.
#pragma once

#include <string>
#include <vector>

namespace SerialPortListSp {

struct SerialPortEntry {
    std::string path;         // device path to open, e.g. /dev/ttyUSB0
    std::string description;  // "maker product (serial)" of a USB device, else empty
};

// Where to look; tests point these at a prepared tree.
struct SerialPortSources {
    std::string ttyClassDir = "/sys/class/tty";
    std::string devDir = "/dev";
    std::string byIdDir = "/dev/serial/by-id";
};

// Tty devices in natural order (ttyS2 before ttyS10), then the by-id links;
// every path once.
std::vector<SerialPortEntry> ListSerialPorts(const SerialPortSources& sources = SerialPortSources());

// The same list, paths only.
std::vector<std::string> ListSerialPortPaths(const SerialPortSources& sources = SerialPortSources());

}  // namespace SerialPortListSp
