// CommonUtil: the number syntax shared by every settings reader, the line
// cutting and trimming of burn.config, and the small file helpers.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/common_util.h"

namespace {

namespace fs = std::filesystem;

struct NumberCase {
    const char* text;
    int64_t value;
};

class ConvertToNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ConvertToNumberTest, ReadsTheDocumentedValue)
{
    const NumberCase& c = GetParam();
    bool ok = false;
    EXPECT_EQ(CommonUtil::ConvertToNumber(c.text, &ok), c.value) << c.text;
    EXPECT_TRUE(ok) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, ConvertToNumberTest,
                         ::testing::Values(NumberCase{"0x10000", 65536}, NumberCase{"64k", 65536},
                                           NumberCase{"4M", 4194304}, NumberCase{"1g", 1073741824},
                                           NumberCase{"100", 100}, NumberCase{"1.5m", 1048576},
                                           NumberCase{"0X1F", 31}, NumberCase{"0xABcd", 0xABCD},
                                           NumberCase{"64K", 65536}, NumberCase{"0", 0},
                                           NumberCase{"0x0", 0}, NumberCase{"0x7fffffff", 2147483647},
                                           // The 64-bit result of a 32-bit count of gigabytes.
                                           NumberCase{"2g", 2147483648LL},
                                           // Letters are tested g, m, k: "1km" reads the digits before m.
                                           NumberCase{"1km", 1048576},
                                           NumberCase{"  42", 42}, NumberCase{"\t+7", 7},
                                           NumberCase{"-5", -5}, NumberCase{"-2k", -2048},
                                           NumberCase{"12abc", 12}, NumberCase{"0x10zz", 16},
                                           NumberCase{"0x-10", -16}, NumberCase{"0x-80000000", INT32_MIN},
                                           NumberCase{"9223372036854775807", INT64_MAX},
                                           NumberCase{"-9223372036854775808", INT64_MIN},
                                           NumberCase{"8589934591g", 8589934591LL * 1073741824LL}));

class ConvertToNumberFailureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ConvertToNumberFailureTest, IsReportedNotTakenAsZero)
{
    const char* text = GetParam();
    bool ok = true;
    EXPECT_EQ(CommonUtil::ConvertToNumber(text, &ok), 0) << text;
    EXPECT_FALSE(ok) << text;
    int64_t value = 1234;
    EXPECT_FALSE(CommonUtil::TryConvertToNumber(text, value)) << text;
    EXPECT_EQ(value, 1234) << "a failed conversion must leave the target alone: " << text;
}

INSTANTIATE_TEST_SUITE_P(NoDigitOrOutOfRange, ConvertToNumberFailureTest,
                         ::testing::Values("", "abc", "k", "m", "g", "-", "+", " ", "0x", "0xg",
                                           // The hex digits start at the third character: "-0x10" leaves "x10".
                                           "-0x10", " 0x10", "0xffffffff", "0x80000000", "0x-80000001",
                                           "0x100000000", "9223372036854775808", "-9223372036854775809",
                                           "99999999999999999999", "20000000000000000000", "8589934592g", "9000000000000000000k"));

TEST(ConvertToNumberOkFlag, MayBeOmitted)
{
    EXPECT_EQ(CommonUtil::ConvertToNumber("0x20"), 32);
    EXPECT_EQ(CommonUtil::ConvertToNumber("junk"), 0);
}

TEST(TryConvertToInt32, KeepsTheLowBitsOfValuesThatFitThirtyTwoBits)
{
    int value = 0;
    ASSERT_TRUE(CommonUtil::TryConvertToInt32("2g", value));
    EXPECT_EQ(static_cast<uint32_t>(value), 0x80000000u);
    ASSERT_TRUE(CommonUtil::TryConvertToInt32("4294967295", value));
    EXPECT_EQ(value, -1);
    ASSERT_TRUE(CommonUtil::TryConvertToInt32("-2147483648", value));
    EXPECT_EQ(value, INT32_MIN);
    ASSERT_TRUE(CommonUtil::TryConvertToInt32("0x7fffffff", value));
    EXPECT_EQ(value, INT32_MAX);
    ASSERT_TRUE(CommonUtil::TryConvertToInt32("1k", value));
    EXPECT_EQ(value, 1024);
}

TEST(TryConvertToInt32, RefusesWhatWouldWrapToAnotherValue)
{
    int value = 77;
    EXPECT_FALSE(CommonUtil::TryConvertToInt32("4g", value)) << "4g would become a silent 0";
    EXPECT_FALSE(CommonUtil::TryConvertToInt32("4294967296", value));
    EXPECT_FALSE(CommonUtil::TryConvertToInt32("-2147483649", value));
    EXPECT_FALSE(CommonUtil::TryConvertToInt32("nothing", value));
    EXPECT_EQ(value, 77);
}

struct SplitCase {
    std::string text;
    std::vector<std::string> parts;
};

TEST(Split, KeepsEveryPieceIncludingEmptyOnes)
{
    const std::vector<SplitCase> cases = {
        {"a=b", {"a", "b"}},
        {"a=", {"a", ""}},
        {"a", {"a"}},
        {"", {""}},
        {"a==b", {"a", "", "b"}},
        {"=", {"", ""}},
        {"=a", {"", "a"}},
        {"key=value=more", {"key", "value", "more"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(CommonUtil::Split(c.text, '='), c.parts) << "\"" << c.text << "\"";
    }
}

TEST(Trim, DropsTrailingLineBreaksAndBlanksButOnlyLeadingBlanks)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {" \tserial\r\n", "serial"},
        {"serial", "serial"},
        {"\t serial \t", "serial"},
        {"", ""},
        {" \t\r\n", ""},
        {"\nserial", "\nserial"},
        {"\rserial\r", "\rserial"},
        {"a b", "a b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CommonUtil::Trim(c.first), c.second) << "\"" << c.first << "\"";
    }
}

class CommonUtilFileTest : public ::testing::Test {
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

    std::string m_dir;
};

TEST_F(CommonUtilFileTest, GetFileLenMeasuresBytesAndGivesZeroForMissingFiles)
{
    EXPECT_EQ(CommonUtil::GetFileLen(Write("five.bin", std::string("ab\r\nc", 5))), 5u);
    EXPECT_EQ(CommonUtil::GetFileLen(Write("empty.bin", "")), 0u);
    EXPECT_EQ(CommonUtil::GetFileLen(m_dir + "missing.bin"), 0u);
}

TEST_F(CommonUtilFileTest, FileIsExistsSeesFilesAndDirectories)
{
    EXPECT_TRUE(CommonUtil::FileIsExists(Write("x.txt", "x")));
    EXPECT_TRUE(CommonUtil::FileIsExists(m_dir));
    EXPECT_FALSE(CommonUtil::FileIsExists(m_dir + "nothing-here"));
    EXPECT_FALSE(CommonUtil::FileIsExists(""));
}

TEST_F(CommonUtilFileTest, GetFileContentAppendsZeroSlack)
{
    const std::string bytes("\x01\x00\x02\xFF\n", 5);
    std::vector<uint8_t> buffer;
    uint32_t size = 0;
    ASSERT_TRUE(CommonUtil::GetFileContent(Write("data.bin", bytes), buffer, size));
    ASSERT_EQ(size, 5u);
    ASSERT_EQ(buffer.size(), 5u + 1024u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 5), bytes);
    for (size_t i = 5; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], 0) << "slack byte " << i;
    }
}

TEST_F(CommonUtilFileTest, GetFileContentOfAnEmptyFileIsOnlySlack)
{
    std::vector<uint8_t> buffer;
    uint32_t size = 99;
    ASSERT_TRUE(CommonUtil::GetFileContent(Write("empty.bin", ""), buffer, size));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer.size(), 1024u);
}

TEST_F(CommonUtilFileTest, GetFileContentOfAMissingFileSaysSo)
{
    std::vector<uint8_t> buffer(3, 1);
    uint32_t size = 0;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CommonUtil::GetFileContent(m_dir + "missing.bin", buffer, size));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error: Open file failed: " + m_dir + "missing.bin\n");
    EXPECT_TRUE(buffer.empty());
}

TEST_F(CommonUtilFileTest, FileCopyCopiesAcrossBlockBoundaries)
{
    std::string bytes;
    for (int i = 0; i < 3000; ++i) {
        bytes.push_back(static_cast<char>(i * 7));
    }
    ASSERT_TRUE(CommonUtil::FileCopy(Write("from.bin", bytes), m_dir + "to.bin"));
    EXPECT_EQ(ReadAll(m_dir + "to.bin"), bytes);
    ASSERT_TRUE(CommonUtil::FileCopy(Write("exact.bin", bytes.substr(0, 1024)), m_dir + "exact-copy.bin"));
    EXPECT_EQ(ReadAll(m_dir + "exact-copy.bin"), bytes.substr(0, 1024));
}

TEST_F(CommonUtilFileTest, FileCopyReportsEachSideThatCannotBeOpened)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CommonUtil::FileCopy(m_dir + "missing.bin", m_dir + "to.bin"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Open file: " + m_dir + "missing.bin failed.\n");
    EXPECT_FALSE(CommonUtil::FileIsExists(m_dir + "to.bin"));

    const std::string source = Write("from.bin", "abc");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(CommonUtil::FileCopy(source, m_dir + "no-dir/to.bin"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Open file: " + m_dir + "no-dir/to.bin failed, the file may have been opened.\n");
}

TEST(FormatInfo, FormatsUpToTheBufferAndGivesEmptyTextBeyondIt)
{
    EXPECT_EQ(CommonUtil::FormatInfo("%s=%d, 0x%X", "size", 42, 255u), "size=42, 0xFF");
    const std::string fits(4095, 'a');
    EXPECT_EQ(CommonUtil::FormatInfo("%s", fits.c_str()), fits);
    const std::string tooLong(4096, 'a');
    EXPECT_EQ(CommonUtil::FormatInfo("%s", tooLong.c_str()), "");
}

} // namespace
