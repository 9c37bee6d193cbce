#ifndef TARNWICK_PLATFORM_LARGE_BUFFER_H
#define TARNWICK_PLATFORM_LARGE_BUFFER_H

// Memory for a file the tool keeps whole through a run (a package of several
// MiB). Where the system offers large pages, such a buffer lies in them: every
// time the tool wakes for the next block, the system pays for each page that
// the process keeps, and a 4 MiB package in 4 KiB pages is a thousand of them.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Platform {

struct LargeBufferFree {
    void operator()(uint8_t* bytes) const;
};

using LargeBuffer = std::unique_ptr<uint8_t[], LargeBufferFree>;

// size bytes, not initialised; null when the memory is not there.
LargeBuffer AllocateLargeBuffer(size_t size);

} // namespace Platform

#endif
