#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace Platform {

namespace {

// The large page of x86-64 and arm64 Linux; smaller buffers stay in ordinary pages.
constexpr size_t LARGE_PAGE_SIZE = 2u << 20;

} // namespace

void LargeBufferFree::operator()(uint8_t* bytes) const
{
    std::free(bytes);
}

LargeBuffer AllocateLargeBuffer(size_t size)
{
    // No object may be larger; refused here rather than by each allocator its own way.
    if (size > static_cast<size_t>(PTRDIFF_MAX)) {
        return LargeBuffer();
    }
    if (size < LARGE_PAGE_SIZE) {
        return LargeBuffer(static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size)));
    }
    // Aligned to large pages and advised before the first touch: a system
    // that grants them fills the buffer in them as it is written.
    void* bytes = nullptr;
    if (posix_memalign(&bytes, LARGE_PAGE_SIZE, size) != 0) {
        return LargeBuffer();
    }
#ifdef MADV_HUGEPAGE
    // Whole large pages only: a partial last one stays in small pages rather
    // than take a large one for a few bytes. Only advice: without large pages
    // the buffer works as well, only dearer.
    (void)madvise(bytes, size / LARGE_PAGE_SIZE * LARGE_PAGE_SIZE, MADV_HUGEPAGE);
#endif
    return LargeBuffer(static_cast<uint8_t*>(bytes));
}

} // namespace Platform
