// Bounds-checked copy, fill and format: the documented result codes, checked
// in their order, and what each leaves in the destination.
#include "common/secure_functions.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t TOO_LARGE = size_t{0x7FFFFFFF} + 1;

int VsprintfThrough(char* dest, size_t destMax, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = vsprintf_s(dest, destMax, format, args);
    va_end(args);
    return result;
}

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
    Bytes src(32);
    for (size_t i = 0; i < src.size(); ++i) {
        src[i] = static_cast<uint8_t>(i + 1);
    }
    const Bytes kept = HeadSet(0, 0);
    const Bytes cleared = HeadSet(16, 0);
    const Bytes copied(src.begin(), src.begin() + 16);
    const MemoryCase cases[] = {
        {"memcpy fits", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, 16, s, 16); }, 0, copied},
        {"memcpy one too many", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, 16, s, 17); }, 162, cleared},
        {"memcpy capacity 0", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, 0, s, 1); }, 34, kept},
        {"memcpy huge capacity", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, TOO_LARGE, s, 1); }, 34, kept},
        {"capacity before pointers", [](uint8_t*, const uint8_t*) { return memcpy_s(nullptr, 0, nullptr, 1); }, 34,
         kept},
        {"memcpy null dest", [](uint8_t*, const uint8_t* s) { return memcpy_s(nullptr, 16, s, 1); }, 22, kept},
        {"memcpy null src", [](uint8_t* d, const uint8_t*) { return memcpy_s(d, 16, nullptr, 1); }, 150, cleared},
        {"memcpy nothing", [](uint8_t* d, const uint8_t* s) { return memcpy_s(d, 16, s, 0); }, 0, kept},
        {"memcpy onto itself", [](uint8_t* d, const uint8_t*) { return memcpy_s(d, 16, d, 8); }, 0, kept},
        {"memcpy overlapping", [](uint8_t* d, const uint8_t*) { return memcpy_s(d, 16, d + 4, 8); }, 182, cleared},
        {"memmove capacity 0", [](uint8_t* d, const uint8_t* s) { return memmove_s(d, 0, s, 1); }, 34, kept},
        {"memmove null dest", [](uint8_t*, const uint8_t* s) { return memmove_s(nullptr, 16, s, 1); }, 22, kept},
        {"memmove too many", [](uint8_t* d, const uint8_t* s) { return memmove_s(d, 16, s, 17); }, 162, cleared},
        {"memmove null src", [](uint8_t* d, const uint8_t*) { return memmove_s(d, 16, nullptr, 1); }, 150, cleared},
        {"memmove overlapping",
         [](uint8_t* d, const uint8_t* s) {
             std::copy_n(s, 16, d);
             return memmove_s(d, 16, d + 4, 8);
         },
         0, Bytes{5, 6, 7, 8, 9, 10, 11, 12, 9, 10, 11, 12, 13, 14, 15, 16}},
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

struct StringCase {
    bool nullDest;
    size_t destMax;
    const char* src;
    size_t count;
    int code;
    const char* after; // the destination, holding "keep" before the call
};

TEST(StrncpyS, ResultCodesAndText)
{
    const StringCase cases[] = {
        {false, 16, "abcd", 5, 0, "abcd"},          {false, 16, "abcdefgh", 3, 0, "abc"},
        {false, 4, "abcd", 5, 162, ""},             {false, 4, "abc", 5, 0, "abc"}, // text and terminator just fit
        {false, 4, "abcdefgh", SIZE_MAX, 0, "abc"}, {false, 0, "a", 1, 34, "keep"},
        {false, TOO_LARGE, "a", 1, 34, "keep"},     {true, 8, "a", 1, 22, "keep"},
        {false, 8, nullptr, 1, 150, ""},            {false, 8, "a", TOO_LARGE, 162, ""},
        {false, 8, "a", 0, 0, ""},
    };
    for (const StringCase& c : cases) {
        char dest[16] = "keep";
        EXPECT_EQ(strncpy_s(c.nullDest ? nullptr : dest, c.destMax, c.src, c.count), c.code)
            << c.destMax << "/" << (c.src ? c.src : "null") << "/" << c.count;
        EXPECT_STREQ(dest, c.after) << c.destMax << "/" << (c.src ? c.src : "null") << "/" << c.count;
    }
    char overlapping[16] = "abcdefgh";
    EXPECT_EQ(strncpy_s(overlapping + 2, 14, overlapping, 5), 182);
    EXPECT_EQ(overlapping[2], '\0');
}

TEST(SprintfS, DevicePathThatJustFitsOneTooManyAndBadArguments)
{
    char dest[16];
    EXPECT_EQ(sprintf_s(dest, sizeof(dest), "\\\\.\\%s", "ABCDEFGHIJK"), 15);
    EXPECT_STREQ(dest, "\\\\.\\ABCDEFGHIJK");
    EXPECT_EQ(sprintf_s(dest, sizeof(dest), "\\\\.\\%s", "ABCDEFGHIJKL"), -1);
    EXPECT_EQ(dest[0], '\0');

    char small[8] = "keep";
    EXPECT_EQ(sprintf_s(nullptr, 8, "x"), -1);
    EXPECT_EQ(sprintf_s(small, 0, "x"), -1);
    EXPECT_EQ(sprintf_s(small, TOO_LARGE, "x"), -1);
    EXPECT_STREQ(small, "keep");
    EXPECT_EQ(VsprintfThrough(small, 8, nullptr), -1);
    EXPECT_EQ(small[0], '\0');
}

} // namespace
