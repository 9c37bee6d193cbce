// File and frame helpers: readers and their failure messages (through the
// console funnel, CommonUtil's reader included), sizes that must not wrap.
#include "common/file_helpers.h"

#include "common/common_util.h"
#include "support/print_capture.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

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

TEST_F(FileHelpers, ReadersNameEachFailureWithTheHandle)
{
    uint32_t size = 0;
    const std::pair<std::string, std::string> failures[] = {
        {Write("empty.bin", {}), "ftell failed\n"},
        {m_dir + "/missing.bin", "fopen_s " + m_dir + "/missing.bin failed\n"},
        {m_dir, "fopen_s " + m_dir + " failed\n"},
    };
    for (const auto& f : failures) {
        PrintCapture::Clear();
        EXPECT_EQ(Common::GetFileData(f.first, size, 77), nullptr) << f.first;
        ASSERT_EQ(Prints().size(), 1u) << f.first;
        EXPECT_EQ((Prints()[0].message + Prints()[0].detail), f.second);
        EXPECT_EQ(Prints()[0].handle, 77);
    }

    // A slice past the end.
    PrintCapture::Clear();
    const std::string path = Write("p.bin", Pattern(1000, 1));
    EXPECT_EQ(Common::GetPartFileData(path, 8, 900, 101), nullptr);
    EXPECT_EQ(Common::GetPartFileData(path, 8, 5000, 1), nullptr);
    ASSERT_EQ(Prints().size(), 2u);
    EXPECT_EQ(PrintCapture::Text(), "fread failed\nfread failed\n");
    EXPECT_EQ(Prints()[0].handle, 8);

    PrintCapture::Clear();
    std::vector<uint8_t> buffer{1};
    EXPECT_FALSE(CommonUtil::GetFileContent(m_dir + "/missing.bin", buffer, size));
    EXPECT_EQ(PrintCapture::Text(), "error: Open file failed: " + m_dir + "/missing.bin\n");
    EXPECT_TRUE(buffer.empty());
}

TEST_F(FileHelpers, LengthsUpTo32BitsAreReportedAnd4GiBIsRefusedNotTruncated)
{
    const std::string path = Write("l.bin", Pattern(4097, 1));
    EXPECT_EQ(Common::GetFileLen(path), 4097u);
    for (const std::string& none : {m_dir + "/none", m_dir}) {
        EXPECT_EQ(Common::GetFileLen(none), 0u);
    }
    EXPECT_TRUE(Prints().empty());

    const std::string max = Sparse("max.bin", 0xFFFFFFFFu);
    const std::string tooBig = Sparse("4g.bin", uintmax_t{0x100000000} + 16);
    if (max.empty() || tooBig.empty()) {
        GTEST_SKIP() << "no sparse files here";
    }
    EXPECT_EQ(Common::GetFileLen(max), 0xFFFFFFFFu);
    uint32_t size = 0;
    EXPECT_EQ(Common::GetFileLen(tooBig), 0u);
    EXPECT_EQ(Common::GetFileData(tooBig, size, 0), nullptr);
    const std::string refused = "file " + tooBig + " is 4 GiB or larger, not supported\n";
    EXPECT_EQ(PrintCapture::Text(), refused + refused);
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
