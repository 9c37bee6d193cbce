// Opening the TCP connection of a network line: the port name gives host and
// port, the connect is bounded, and a failure says which server it was.
#pragma once

#include <string>

#include "platform/tcp_socket.h"
#include "transport/line_factory.h"
#include "transport/line_settings.h"

namespace ServerConnection {

constexpr int CONNECT_TIMEOUT_MS = 5000;

LineStatus Connect(const std::string& portName, Platform::TcpSocket& socket, LineAddress& address);

// The engine reports an open failure without its reason; for a server the
// reason (which host, refused or silent) is what the user needs.
void ReportOpenFailure(const LineStatus& status);

// The part of a reason that names the connection.
std::string Describe(const LineAddress& address);

}  // namespace ServerConnection
