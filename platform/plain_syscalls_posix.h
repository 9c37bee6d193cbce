#ifndef TARNWICK_PLATFORM_PLAIN_SYSCALLS_POSIX_H
#define TARNWICK_PLATFORM_PLAIN_SYSCALLS_POSIX_H

// read, write and poll of the serial line as plain system calls on Linux.
// Once a process has a second thread (the console's helper), the C library's
// wrappers of these calls do a thread cancellation's bookkeeping around each
// one: two more library code pages and a line of thread state that every
// frame touches after its wait for the board. No thread of these programs is
// ever cancelled, so the bookkeeping buys nothing. Results and errno are the
// wrappers' own.

#include <poll.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/syscall.h>

#include <ctime>
#endif

namespace Platform {
namespace PlainSyscalls {

inline ssize_t Read(int fd, void* buffer, size_t size)
{
#ifdef __linux__
    return static_cast<ssize_t>(syscall(SYS_read, fd, buffer, size));
#else
    return read(fd, buffer, size);
#endif
}

inline ssize_t Write(int fd, const void* data, size_t length)
{
#ifdef __linux__
    return static_cast<ssize_t>(syscall(SYS_write, fd, data, length));
#else
    return write(fd, data, length);
#endif
}

// timeoutMs < 0 waits without limit, as poll's.
inline int Poll(struct pollfd* fds, nfds_t count, int timeoutMs)
{
#ifdef __linux__
    // ppoll: the one form every Linux architecture has.
    constexpr long MS_PER_S = 1000;
    constexpr long NS_PER_MS = 1000000;
    struct timespec timeout {timeoutMs / MS_PER_S, (timeoutMs % MS_PER_S) * NS_PER_MS};
    return static_cast<int>(syscall(SYS_ppoll, fds, count, timeoutMs < 0 ? nullptr : &timeout, nullptr, 0));
#else
    return poll(fds, count, timeoutMs);
#endif
}

}  // namespace PlainSyscalls
}  // namespace Platform

#endif
