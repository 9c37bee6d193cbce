// CommonUtil: the number syntax shared by every settings reader, the line
// cutting and trimming of burn.config, and the small file helpers.
#include "common/common_util.h"
#include "common/file_helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

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

TEST(TextHelpers, SplitKeepsEmptyPiecesAndTrimCutsOnlyTrailingLineBreaks)
{
    using V = std::vector<std::string>;
    const std::pair<std::string, V> splits[] = {{"a=b", {"a", "b"}}, {"a=", {"a", ""}}, {"a", {"a"}}, {"", {""}},
                                                {"a==b", {"a", "", "b"}}, {"=", {"", ""}}, {"=a", {"", "a"}}};
    for (const auto& c : splits) {
        EXPECT_EQ(CommonUtil::Split(c.first, '='), c.second) << '"' << c.first << '"';
    }
    // The other Split: a text without the separator gives no piece at all.
    const std::pair<std::string, V> tableSplits[] = {{"a|b", {"a", "b"}}, {"a|", {"a", ""}}, {"a", {}}, {"", {}},
                                                     {"a||b", {"a", "", "b"}}, {"|", {"", ""}}};
    for (const auto& c : tableSplits) {
        EXPECT_EQ(Common::Split(c.first, '|'), c.second) << '"' << c.first << '"';
    }
    const std::pair<std::string, std::string> trims[] = {
        {" \tserial\r\n", "serial"}, {"\t serial \t", "serial"}, {"", ""}, {" \t\r\n", ""},
        {"\nserial", "\nserial"}, {"\rserial\r", "\rserial"}, {"a b", "a b"}};
    for (const auto& c : trims) {
        EXPECT_EQ(CommonUtil::Trim(c.first), c.second) << '"' << c.first << '"';
    }
}

TEST(TextHelpers, BothFormatInfosFormatUpTo4095CharactersAndGiveEmptyTextBeyond)
{
    EXPECT_EQ(CommonUtil::FormatInfo("%s=%d, 0x%X", "size", 42, 255u), "size=42, 0xFF");
    EXPECT_EQ(Common::FormatInfo("%s-%u", "part", 7u), "part-7");
    const std::string fits(4095, 'a');
    const std::string tooLong(4096, 'a');
    EXPECT_EQ(CommonUtil::FormatInfo("%s", fits.c_str()), fits);
    EXPECT_EQ(Common::FormatInfo("%s", fits.c_str()), fits);
    EXPECT_EQ(CommonUtil::FormatInfo("%s", tooLong.c_str()), "");
    EXPECT_EQ(Common::FormatInfo("%s", tooLong.c_str()), "");
}

class CommonUtilFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "common-util-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(m_dir + name, std::ios::binary) << bytes;
        return m_dir + name;
    }
    static std::string ReadAll(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    template <typename Call>
    static std::string Printed(Call call)
    {
        testing::internal::CaptureStdout();
        call();
        return testing::internal::GetCapturedStdout();
    }
    std::string m_dir;
};

TEST_F(CommonUtilFiles, LengthAndExistence)
{
    EXPECT_EQ(CommonUtil::GetFileLen(Write("five.bin", std::string("ab\r\nc", 5))), 5u);
    EXPECT_EQ(CommonUtil::GetFileLen(Write("empty.bin", "")), 0u);
    EXPECT_EQ(CommonUtil::GetFileLen(m_dir + "missing.bin"), 0u);
    EXPECT_TRUE(CommonUtil::FileIsExists(m_dir + "five.bin"));
    EXPECT_TRUE(CommonUtil::FileIsExists(m_dir));
    EXPECT_FALSE(CommonUtil::FileIsExists(m_dir + "missing.bin"));
    EXPECT_FALSE(CommonUtil::FileIsExists(""));
}

TEST_F(CommonUtilFiles, GetFileContentAppendsZeroSlackAndNamesAMissingFile)
{
    const std::string bytes("\x01\x00\x02\xFF\n", 5);
    std::vector<uint8_t> buffer;
    uint32_t size = 0;
    ASSERT_TRUE(CommonUtil::GetFileContent(Write("data.bin", bytes), buffer, size));
    ASSERT_EQ(size, 5u);
    ASSERT_EQ(buffer.size(), 5u + 1024u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 5), bytes);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 5, buffer.end()), std::vector<uint8_t>(1024, 0));

    ASSERT_TRUE(CommonUtil::GetFileContent(Write("empty.bin", ""), buffer, size));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer.size(), 1024u);

    EXPECT_EQ(Printed([&] { EXPECT_FALSE(CommonUtil::GetFileContent(m_dir + "missing.bin", buffer, size)); }),
              "error: Open file failed: " + m_dir + "missing.bin\n");
    EXPECT_TRUE(buffer.empty());
}

TEST_F(CommonUtilFiles, FileCopyCopiesAcrossBlocksAndNamesTheSideThatCannotOpen)
{
    std::string bytes;
    for (int i = 0; i < 3000; ++i) {
        bytes.push_back(static_cast<char>(i * 7));
    }
    for (size_t size : {size_t{3000}, size_t{1024}}) {
        ASSERT_TRUE(CommonUtil::FileCopy(Write("from.bin", bytes.substr(0, size)), m_dir + "to.bin"));
        EXPECT_EQ(ReadAll(m_dir + "to.bin"), bytes.substr(0, size));
    }
    EXPECT_EQ(Printed([&] { EXPECT_FALSE(CommonUtil::FileCopy(m_dir + "missing.bin", m_dir + "new.bin")); }),
              "Open file: " + m_dir + "missing.bin failed.\n");
    EXPECT_FALSE(CommonUtil::FileIsExists(m_dir + "new.bin"));
    EXPECT_EQ(Printed([&] { EXPECT_FALSE(CommonUtil::FileCopy(m_dir + "from.bin", m_dir + "no-dir/to.bin")); }),
              "Open file: " + m_dir + "no-dir/to.bin failed, the file may have been opened.\n");
}

} // namespace
