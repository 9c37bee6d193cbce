#include "transport/server_connection.h"

#include <cerrno>

#include "common/console.h"

namespace ServerConnection {

void ReportOpenFailure(const LineStatus& status)
{
    Common::PrintInfo(0, Common::NORMAL_INFO, "error: %s.\n", status.reason.c_str());
}

LineStatus Connect(const PortName& name, Platform::TcpSocket& socket, const Platform::HostLookup& lookup)
{
    if (!name.IsNetwork()) {
        return LineStatus::Fail("\"" + name.text + "\" names no serial server", EINVAL);
    }
    if (!name.WellFormed()) {
        return LineStatus::Fail(MalformedPortNameMessage(name), EINVAL);
    }
    std::string reason;
    int error = socket.Connect(name.host, name.port, CONNECT_TIMEOUT_MS, reason, lookup);
    return error == 0 ? LineStatus() : LineStatus::Fail(reason, error);
}

}  // namespace ServerConnection
