#include "transport/line_factory.h"

#include <new>

#include "common/console.h"
#include "transport/raw_socket_line.h"
#include "transport/rfc2217_line.h"
#include "transport/serport_transport.h"

std::unique_ptr<TransportTypeBase> NewLine(const PortName& name)
{
    if (!name.WellFormed()) {
        Common::PrintInfo(0, Common::NORMAL_INFO, "error: %s\n", MalformedPortNameMessage(name).c_str());
        return nullptr;
    }
    std::unique_ptr<TransportTypeBase> line;
    std::unique_ptr<LineDevice> device;
    switch (name.kind) {
        case PortKind::DEVICE:
            line.reset(new (std::nothrow) SerportTransport());
            break;
        case PortKind::RFC2217:
            device.reset(new (std::nothrow) Rfc2217Line(name));
            break;
        case PortKind::RAW_SOCKET:
            device.reset(new (std::nothrow) RawSocketLine(name));
            break;
    }
    if (device) {
        line.reset(new (std::nothrow) LineTransport(std::move(device)));
    }
    if (!line) {
        Common::Print("new serport transport failed\n");
    }
    return line;
}
