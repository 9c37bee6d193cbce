#include "platform/fd_stream_posix.h"

#include <poll.h>

#include <cerrno>

#include "platform/hot_path.h"
#include "platform/monotonic_clock.h"

namespace Platform {
namespace FdStream {

HOT_PATH SerialIoResult ReadAvailable(int fd, uint8_t* buffer, size_t size, const Calls& calls)
{
    SerialIoResult result;
    if (fd < 0) {
        result.error = EBADF;
        return result;
    }
    while (result.count < size) {
        const size_t asked = size - result.count;
        ssize_t n = calls.get(fd, buffer + result.count, asked);
        if (n > 0) {
            result.count += static_cast<size_t>(n);
            if (static_cast<size_t>(n) < asked) {
                break;
            }
            continue;
        }
        if (n == 0) {
            result.lineLost = true;  // end of file: the peer hung up
            result.error = calls.hangUpError;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result.error = errno;
            result.lineLost = calls.isLost(errno);
        }
        break;
    }
    return result;
}

HOT_PATH SerialIoResult WriteAll(int fd, const uint8_t* data, size_t length, uint32_t stallMs, const Calls& calls)
{
    SerialIoResult result;
    if (fd < 0) {
        result.error = EBADF;
        return result;
    }
    // The stall clock starts when the queue is first found full after the
    // last byte taken: a frame the queue takes at once reads no clock.
    bool stalling = false;
    int64_t deadline = 0;
    while (result.count < length) {
        ssize_t n = calls.put(fd, data + result.count, length - result.count);
        if (n > 0) {
            result.count += static_cast<size_t>(n);
            stalling = false;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            result.error = errno;
            result.lineLost = calls.isLost(errno);
            break;
        }
        // The queue is full: wait until it takes more.
        const int64_t now = MonotonicMs();
        if (!stalling) {
            stalling = true;
            deadline = now + stallMs;
        }
        int64_t left = deadline - now;
        if (left <= 0) {
            result.error = ETIMEDOUT;
            break;
        }
        struct pollfd pfd {fd, POLLOUT, 0};
        int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            result.error = errno;
            break;
        }
        if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (pfd.revents & POLLOUT) == 0) {
            result.error = calls.hangUpError;
            result.lineLost = true;
            break;
        }
    }
    return result;
}

}  // namespace FdStream
}  // namespace Platform
