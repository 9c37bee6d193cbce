#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace Platform {

namespace {

// The large page of x86-64 and arm64 Linux; smaller buffers stay in ordinary pages.
constexpr size_t LARGE_PAGE_SIZE = 2u << 20;

size_t RoundUp(size_t size, size_t unit)
{
    return (size + unit - 1) / unit * unit;
}

} // namespace

void LargeBufferFree::operator()(uint8_t* bytes) const
{
    std::free(bytes);
}

LargeBuffer AllocateLargeBuffer(size_t size)
{
    if (size < LARGE_PAGE_SIZE || size > SIZE_MAX - LARGE_PAGE_SIZE) {
        return LargeBuffer(static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size)));
    }
    // Whole large pages, aligned to them, asked for before the first touch:
    // a system that grants them fills the buffer in them as it is written.
    const size_t rounded = RoundUp(size, LARGE_PAGE_SIZE);
    void* bytes = nullptr;
    if (posix_memalign(&bytes, LARGE_PAGE_SIZE, rounded) != 0) {
        return LargeBuffer();
    }
#ifdef MADV_HUGEPAGE
    // Only advice: without large pages the buffer works as well, only dearer.
    (void)madvise(bytes, rounded, MADV_HUGEPAGE);
#endif
    return LargeBuffer(static_cast<uint8_t*>(bytes));
}

} // namespace Platform
