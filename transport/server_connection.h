// Opening the TCP connection of a network line: the parsed port name gives
// host and port, the look-up and the connect share one bounded deadline, and
// a failure says which server it was.
#pragma once

#include "platform/tcp_socket.h"
#include "transport/line_settings.h"
#include "transport/port_name.h"

namespace ServerConnection {

constexpr int CONNECT_TIMEOUT_MS = 5000;

LineStatus Connect(const PortName& name, Platform::TcpSocket& socket, const Platform::HostLookup& lookup);

// The engine reports an open failure without its reason; for a server the
// reason (which host, refused or silent) is what the user needs.
void ReportOpenFailure(const LineStatus& status);

}  // namespace ServerConnection
