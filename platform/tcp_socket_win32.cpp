#include "platform/tcp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <cerrno>
#include <mutex>

#include "platform/monotonic_clock.h"

namespace Platform {

namespace {

constexpr ULONG KEEPALIVE_IDLE_MS = 10000;
constexpr ULONG KEEPALIVE_INTERVAL_MS = 2000;
constexpr WORD WINSOCK_VERSION_2_2 = MAKEWORD(2, 2);

int ErrnoFromWsa(int error)
{
    switch (error) {
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENETRESET:
        case WSAESHUTDOWN:
            return ECONNRESET;
        case WSAENOTCONN:
            return ENOTCONN;
        case WSAETIMEDOUT:
            return ETIMEDOUT;
        case WSAECONNREFUSED:
            return ECONNREFUSED;
        case WSAEHOSTUNREACH:
            return EHOSTUNREACH;
        case WSAENETUNREACH:
            return ENETUNREACH;
        default:
            return EIO;
    }
}

bool IsLostError(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET || error == WSAESHUTDOWN ||
           error == WSAENOTCONN || error == WSAETIMEDOUT || error == WSAEHOSTUNREACH || error == WSAENETUNREACH;
}

bool StartWinsock()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(WINSOCK_VERSION_2_2, &data) == 0;
    });
    return started;
}

void TuneConnected(SOCKET s)
{
    // Stop-and-wait frames are small: each must leave at once.
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
    tcp_keepalive keepalive{1, KEEPALIVE_IDLE_MS, KEEPALIVE_INTERVAL_MS};
    DWORD ignored = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepalive, sizeof(keepalive), nullptr, 0, &ignored, nullptr, nullptr);
}

// One address: 0 and the connected socket, or errno.
int ConnectOne(const ServerAddress& address, int64_t deadline, SOCKET& out)
{
    SOCKET s = socket(address.family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return ErrnoFromWsa(WSAGetLastError());
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    const auto* where = reinterpret_cast<const sockaddr*>(address.address.data());
    if (connect(s, where, static_cast<int>(address.address.size())) != 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
        int error = ErrnoFromWsa(WSAGetLastError());
        closesocket(s);
        return error;
    }
    WSAPOLLFD pfd{s, POLLOUT, 0};
    int64_t left = deadline - MonotonicMs();
    if (WSAPoll(&pfd, 1, left < 0 ? 0 : static_cast<INT>(left)) <= 0) {
        closesocket(s);
        return ETIMEDOUT;
    }
    int error = 0;
    int length = sizeof(error);
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    if (error != 0 || (pfd.revents & (POLLERR | POLLHUP)) != 0) {
        closesocket(s);
        return error != 0 ? ErrnoFromWsa(error) : ECONNREFUSED;
    }
    out = s;
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

bool TcpSocket::IsOpen() const
{
    return m_fd != INVALID_SOCKET;
}

int SystemHostLookup(const std::string& host, uint16_t port, std::vector<ServerAddress>& found, std::string& reason)
{
    if (!StartWinsock()) {
        reason = "the network library did not start";
        return EIO;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) {
        reason = "cannot find the server " + host;
        return EHOSTUNREACH;
    }
    found.clear();
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
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
    if (!StartWinsock()) {
        reason = "the network library did not start";
        return EIO;
    }
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
    SOCKET s = INVALID_SOCKET;
    for (const ServerAddress& address : found) {
        if (MonotonicMs() >= deadline) {
            error = ETIMEDOUT;
            break;
        }
        error = ConnectOne(address, deadline, s);
        if (error == 0) {
            break;
        }
    }
    if (error != 0) {
        reason = error == ETIMEDOUT ? "no answer from " + Where(host, port) + " within " + window
                                    : "cannot connect to " + Where(host, port);
        return error;
    }
    HANDLE readEvent = WSACreateEvent();
    if (readEvent == WSA_INVALID_EVENT || WSAEventSelect(s, readEvent, FD_READ | FD_CLOSE) != 0) {
        if (readEvent != WSA_INVALID_EVENT) {
            WSACloseEvent(readEvent);
        }
        closesocket(s);
        reason = "cannot watch the connection to " + Where(host, port);
        return EIO;
    }
    TuneConnected(s);
    m_fd = s;
    m_readEvent = readEvent;
    return 0;
}

void TcpSocket::Close()
{
    if (m_fd != INVALID_SOCKET) {
        shutdown(m_fd, SD_BOTH);
        closesocket(m_fd);
        m_fd = INVALID_SOCKET;
    }
    if (m_readEvent != nullptr) {
        WSACloseEvent(m_readEvent);
        m_readEvent = nullptr;
    }
}

SerialIoResult TcpSocket::Read(uint8_t* buffer, size_t size)
{
    SerialIoResult result;
    if (m_fd == INVALID_SOCKET) {
        result.error = EBADF;
        return result;
    }
    while (result.count < size) {
        const size_t left = size - result.count;
        int n = recv(m_fd, reinterpret_cast<char*>(buffer + result.count), left > INT_MAX ? INT_MAX : static_cast<int>(left), 0);
        if (n > 0) {
            result.count += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) {
            result.lineLost = true;  // the server closed the connection
            result.error = ECONNRESET;
            break;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            result.error = ErrnoFromWsa(error);
            result.lineLost = IsLostError(error);
        }
        break;
    }
    return result;
}

SerialIoResult TcpSocket::Write(const uint8_t* data, size_t length, uint32_t stallMs)
{
    SerialIoResult result;
    if (m_fd == INVALID_SOCKET) {
        result.error = EBADF;
        return result;
    }
    int64_t deadline = MonotonicMs() + stallMs;
    while (result.count < length) {
        const size_t left = length - result.count;
        int n = send(m_fd, reinterpret_cast<const char*>(data + result.count), left > INT_MAX ? INT_MAX : static_cast<int>(left), 0);
        if (n > 0) {
            result.count += static_cast<size_t>(n);
            deadline = MonotonicMs() + stallMs;
            continue;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            result.error = ErrnoFromWsa(error);
            result.lineLost = IsLostError(error);
            break;
        }
        int64_t wait = deadline - MonotonicMs();
        if (wait <= 0) {
            result.error = ETIMEDOUT;
            break;
        }
        WSAPOLLFD pfd{m_fd, POLLOUT, 0};
        if (WSAPoll(&pfd, 1, static_cast<INT>(wait)) > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0 &&
            (pfd.revents & POLLOUT) == 0) {
            result.error = ECONNRESET;
            result.lineLost = true;
            break;
        }
    }
    return result;
}

SerialWait TcpSocket::Wait(int timeoutMs) const
{
    if (m_fd == INVALID_SOCKET) {
        return SerialWait::FAILED;
    }
    u_long queued = 0;
    if (ioctlsocket(m_fd, FIONREAD, &queued) == 0 && queued > 0) {
        return SerialWait::READABLE;
    }
    DWORD which = WaitForSingleObject(m_readEvent, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (which == WAIT_TIMEOUT) {
        return SerialWait::TIMEOUT;
    }
    if (which != WAIT_OBJECT_0) {
        return SerialWait::FAILED;
    }
    // Re-arms the event; a closed connection is readable, and the read that
    // follows reports the loss.
    WSANETWORKEVENTS events{};
    WSAEnumNetworkEvents(m_fd, m_readEvent, &events);
    return SerialWait::READABLE;
}

}  // namespace Platform
