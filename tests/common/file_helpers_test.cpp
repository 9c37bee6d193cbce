// File helpers: readers and their failure messages (through the
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
        EXPECT_TRUE(TestSupport::WriteFile(m_tmp.File(name), content));
        return m_tmp.File(name);
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
        ASSERT_EQ(PrintCapture::Text(), f.second);
        EXPECT_EQ(Prints()[0].handle, 77);
    }

    // A slice past the end.
    PrintCapture::Clear();
    const std::string path = Write("p.bin", Pattern(1000, 1));
    EXPECT_EQ(Common::GetPartFileData(path, 8, 900, 101), nullptr);
    ASSERT_EQ(PrintCapture::Text(), "fread failed\n");
    EXPECT_EQ(Prints()[0].handle, 8);

    PrintCapture::Clear();
    std::vector<uint8_t> buffer{1};
    EXPECT_FALSE(CommonUtil::GetFileContent(m_dir + "/missing.bin", buffer, size));
    EXPECT_EQ(PrintCapture::Text(), "error: Open file failed: " + m_dir + "/missing.bin\n");
    EXPECT_TRUE(buffer.empty());
}

TEST_F(FileHelpers, AFileOf4GiBIsRefusedNotTruncated)
{
    // A file that occupies no space, where the file system can hold one.
    const std::string tooBig = Write("4g.bin", {});
    std::error_code ec;
    std::filesystem::resize_file(tooBig, uintmax_t{0x100000000} + 16, ec);
    if (ec) {
        GTEST_SKIP() << "no sparse files here";
    }
    uint32_t size = 7;
    EXPECT_EQ(Common::GetFileData(tooBig, size, 0), nullptr);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(PrintCapture::Text(), "file " + tooBig + " is 4 GiB or larger, not supported\n");
}
