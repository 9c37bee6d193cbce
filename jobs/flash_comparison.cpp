#include "jobs/flash_comparison.h"

#include <algorithm>

namespace Jobs {

FlashComparison CompareFlash(const uint8_t* expected, size_t expectedLength, const uint8_t* actual,
                             size_t actualLength)
{
    FlashComparison result;
    const size_t common = std::min(expectedLength, actualLength);
    bool found = false;
    for (size_t i = 0; i < common; ++i) {
        if (expected[i] != actual[i]) {
            if (!found) {
                result.firstDifference = i;
                found = true;
            }
            ++result.differingBytes;
        }
    }
    const size_t beyond = std::max(expectedLength, actualLength) - common;
    if (beyond > 0 && !found) {
        result.firstDifference = common;
    }
    result.differingBytes += beyond;
    result.equal = result.differingBytes == 0;
    return result;
}

}  // namespace Jobs
