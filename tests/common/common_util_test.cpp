// CommonUtil: the number syntax shared by every settings reader.
#include "common/common_util.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct NumberCase {
    const char* text;
    bool ok;
    int64_t value; // 0 when not ok
};

const NumberCase NUMBERS[] = {
    {"0x10000", true, 65536}, {"64k", true, 65536}, {"64K", true, 65536}, {"4M", true, 4194304},
    {"1g", true, 1073741824}, {"100", true, 100}, {"1.5m", true, 1048576}, {"0X1F", true, 31},
    {"0xABcd", true, 0xABCD}, {"0", true, 0}, {"0x0", true, 0}, {"0x7fffffff", true, 2147483647},
    {"2g", true, 2147483648LL}, // 64 bits; 32-bit callers keep the low half
    {"1km", true, 1048576},     // letters are tested g, m, k: the digits before m
    {"  42", true, 42}, {"\t+7", true, 7}, {"-5", true, -5}, {"-2k", true, -2048}, {"12abc", true, 12},
    {"0x10zz", true, 16}, {"0x-10", true, -16}, {"0x-80000000", true, INT32_MIN},
    {"9223372036854775807", true, INT64_MAX}, {"-9223372036854775808", true, INT64_MIN},
    {"8589934591g", true, 8589934591LL * 1073741824LL},
    // No digit or out of range: reported, never a silent 0.
    {"", false, 0}, {"abc", false, 0}, {"k", false, 0}, {"m", false, 0}, {"g", false, 0}, {"-", false, 0},
    {"+", false, 0}, {" ", false, 0}, {"0x", false, 0}, {"0xg", false, 0},
    {"-0x10", false, 0}, // hex digits start at the third character: "x10"
    {" 0x10", false, 0}, {"0xffffffff", false, 0}, {"0x80000000", false, 0}, {"0x-80000001", false, 0},
    {"0x100000000", false, 0}, {"9223372036854775808", false, 0}, {"-9223372036854775809", false, 0},
    {"99999999999999999999", false, 0}, {"8589934592g", false, 0}, {"9000000000000000000k", false, 0},
};

TEST(ConvertToNumber, DocumentedTableAndFailuresThatLeaveTheTargetAlone)
{
    for (const NumberCase& c : NUMBERS) {
        bool ok = !c.ok;
        EXPECT_EQ(CommonUtil::ConvertToNumber(c.text, &ok), c.value) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
        EXPECT_EQ(CommonUtil::ConvertToNumber(c.text), c.value) << "without the flag: " << c.text;
        int64_t value = 1234;
        EXPECT_EQ(CommonUtil::TryConvertToNumber(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 1234) << c.text;
    }
}

TEST(ConvertToNumber, Int32KeepsLowBitsOfWhatFitsAndRefusesWhatWouldWrap)
{
    const std::pair<const char*, int> fits[] = {{"2g", INT32_MIN}, {"4294967295", -1}, {"-2147483648", INT32_MIN},
                                                {"0x7fffffff", INT32_MAX}, {"1k", 1024}};
    for (const auto& c : fits) {
        int value = 0;
        EXPECT_TRUE(CommonUtil::TryConvertToInt32(c.first, value)) << c.first;
        EXPECT_EQ(value, c.second) << c.first;
    }
    for (const char* text : {"4g", "4294967296", "-2147483649", "nothing"}) {
        int value = 77;
        EXPECT_FALSE(CommonUtil::TryConvertToInt32(text, value)) << text;
        EXPECT_EQ(value, 77) << text;
    }
}

} // namespace
