#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSupport {

LoopbackSocket BindLoopback(int extraFlags)
{
    LoopbackSocket bound;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | extraFlags, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        bound.fd = fd;
        bound.port = ntohs(address.sin_port);
    } else if (fd >= 0) {
        close(fd);
    }
    return bound;
}

}  // namespace TestSupport
