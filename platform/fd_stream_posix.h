// Reading and writing a non-blocking descriptor that carries a line (a tty,
// a TCP connection): the loops both kinds share, with the calls and the
// meaning of their errors given by the caller. POSIX only.
#ifndef TARNWICK_PLATFORM_FD_STREAM_POSIX_H
#define TARNWICK_PLATFORM_FD_STREAM_POSIX_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "platform/serial_port.h"

namespace Platform {
namespace FdStream {

struct Calls {
    ssize_t (*get)(int fd, void* buffer, size_t size);
    ssize_t (*put)(int fd, const void* data, size_t length);
    bool (*isLost)(int error);  // an errno that means the line is gone
    int hangUpError;            // errno reported for an end of file or a hang-up
};

// Takes what is queued without waiting; stops at the first short read, since
// the descriptor then held no more.
SerialIoResult ReadAvailable(int fd, uint8_t* buffer, size_t size, const Calls& calls);
// Hands every byte over, waiting while the queue is full; gives up when
// nothing is taken for stallMs.
SerialIoResult WriteAll(int fd, const uint8_t* data, size_t length, uint32_t stallMs, const Calls& calls);

}  // namespace FdStream
}  // namespace Platform

#endif
