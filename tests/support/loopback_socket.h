// A TCP socket on a port of 127.0.0.1 that the kernel picked free, for the
// servers and listeners the tests stand up; traffic stays on loopback.
#pragma once

#include <cstdint>

namespace TestSupport {

struct LoopbackSocket {
    int fd = -1;  // -1 when no port could be bound
    uint16_t port = 0;
};

// Bound, not yet listening; extraFlags go to socket() (SOCK_NONBLOCK, say).
LoopbackSocket BindLoopback(int extraFlags = 0);

}  // namespace TestSupport
