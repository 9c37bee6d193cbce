// The burn check's comparison of an image with what the board read back: the
// first differing byte and how many differ, at the edges of the image and
// when one side is shorter.
#include <gtest/gtest.h>

#include <vector>

#include "jobs/flash_comparison.h"

namespace {

using Bytes = std::vector<uint8_t>;

Jobs::FlashComparison Compare(const Bytes& expected, const Bytes& actual)
{
    return Jobs::CompareFlash(expected.data(), expected.size(), actual.data(), actual.size());
}

Bytes Image()
{
    Bytes image(4096);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return image;
}

Bytes Flipped(Bytes bytes, std::initializer_list<size_t> offsets)
{
    for (size_t offset : offsets) {
        bytes[offset] ^= 0x10;
    }
    return bytes;
}

TEST(FlashComparison, EqualBytesAndEmptyImagesCompareEqual)
{
    const Jobs::FlashComparison same = Compare(Image(), Image());
    EXPECT_TRUE(same.equal);
    EXPECT_EQ(same.differingBytes, 0u);
    EXPECT_TRUE(Compare({}, {}).equal);
}

TEST(FlashComparison, TheFirstDifferenceAndTheCountAtTheEdgesOfTheImage)
{
    const struct {
        const char* what;
        std::initializer_list<size_t> flipped;
        uint64_t first;
        uint64_t count;
    } cases[] = {
        {"first byte", {0}, 0, 1},
        {"last byte", {4095}, 4095, 1},
        {"first and last", {0, 4095}, 0, 2},
        {"a run in the middle", {100, 101, 102, 2000}, 100, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Jobs::FlashComparison result = Compare(Image(), Flipped(Image(), c.flipped));
        EXPECT_FALSE(result.equal);
        EXPECT_EQ(result.firstDifference, c.first);
        EXPECT_EQ(result.differingBytes, c.count);
    }
}

// Bytes one side lacks count as differing; when all the common bytes agree,
// the first difference is where the shorter side ends.
TEST(FlashComparison, ALengthThatDiffersCountsTheMissingBytes)
{
    const Bytes image = Image();
    const Bytes shorter(image.begin(), image.end() - 10);
    Bytes longer = image;
    longer.push_back(0xFF);

    const Jobs::FlashComparison cut = Compare(image, shorter);
    EXPECT_FALSE(cut.equal);
    EXPECT_EQ(cut.firstDifference, 4086u);
    EXPECT_EQ(cut.differingBytes, 10u);

    const Jobs::FlashComparison padded = Compare(image, longer);
    EXPECT_FALSE(padded.equal);
    EXPECT_EQ(padded.firstDifference, 4096u);
    EXPECT_EQ(padded.differingBytes, 1u);

    const Jobs::FlashComparison both = Compare(image, Flipped(shorter, {5}));
    EXPECT_EQ(both.firstDifference, 5u);
    EXPECT_EQ(both.differingBytes, 11u);

    const Jobs::FlashComparison nothingRead = Compare(image, {});
    EXPECT_EQ(nothingRead.firstDifference, 0u);
    EXPECT_EQ(nothingRead.differingBytes, 4096u);
}

}  // namespace
