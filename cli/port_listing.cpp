#include "cli/port_listing.h"

namespace FrontEnd {

int PrintSerialPorts(std::ostream& out, std::ostream& err, const SerialPortListSp::SerialPortSources& sources)
{
    const std::vector<SerialPortListSp::SerialPortEntry> ports = SerialPortListSp::ListSerialPorts(sources);
    if (ports.empty()) {
        err << "no serial ports found\n";
    }
    for (const SerialPortListSp::SerialPortEntry& port : ports) {
        out << port.path;
        if (!port.description.empty()) {
            out << "  " << port.description;
        }
        out << "\n";
    }
    out.flush();
    return 0;
}

}  // namespace FrontEnd
