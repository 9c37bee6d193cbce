// Ports chosen by the identity of their USB adapter (--ports-usb
// VID:PID[:SERIAL]), and the adapter serial number of any local port.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port_list.h"

namespace Station {

struct UsbSelector {
    std::string vendorId;   // four lower-case hex digits
    std::string productId;  // four lower-case hex digits
    std::string serial;     // empty: any adapter of that kind
};

// "0403:6001" or "0403:6001:A10K3B7Q" (IDs in hex, one to four digits).
std::optional<UsbSelector> ParseUsbSelector(const std::string& text);
bool Matches(const UsbSelector& selector, const SerialPortListSp::SerialPortEntry& port);

// The ports whose adapter matches a selector, in the list's order, each
// device once (a by-id link and its tty are one port: the tty is kept).
std::vector<SerialPortListSp::SerialPortEntry> SelectUsbPorts(const std::vector<UsbSelector>& selectors,
                                                              const std::vector<SerialPortListSp::SerialPortEntry>& ports);

// The serial number of the USB adapter behind a port named in any way (its
// tty, a link to it), empty when the list knows none.
std::string AdapterSerialOf(const std::string& port, const std::vector<SerialPortListSp::SerialPortEntry>& ports);

}  // namespace Station
