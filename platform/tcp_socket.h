// A TCP connection to a serial server, reduced to what a line to a board
// needs: a bounded connect, non-blocking reads, writes that hand over every
// byte, and a wait that a wake-up event can end. Results use the serial
// port's types, so the lines above treat both alike.
#ifndef TARNWICK_PLATFORM_TCP_SOCKET_H
#define TARNWICK_PLATFORM_TCP_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace Platform {

// One address of a server as the system's name look-up gives it.
struct ServerAddress {
    int family = 0;                // the system's address family
    std::vector<uint8_t> address;  // the system's socket address record
};

// Finds the TCP addresses of host for port, taking as long as the resolver
// takes. 0 and the addresses, or errno and a reason naming the host.
using HostLookup = std::function<int(const std::string& host, uint16_t port, std::vector<ServerAddress>& found,
                                     std::string& reason)>;
int SystemHostLookup(const std::string& host, uint16_t port, std::vector<ServerAddress>& found,
                     std::string& reason);

// Runs lookup aside and waits for its answer at most timeoutMs: a resolver
// that hangs costs the caller no more than that. ETIMEDOUT when it did not
// answer in time (it is left to finish on its own).
int LookUpWithin(const HostLookup& lookup, const std::string& host, uint16_t port, int timeoutMs,
                 std::vector<ServerAddress>& found, std::string& reason);

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Looks host up and connects to the first address that answers, both
    // within timeoutMs in all, with Nagle off and keep-alive on. 0 on
    // success, otherwise errno (ETIMEDOUT when the look-up or the server did
    // not answer in time) and a reason naming host and port.
    int Connect(const std::string& host, uint16_t port, int timeoutMs, std::string& reason,
                const HostLookup& lookup = SystemHostLookup);
    void Close();
    bool IsOpen() const;

    // Takes what has arrived without waiting; a closed or reset connection
    // is a lost line.
    SerialIoResult Read(uint8_t* buffer, size_t size);
    // Hands every byte over, waiting while the send buffer is full; gives up
    // when nothing is taken for stallMs.
    SerialIoResult Write(const uint8_t* data, size_t length, uint32_t stallMs);
    // Waits until readable or timeoutMs has passed (negative: no limit).
    SerialWait Wait(int timeoutMs) const;

private:
#ifdef _WIN32
    uintptr_t m_fd = ~static_cast<uintptr_t>(0);  // SOCKET
    void* m_readEvent = nullptr;                  // WSAEventSelect target
#else
    int m_fd = -1;
#endif
};

}  // namespace Platform

#endif
