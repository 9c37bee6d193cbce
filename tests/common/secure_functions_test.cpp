// Bounds-checked copy, fill and format, those the tool calls: the documented
// result codes and what each leaves in the destination.
#include "common/secure_functions.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t TOO_LARGE = size_t{0x7FFFFFFF} + 1;

// The 16-byte destination as the test leaves it (0xEE) with its first n bytes set to value.
Bytes HeadSet(size_t n, uint8_t value)
{
    Bytes dest(16, 0xEE);
    std::fill_n(dest.begin(), n, value);
    return dest;
}

struct MemoryCase {
    const char* what;
    std::function<int(uint8_t* dest, const uint8_t* src)> call;
    int code;
    Bytes after; // the 16-byte destination, filled with 0xEE before the call
};

TEST(MemoryFunctions, ResultCodesAndDestinationAfterEachCall)
{
    const Bytes src = TestSupport::Pattern(32, 1);
    const Bytes kept = HeadSet(0, 0);
    const Bytes cleared = HeadSet(16, 0);
    const Bytes copied(src.begin(), src.begin() + 16);
    const MemoryCase cases[] = {
        {"memcpy fits", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, 16, s, 16); }, 0, copied},
        {"memcpy one too many", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, 16, s, 17); }, 162, cleared},
        {"memcpy capacity 0", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, 0, s, 1); }, 34, kept},
        {"memcpy huge capacity", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, TOO_LARGE, s, 1); }, 34, kept},
        {"memcpy null dest", [](uint8_t*, const uint8_t* s) { return memcpy_s(nullptr, 16, s, 1); }, 22, kept},
        {"memcpy null src", [](uint8_t* d, const uint8_t*) { return memcpy_s(d, 16, nullptr, 1); }, 150, cleared},
        {"memcpy nothing", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, 16, s, 0); }, 0, kept},
        {"memcpy overlapping", [](uint8_t* d, const uint8_t*) { return memcpy_s(d, 16, d + 4, 8); }, 182, cleared},
        {"memset fits", [](uint8_t* d, const uint8_t*) { return memset_s(d, 16, 0x11, 16); }, 0, HeadSet(16, 0x11)},
        {"memset past capacity", [](uint8_t* d, const uint8_t*) { return memset_s(d, 8, 0x5A, 10); }, 162,
         HeadSet(8, 0x5A)},
        {"memset nothing", [](uint8_t* d, const uint8_t*) { return memset_s(d, 0, 0x22, 0); }, 0, kept},
        {"memset capacity 0", [](uint8_t* d, const uint8_t*) { return memset_s(d, 0, 0x22, 1); }, 34, kept},
        {"memset huge capacity", [](uint8_t* d, const uint8_t*) { return memset_s(d, TOO_LARGE, 0x22, 1); }, 34,
         kept},
        {"memset null", [](uint8_t*, const uint8_t*) { return memset_s(nullptr, 8, 0x22, 1); }, 22, kept},
    };
    for (const MemoryCase& c : cases) {
        Bytes dest(16, 0xEE);
        EXPECT_EQ(c.call(dest.data(), src.data()), c.code) << c.what;
        EXPECT_EQ(dest, c.after) << c.what;
    }
}

TEST(SprintfS, DevicePathThatJustFitsAndOneTooMany)
{
    char dest[16];
    EXPECT_EQ(sprintf_s(dest, sizeof(dest), "\\\\.\\%s", "ABCDEFGHIJK"), 15);
    EXPECT_STREQ(dest, "\\\\.\\ABCDEFGHIJK");
    EXPECT_EQ(sprintf_s(dest, sizeof(dest), "\\\\.\\%s", "ABCDEFGHIJKL"), -1);
    EXPECT_EQ(dest[0], '\0');
}

} // namespace
