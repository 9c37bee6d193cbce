#include "platform/tcp_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/fd_stream_posix.h"
#include "platform/monotonic_clock.h"

namespace Platform {

namespace {

// A dead peer (server unplugged, no reset sent) is noticed after about
// idle + interval * count seconds instead of never.
constexpr int KEEPALIVE_IDLE_S = 10;
constexpr int KEEPALIVE_INTERVAL_S = 2;
constexpr int KEEPALIVE_COUNT = 3;

bool IsLostError(int error)
{
    return error == ECONNRESET || error == EPIPE || error == ENOTCONN || error == ETIMEDOUT ||
           error == EHOSTUNREACH || error == ENETUNREACH || error == ECONNABORTED;
}

ssize_t SocketRead(int fd, void* buffer, size_t size)
{
    return recv(fd, buffer, size, 0);
}

ssize_t SocketWrite(int fd, const void* data, size_t length)
{
    // A vanished peer must be an error here, not a SIGPIPE.
    return send(fd, data, length, MSG_NOSIGNAL);
}

const FdStream::Calls SOCKET_CALLS = {SocketRead, SocketWrite, IsLostError, ECONNRESET};

void CloseFd(int fd)
{
    (void)close(fd);
}

void SetOption(int fd, int level, int name, int value)
{
    (void)setsockopt(fd, level, name, &value, sizeof(value));
}

void TuneConnected(int fd)
{
    // Stop-and-wait frames are small: each must leave at once, not after the
    // previous one's acknowledgement.
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
    SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, KEEPALIVE_IDLE_S);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, KEEPALIVE_INTERVAL_S);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, KEEPALIVE_COUNT);
#endif
}

int PollOne(int fd, short events, int timeoutMs, short& revents)
{
    struct pollfd pfd {fd, events, 0};
    int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        int left = static_cast<int>(deadline - MonotonicMs());
        int ready = poll(&pfd, 1, left < 0 ? 0 : left);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        revents = pfd.revents;
        return ready;
    }
}

// One address: 0 and the connected descriptor, or errno.
int ConnectOne(const ServerAddress& address, int64_t deadline, int& fdOut)
{
    int fd = socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return errno;
    }
    const auto* where = reinterpret_cast<const struct sockaddr*>(address.address.data());
    if (connect(fd, where, static_cast<socklen_t>(address.address.size())) != 0 && errno != EINPROGRESS) {
        int error = errno;
        CloseFd(fd);
        return error;
    }
    short revents = 0;
    int left = static_cast<int>(deadline - MonotonicMs());
    if (PollOne(fd, POLLOUT, left < 0 ? 0 : left, revents) <= 0) {
        CloseFd(fd);
        return ETIMEDOUT;
    }
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
    }
    if (error != 0) {
        CloseFd(fd);
        return error;
    }
    fdOut = fd;
    return 0;
}

std::string Where(const std::string& host, uint16_t port)
{
    return host + " port " + std::to_string(port);
}

}  // namespace

TcpSocket::~TcpSocket()
{
    Close();
}

int SystemHostLookup(const std::string& host, uint16_t port, std::vector<ServerAddress>& found, std::string& reason)
{
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    struct addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    int gai = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (gai != 0) {
        reason = "cannot find the server " + host + ": " + gai_strerror(gai);
        return gai == EAI_SYSTEM && errno != 0 ? errno : EHOSTUNREACH;
    }
    found.clear();
    for (const struct addrinfo* a = list; a != nullptr; a = a->ai_next) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(a->ai_addr);
        found.push_back(ServerAddress{a->ai_family, std::vector<uint8_t>(bytes, bytes + a->ai_addrlen)});
    }
    freeaddrinfo(list);
    return 0;
}

int TcpSocket::Connect(const std::string& host, uint16_t port, int timeoutMs, std::string& reason,
                       const HostLookup& lookup)
{
    Close();
    // The look-up and the connect share the one deadline.
    const int64_t deadline = MonotonicMs() + timeoutMs;
    const std::string window = std::to_string(timeoutMs / 1000) + " s";
    std::vector<ServerAddress> found;
    int error = LookUpWithin(lookup, host, port, timeoutMs, found, reason);
    if (error != 0) {
        if (error == ETIMEDOUT) {
            reason = "cannot find the server " + Where(host, port) + ": the name look-up gave no answer within " +
                     window;
        }
        return error;
    }
    error = EHOSTUNREACH;
    for (const ServerAddress& address : found) {
        if (MonotonicMs() >= deadline) {
            error = ETIMEDOUT;
            break;
        }
        error = ConnectOne(address, deadline, m_fd);
        if (error == 0) {
            break;
        }
    }
    if (error != 0) {
        m_fd = -1;
        reason = error == ETIMEDOUT ? "no answer from " + Where(host, port) + " within " + window
                                    : "cannot connect to " + Where(host, port) + ": " + std::strerror(error);
        return error;
    }
    TuneConnected(m_fd);
    return 0;
}

void TcpSocket::Close()
{
    if (m_fd >= 0) {
        (void)shutdown(m_fd, SHUT_RDWR);
        CloseFd(m_fd);
        m_fd = -1;
    }
}

SerialIoResult TcpSocket::Read(uint8_t* buffer, size_t size)
{
    return FdStream::ReadAvailable(m_fd, buffer, size, SOCKET_CALLS);
}

SerialIoResult TcpSocket::Write(const uint8_t* data, size_t length, uint32_t stallMs)
{
    return FdStream::WriteAll(m_fd, data, length, stallMs, SOCKET_CALLS);
}

bool TcpSocket::IsOpen() const
{
    return m_fd >= 0;
}

SerialWait TcpSocket::Wait(int timeoutMs) const
{
    if (m_fd < 0) {
        return SerialWait::FAILED;
    }
    struct pollfd pfd {m_fd, POLLIN, 0};
    for (;;) {
        int ready = poll(&pfd, 1, timeoutMs < 0 ? -1 : timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SerialWait::FAILED;
        }
        if (ready == 0) {
            return SerialWait::TIMEOUT;
        }
        break;
    }
    // A closed connection is readable: the read that follows reports the loss.
    if ((pfd.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        return SerialWait::READABLE;
    }
    return SerialWait::FAILED;
}

}  // namespace Platform
