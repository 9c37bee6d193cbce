#include "platform/large_buffer.h"

#include <cstdint>
#include <cstdlib>

namespace Platform {

// Large pages on Windows need a privilege that an operator's account does not
// have; the buffer lies in ordinary pages there.
void LargeBufferFree::operator()(uint8_t* bytes) const
{
    std::free(bytes);
}

LargeBuffer AllocateLargeBuffer(size_t size)
{
    // No object may be larger.
    if (size > static_cast<size_t>(PTRDIFF_MAX)) {
        return LargeBuffer();
    }
    return LargeBuffer(static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size)));
}

} // namespace Platform
