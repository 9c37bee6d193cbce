// The burn check's comparison of an image with what the board read back: the
// first differing byte and how many differ, at the edges of the image and
// when one side is shorter.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "jobs/flash_comparison.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Bytes one side lacks count as differing; when all the common bytes agree,
// the first difference is where the shorter side ends. Differences inside an
// image, the last byte's too, are named end to end in tests/e2e/burn_check_test.cpp.
TEST(FlashComparison, TheFirstDifferenceAndTheCountAtTheEdgesAndWhenALengthDiffers)
{
    Bytes image(4096);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    const Bytes shorter(image.begin(), image.end() - 10);
    Bytes longer = image, firstFlipped = image, shortFlipped = shorter;
    longer.push_back(0xFF);
    firstFlipped[0] ^= 0x10;
    shortFlipped[5] ^= 0x10;
    const struct {
        const char* what;
        Bytes expected, actual;
        uint64_t first;
        uint64_t count;
    } cases[] = {
        {"equal", image, image, 0, 0},
        {"both empty", {}, {}, 0, 0},
        {"first byte", image, firstFlipped, 0, 1},
        {"read back short", image, shorter, 4086, 10},
        {"read back long", image, longer, 4096, 1},
        {"short and flipped", image, shortFlipped, 5, 11},
        {"nothing read back", image, {}, 0, 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Jobs::FlashComparison result =
            Jobs::CompareFlash(c.expected.data(), c.expected.size(), c.actual.data(), c.actual.size());
        EXPECT_EQ(std::make_tuple(result.equal, result.firstDifference, result.differingBytes),
                  std::make_tuple(c.count == 0, c.first, c.count));
    }
}

}  // namespace
