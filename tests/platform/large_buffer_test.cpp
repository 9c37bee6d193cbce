// A package is held in one buffer for a whole run; every byte of the size
// asked for must be there on each side of the large-page size, and a size
// that cannot be had must give no buffer rather than a smaller one.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/large_buffer.h"

namespace {

constexpr size_t LARGE_PAGE = 2u << 20;

// Writes a pattern over the whole buffer and reads it back.
bool HoldsEveryByte(uint8_t* bytes, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 131u + (i >> 12));
    }
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != static_cast<uint8_t>(i * 131u + (i >> 12))) {
            return false;
        }
    }
    return true;
}

TEST(LargeBuffer, EverySizeAroundTheLargePageHoldsAllItsBytes)
{
    const std::vector<size_t> sizes{0, 1, 4096, LARGE_PAGE - 1, LARGE_PAGE, LARGE_PAGE + 1, 2 * LARGE_PAGE + 4096,
                                    4 * LARGE_PAGE + 4096};
    for (size_t size : sizes) {
        Platform::LargeBuffer bytes = Platform::AllocateLargeBuffer(size);
        ASSERT_NE(bytes, nullptr) << size;
        EXPECT_TRUE(HoldsEveryByte(bytes.get(), size)) << size;
    }
}

TEST(LargeBuffer, ASizeNearTheAddressLimitGivesNoBufferInsteadOfARoundedSmallOne)
{
    const size_t beyondAnyObject = static_cast<size_t>(PTRDIFF_MAX) + 1;
    for (size_t size : {SIZE_MAX, SIZE_MAX - LARGE_PAGE + 2, beyondAnyObject}) {
        EXPECT_EQ(Platform::AllocateLargeBuffer(size), nullptr) << size;
    }
}

} // namespace
