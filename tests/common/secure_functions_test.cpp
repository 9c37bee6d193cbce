#include "common/secure_functions.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr size_t TOO_LARGE = size_t{0x7FFFFFFF} + 1;

int VsprintfThrough(char* dest, size_t destMax, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = vsprintf_s(dest, destMax, format, args);
    va_end(args);
    return result;
}

template <size_t N>
bool AllBytesAre(const std::array<uint8_t, N>& a, size_t from, size_t to, uint8_t value)
{
    for (size_t i = from; i < to; ++i) {
        if (a[i] != value) {
            return false;
        }
    }
    return true;
}

class MemoryFunctions : public ::testing::Test {
protected:
    void SetUp() override
    {
        dest.fill(0xEE);
        for (size_t i = 0; i < src.size(); ++i) {
            src[i] = static_cast<uint8_t>(i + 1);
        }
    }
    std::array<uint8_t, 16> dest{};
    std::array<uint8_t, 32> src{};
};

} // namespace

TEST_F(MemoryFunctions, MemcpyCopiesWhatFits)
{
    EXPECT_EQ(memcpy_s(dest.data(), 16, src.data(), 16), 0);
    EXPECT_EQ(std::memcmp(dest.data(), src.data(), 16), 0);
}

TEST_F(MemoryFunctions, MemcpyOneByteTooManyClearsTheWholeDestination)
{
    EXPECT_EQ(memcpy_s(dest.data(), 16, src.data(), 17), SECUREC_ERANGE_AND_RESET);
    EXPECT_EQ(memcpy_s(dest.data(), 16, src.data(), 17), 162);
    EXPECT_TRUE(AllBytesAre(dest, 0, 16, 0));
}

TEST_F(MemoryFunctions, MemcpyRefusesOverlapButMemmoveCopies)
{
    std::array<uint8_t, 16> buffer{};
    for (size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(memcpy_s(buffer.data(), 16, buffer.data() + 4, 8), 182);
    EXPECT_TRUE(AllBytesAre(buffer, 0, 16, 0));

    for (size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(memmove_s(buffer.data(), 16, buffer.data() + 4, 8), 0);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(buffer[i], i + 4);
    }
    EXPECT_EQ(buffer[8], 8); // beyond count untouched
}

TEST_F(MemoryFunctions, MemcpyBadArgumentsInTheDocumentedOrder)
{
    EXPECT_EQ(memcpy_s(dest.data(), 0, src.data(), 1), 34);
    EXPECT_EQ(memcpy_s(dest.data(), TOO_LARGE, src.data(), 1), 34);
    EXPECT_EQ(memcpy_s(nullptr, 0, nullptr, 1), 34); // capacity checked before pointers
    EXPECT_TRUE(AllBytesAre(dest, 0, 16, 0xEE));
    EXPECT_EQ(memcpy_s(nullptr, 16, src.data(), 1), 22);
    EXPECT_EQ(memcpy_s(dest.data(), 16, nullptr, 1), 150);
    EXPECT_TRUE(AllBytesAre(dest, 0, 16, 0));
}

TEST_F(MemoryFunctions, MemcpyWithNothingToCopySucceedsUntouched)
{
    EXPECT_EQ(memcpy_s(dest.data(), 16, src.data(), 0), 0);
    EXPECT_EQ(memcpy_s(dest.data(), 16, dest.data(), 8), 0);
    EXPECT_TRUE(AllBytesAre(dest, 0, 16, 0xEE));
}

TEST_F(MemoryFunctions, MemmoveBadArguments)
{
    EXPECT_EQ(memmove_s(dest.data(), 0, src.data(), 1), 34);
    EXPECT_EQ(memmove_s(nullptr, 16, src.data(), 1), 22);
    EXPECT_TRUE(AllBytesAre(dest, 0, 16, 0xEE));
    EXPECT_EQ(memmove_s(dest.data(), 16, src.data(), 17), 162);
    EXPECT_TRUE(AllBytesAre(dest, 0, 16, 0));
    dest.fill(0xEE);
    EXPECT_EQ(memmove_s(dest.data(), 16, nullptr, 1), 150);
    EXPECT_TRUE(AllBytesAre(dest, 0, 16, 0));
}

TEST(MemsetS, FillsUpToTheCapacityWhenAskedForMore)
{
    std::array<uint8_t, 12> buffer{};
    EXPECT_EQ(memset_s(buffer.data(), 8, 0x5A, 10), 162);
    EXPECT_TRUE(AllBytesAre(buffer, 0, 8, 0x5A));
    EXPECT_TRUE(AllBytesAre(buffer, 8, 12, 0));
}

TEST(MemsetS, EdgeResults)
{
    std::array<uint8_t, 8> buffer{};
    EXPECT_EQ(memset_s(buffer.data(), 8, 0x11, 8), 0);
    EXPECT_TRUE(AllBytesAre(buffer, 0, 8, 0x11));
    EXPECT_EQ(memset_s(buffer.data(), 0, 0x22, 0), 0);
    EXPECT_EQ(memset_s(buffer.data(), 0, 0x22, 1), 34);
    EXPECT_EQ(memset_s(buffer.data(), TOO_LARGE, 0x22, 1), 34);
    EXPECT_EQ(memset_s(nullptr, 8, 0x22, 1), 22);
    EXPECT_TRUE(AllBytesAre(buffer, 0, 8, 0x11));
}

TEST(StrncpyS, CopiesUpToCountAndTerminates)
{
    char dest[16];
    std::memset(dest, 'x', sizeof(dest));
    EXPECT_EQ(strncpy_s(dest, 16, "abcd", 5), 0);
    EXPECT_STREQ(dest, "abcd");
    EXPECT_EQ(strncpy_s(dest, 16, "abcdefgh", 3), 0);
    EXPECT_STREQ(dest, "abc");
}

TEST(StrncpyS, TextThatDoesNotFitLeavesAnEmptyText)
{
    char dest[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(strncpy_s(dest, 4, "abcd", 5), 162);
    EXPECT_EQ(dest[0], '\0');
    EXPECT_EQ(strncpy_s(dest, 4, "abc", 5), 0); // text plus terminator fits exactly
    EXPECT_STREQ(dest, "abc");
}

TEST(StrncpyS, AllOnesCountCopiesAsMuchAsFits)
{
    char dest[4];
    EXPECT_EQ(strncpy_s(dest, 4, "abcdefgh", SIZE_MAX), 0);
    EXPECT_STREQ(dest, "abc");
}

TEST(StrncpyS, ErrorCodes)
{
    char dest[8] = "keep";
    EXPECT_EQ(strncpy_s(dest, 0, "a", 1), 34);
    EXPECT_EQ(strncpy_s(dest, TOO_LARGE, "a", 1), 34);
    EXPECT_STREQ(dest, "keep");
    EXPECT_EQ(strncpy_s(nullptr, 8, "a", 1), 22);
    EXPECT_EQ(strncpy_s(dest, 8, nullptr, 1), 150);
    EXPECT_EQ(dest[0], '\0');
    std::strcpy(dest, "keep");
    EXPECT_EQ(strncpy_s(dest, 8, "a", TOO_LARGE), 162);
    EXPECT_EQ(dest[0], '\0');
    std::strcpy(dest, "keep");
    EXPECT_EQ(strncpy_s(dest, 8, "a", 0), 0);
    EXPECT_EQ(dest[0], '\0');
}

TEST(StrncpyS, OverlappingRangesAreRefused)
{
    char buffer[16] = "abcdefgh";
    EXPECT_EQ(strncpy_s(buffer + 2, 14, buffer, 5), 182);
    EXPECT_EQ(buffer[2], '\0');
}

TEST(SprintfS, DevicePathThatJustFits)
{
    char dest[16];
    EXPECT_EQ(sprintf_s(dest, sizeof(dest), "\\\\.\\%s", "ABCDEFGHIJK"), 15);
    EXPECT_STREQ(dest, "\\\\.\\ABCDEFGHIJK");
}

TEST(SprintfS, OneCharacterTooManyLeavesAnEmptyText)
{
    char dest[16];
    EXPECT_EQ(sprintf_s(dest, sizeof(dest), "\\\\.\\%s", "ABCDEFGHIJKL"), -1);
    EXPECT_EQ(dest[0], '\0');
}

TEST(SprintfS, BadArguments)
{
    char dest[8] = "keep";
    EXPECT_EQ(sprintf_s(nullptr, 8, "x"), -1);
    EXPECT_EQ(sprintf_s(dest, 0, "x"), -1);
    EXPECT_EQ(sprintf_s(dest, TOO_LARGE, "x"), -1);
    EXPECT_STREQ(dest, "keep");
    EXPECT_EQ(VsprintfThrough(dest, 8, nullptr), -1);
    EXPECT_EQ(dest[0], '\0');
}

TEST(SprintfS, FormatsNumbersAndFloats)
{
    char dest[64];
    EXPECT_EQ(sprintf_s(dest, sizeof(dest), "%d|%5u|%#x|%c|%.2f", -12, 7u, 255u, 'z', 2.5), 21);
    EXPECT_STREQ(dest, "-12|    7|0xff|z|2.50");
}
