// What the burn check compares: the bytes a package gave an image and the
// bytes read back from where the board keeps it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Jobs {

struct FlashComparison {
    bool equal = true;
    // Offset from the image's start of the first byte that differs; when the
    // common part is equal but the lengths are not, the shorter length.
    uint64_t firstDifference = 0;
    // Bytes that differ in the common part, plus the bytes one side has beyond the other.
    uint64_t differingBytes = 0;
};

FlashComparison CompareFlash(const uint8_t* expected, size_t expectedLength, const uint8_t* actual,
                             size_t actualLength);

}  // namespace Jobs
