// File and frame helpers: readers and their failure messages (through the
// console funnel, CommonUtil's readers included), sizes that must not
// wrap, small wire frames.
#include "common/file_helpers.h"

#include "common/common_util.h"
#include "support/print_capture.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using TestSupport::Pattern;
using TestSupport::PrintCapture;

constexpr auto Prints = &PrintCapture::Calls;

// A scratch directory and a print callback that records every message.
class FileHelpers : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const Bytes& content)
    {
        EXPECT_TRUE(TestSupport::WriteFile(m_dir + "/" + name, content));
        return m_dir + "/" + name;
    }

    // What one call hands to the print callback.
    template <typename Call>
    static std::string Printed(Call call)
    {
        Prints().clear();
        call();
        return PrintCapture::Text();
    }

    // A file of the given size that occupies no space; empty when the file system cannot hold it.
    std::string Sparse(const std::string& name, uintmax_t size)
    {
        std::error_code ec;
        std::filesystem::resize_file(Write(name, {}), size, ec);
        return ec ? std::string() : m_dir + "/" + name;
    }

    TestSupport::TempDir m_tmp{"tarnwick-files"};
    const std::string m_dir = m_tmp.Path();
    PrintCapture m_recording;
};

} // namespace

TEST_F(FileHelpers, GetFileDataReadsWholeFilesAndNamesEachFailureWithTheHandle)
{
    const Bytes content = Pattern(5000, 1);
    uint32_t size = 0;
    auto data = Common::GetFileData(Write("a.bin", content), size, 9);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(std::memcmp(data.get(), content.data(), content.size()), 0);
    data[size + Common::FILE_DATA_SLACK - 1] = 0xFF; // the slack belongs to the caller
    EXPECT_TRUE(Prints().empty());

    const std::pair<std::string, std::string> failures[] = {
        {Write("empty.bin", {}), "ftell failed\n"},
        {m_dir + "/missing.bin", "fopen_s " + m_dir + "/missing.bin failed\n"},
        {m_dir, "fopen_s " + m_dir + " failed\n"},
    };
    for (const auto& f : failures) {
        Prints().clear();
        EXPECT_EQ(Common::GetFileData(f.first, size, 77), nullptr) << f.first;
        ASSERT_EQ(Prints().size(), 1u) << f.first;
        EXPECT_EQ((Prints()[0].message + Prints()[0].detail), f.second);
        EXPECT_EQ(Prints()[0].handle, 77);
    }
}

TEST_F(FileHelpers, GetPartFileDataFailsForASlicePastTheEnd)
{
    const std::string path = Write("p.bin", Pattern(1000, 1));
    EXPECT_EQ(Common::GetPartFileData(path, 8, 900, 101), nullptr);
    EXPECT_EQ(Common::GetPartFileData(path, 8, 5000, 1), nullptr);
    ASSERT_EQ(Prints().size(), 2u);
    EXPECT_EQ(PrintCapture::Text(), "fread failed\nfread failed\n");
    EXPECT_EQ(Prints()[0].handle, 8);
}

TEST_F(FileHelpers, GetFileContentZeroPadsAcceptsEmptyAndReadsOnlyTheHeadOfAHugeFile)
{
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t size = 0;
    ASSERT_TRUE(Common::GetFileContent(Write("c.bin", Pattern(300, 1)), buffer, size, 0));
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(Bytes(buffer.get(), buffer.get() + 300), Pattern(300, 1));
    EXPECT_EQ(buffer[300 + Common::FILE_DATA_SLACK - 1], 0);
    ASSERT_TRUE(Common::GetFileContent(Write("e.bin", {}), buffer, size, 0));
    EXPECT_EQ(size, 0u);
    EXPECT_NE(buffer, nullptr);
    EXPECT_FALSE(Common::GetFileContent(m_dir + "/none", buffer, size, 0));
    EXPECT_EQ(buffer, nullptr);

    const std::string huge = Sparse("huge.bin", uintmax_t{Common::MAX_MALLOC_SIZE} + 1);
    if (huge.empty()) {
        GTEST_SKIP() << "no sparse files here";
    }
    ASSERT_TRUE(Common::GetFileContent(huge, buffer, size, 0));
    EXPECT_EQ(size, Common::FILE_DATA_SLACK);
}

TEST_F(FileHelpers, CommonUtilReadersPadWithZerosCopyAcrossBlocksAndNameTheSideThatCannotOpen)
{
    const Bytes bytes = {0x01, 0x00, 0x02, 0xFF, '\n'};
    std::vector<uint8_t> buffer;
    uint32_t size = 0;
    ASSERT_TRUE(CommonUtil::GetFileContent(Write("data.bin", bytes), buffer, size));
    ASSERT_EQ(size, 5u);
    Bytes expected = bytes;
    expected.resize(5 + 1024, 0);
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(Printed([&] { EXPECT_FALSE(CommonUtil::GetFileContent(m_dir + "/missing.bin", buffer, size)); }),
              "error: Open file failed: " + m_dir + "/missing.bin\n");
    EXPECT_TRUE(buffer.empty());

    for (size_t length : {size_t{3000}, size_t{1024}}) { // blocks and remainder, whole blocks
        const Bytes part = Pattern(length, 1);
        ASSERT_TRUE(CommonUtil::FileCopy(Write("from.bin", part), m_dir + "/to.bin"));
        ASSERT_TRUE(CommonUtil::GetFileContent(m_dir + "/to.bin", buffer, size));
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), part);
    }
    EXPECT_EQ(Printed([&] { EXPECT_FALSE(CommonUtil::FileCopy(m_dir + "/missing.bin", m_dir + "/new.bin")); }),
              "Open file: " + m_dir + "/missing.bin failed.\n");
    EXPECT_FALSE(CommonUtil::FileIsExists(m_dir + "/new.bin"));
    EXPECT_EQ(Printed([&] { EXPECT_FALSE(CommonUtil::FileCopy(m_dir + "/from.bin", m_dir + "/no-dir/to.bin")); }),
              "Open file: " + m_dir + "/no-dir/to.bin failed, the file may have been opened.\n");
}

TEST_F(FileHelpers, LengthsUpTo32BitsAreReportedAnd4GiBIsRefusedNotTruncated)
{
    const std::string path = Write("l.bin", Pattern(4097, 1));
    EXPECT_EQ(Common::GetFileLen(path), 4097u);
    EXPECT_EQ(Common::GetBigFileLen(path), 4097u);
    for (const std::string& none : {m_dir + "/none", m_dir}) {
        EXPECT_EQ(Common::GetFileLen(none), 0u);
        EXPECT_EQ(Common::GetBigFileLen(none), 0u);
    }
    EXPECT_TRUE(Prints().empty());

    const std::string max = Sparse("max.bin", 0xFFFFFFFFu);
    const std::string tooBig = Sparse("4g.bin", uintmax_t{0x100000000} + 16);
    if (max.empty() || tooBig.empty()) {
        GTEST_SKIP() << "no sparse files here";
    }
    EXPECT_EQ(Common::GetFileLen(max), 0xFFFFFFFFu);
    EXPECT_EQ(Common::GetBigFileLen(max), 0xFFFFFFFFu);
    uint32_t size = 0;
    EXPECT_EQ(Common::GetFileLen(tooBig), 0u);
    EXPECT_EQ(Common::GetBigFileLen(tooBig), 0u);
    EXPECT_EQ(Common::GetFileData(tooBig, size, 0), nullptr);
    const std::string refused = "file " + tooBig + " is 4 GiB or larger, not supported\n";
    EXPECT_EQ(PrintCapture::Text(), refused + refused + refused);
}

TEST_F(FileHelpers, NetworkPathIsRefusedWithItsMessage)
{
    EXPECT_FALSE(Common::CheckPathisInValid("/local/y"));
    EXPECT_TRUE(Prints().empty());
    EXPECT_TRUE(Common::CheckPathisInValid("http://x/y"));
    EXPECT_EQ(PrintCapture::Text(), "error: the path of ToolSuite is a network path.\n");
}

TEST(Frames, ShakeHandCarriesBaudBigEndianAndItsCrcOrNothingWhenTooShort)
{
    uint8_t frame[9] = {};
    ASSERT_TRUE(Common::InitShakeHandCmd(frame, 9, 921600));
    EXPECT_EQ(Bytes(frame, frame + 9), (Bytes{0xBE, 0x00, 0xFF, 0x00, 0x0E, 0x10, 0x00, 0x82, 0x21}));
    uint8_t other[9] = {};
    EXPECT_FALSE(Common::InitShakeHandCmd(other, 8, 921600));
    EXPECT_EQ(Bytes(other, other + 9), Bytes(9, 0));
}

TEST_F(FileHelpers, ConvertingUintToArraysAcceptsPositionsThatLeaveFourBytes)
{
    for (uint32_t start : {0u, 1u, 4u, 5u, 8u, 9u, 0xFFFFFFFEu}) {
        const bool fits = start <= 4;
        uint8_t array[8] = {};
        uint32_t position = start;
        Common::ConvertingUintToArrays(array, 8, 0x11223344u, position);
        Bytes expected(8, 0);
        if (fits) {
            std::copy_n(Bytes{0x44, 0x33, 0x22, 0x11}.begin(), 4, expected.begin() + start);
        }
        EXPECT_EQ(position, fits ? start + 4 : start) << start;
        EXPECT_EQ(Bytes(array, array + 8), expected) << start;
    }
    ASSERT_EQ(Prints().size(), 4u);
    EXPECT_EQ((Prints()[0].message + Prints()[0].detail), "Converting uint to arrays failed.\n");
    EXPECT_EQ(Prints()[0].handle, 0);
}

