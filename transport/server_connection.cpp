#include "transport/server_connection.h"

#include <cerrno>

#include "common/console.h"

namespace ServerConnection {

std::string Describe(const LineAddress& address)
{
    const bool ipv6 = address.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

void ReportOpenFailure(const LineStatus& status)
{
    Common::PrintInfo(0, Common::NORMAL_INFO, "error: %s.\n", status.reason.c_str());
}

LineStatus Connect(const std::string& portName, Platform::TcpSocket& socket, LineAddress& address)
{
    std::string reason;
    if (!ParseLineAddress(portName, address, reason)) {
        return LineStatus::Fail(reason, EINVAL);
    }
    int error = socket.Connect(address.host, address.port, CONNECT_TIMEOUT_MS, reason);
    return error == 0 ? LineStatus() : LineStatus::Fail(reason, error);
}

}  // namespace ServerConnection
