// Common file, frame and time helpers: readers and their failure messages
// through the console funnel, sizes that must not wrap, small wire frames.
#include "common/file_helpers.h"

#include "common/checksum.h"
#include "common/console.h"
#include "platform/monotonic_clock.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Message {
    long long handle;
    std::string text;
};
std::vector<Message> g_messages;

void Capture(long long handle, const char*, const char* message, const char* detail, int)
{
    g_messages.push_back({handle, std::string(message) + detail});
}

std::string Messages()
{
    std::string text;
    for (const auto& m : g_messages) {
        text += m.text;
    }
    return text;
}

Bytes Pattern(size_t n)
{
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    return v;
}

// A scratch directory and a print callback that records every message.
class FileHelpers : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick_files_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        g_messages.clear();
        g_printInfo = Capture;
    }
    void TearDown() override
    {
        g_printInfo = nullptr;
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    std::string Write(const std::string& name, const Bytes& content)
    {
        const std::string path = m_dir + "/" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        if (file != nullptr) {
            EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size());
            std::fclose(file);
        }
        return path;
    }

    // A file of the given size that occupies no space; empty when the file
    // system cannot hold it.
    std::string Sparse(const std::string& name, off_t size)
    {
        const std::string path = m_dir + "/" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            return std::string();
        }
        const bool ok = ftruncate(fileno(file), size) == 0;
        std::fclose(file);
        return ok ? path : std::string();
    }

    std::string m_dir;
};

} // namespace

TEST_F(FileHelpers, GetFileDataReadsWholeFilesAndNamesEachFailureWithTheHandle)
{
    const Bytes content = Pattern(5000);
    uint32_t size = 0;
    auto data = Common::GetFileData(Write("a.bin", content), size, 9);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(std::memcmp(data.get(), content.data(), content.size()), 0);
    data[size + Common::FILE_DATA_SLACK - 1] = 0xFF; // the slack belongs to the caller
    EXPECT_TRUE(g_messages.empty());

    const std::pair<std::string, std::string> failures[] = {
        {Write("empty.bin", {}), "ftell failed\n"},
        {m_dir + "/missing.bin", "fopen_s " + m_dir + "/missing.bin failed\n"},
        {m_dir, "fopen_s " + m_dir + " failed\n"},
    };
    for (const auto& f : failures) {
        g_messages.clear();
        EXPECT_EQ(Common::GetFileData(f.first, size, 77), nullptr) << f.first;
        ASSERT_EQ(g_messages.size(), 1u) << f.first;
        EXPECT_EQ(g_messages[0].text, f.second);
        EXPECT_EQ(g_messages[0].handle, 77);
    }
}

TEST_F(FileHelpers, GetPartFileDataReadsASliceWithZeroSlackAndFailsPastTheEnd)
{
    const Bytes content = Pattern(1000);
    const std::string path = Write("p.bin", content);
    for (uint32_t offset : {100u, 750u}) {
        auto slice = Common::GetPartFileData(path, 3, offset, 250);
        ASSERT_NE(slice, nullptr);
        EXPECT_EQ(Bytes(slice.get(), slice.get() + 250), Bytes(content.begin() + offset, content.begin() + offset + 250));
        EXPECT_EQ(Bytes(slice.get() + 250, slice.get() + 250 + Common::FILE_DATA_SLACK),
                  Bytes(Common::FILE_DATA_SLACK, 0));
    }
    EXPECT_TRUE(g_messages.empty());
    EXPECT_EQ(Common::GetPartFileData(path, 8, 900, 101), nullptr);
    EXPECT_EQ(Common::GetPartFileData(path, 8, 5000, 1), nullptr);
    ASSERT_EQ(g_messages.size(), 2u);
    EXPECT_EQ(Messages(), "fread failed\nfread failed\n");
    EXPECT_EQ(g_messages[0].handle, 8);
}

TEST_F(FileHelpers, GetFileContentZeroPadsAcceptsEmptyAndReadsOnlyTheHeadOfAHugeFile)
{
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t size = 0;
    ASSERT_TRUE(Common::GetFileContent(Write("c.bin", Pattern(300)), buffer, size, 0));
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(Bytes(buffer.get(), buffer.get() + 300), Pattern(300));
    EXPECT_EQ(buffer[300 + Common::FILE_DATA_SLACK - 1], 0);
    ASSERT_TRUE(Common::GetFileContent(Write("e.bin", {}), buffer, size, 0));
    EXPECT_EQ(size, 0u);
    EXPECT_NE(buffer, nullptr);
    EXPECT_FALSE(Common::GetFileContent(m_dir + "/none", buffer, size, 0));
    EXPECT_EQ(buffer, nullptr);

    const std::string huge = Sparse("huge.bin", off_t{Common::MAX_MALLOC_SIZE} + 1);
    if (huge.empty()) {
        GTEST_SKIP() << "no sparse files here";
    }
    ASSERT_TRUE(Common::GetFileContent(huge, buffer, size, 0));
    EXPECT_EQ(size, Common::FILE_DATA_SLACK);
}

TEST_F(FileHelpers, LengthsUpTo32BitsAreReportedAnd4GiBIsRefusedNotTruncated)
{
    const std::string path = Write("l.bin", Pattern(4097));
    EXPECT_EQ(Common::GetFileLen(path), 4097u);
    EXPECT_EQ(Common::GetBigFileLen(path), 4097u);
    for (const std::string& none : {m_dir + "/none", m_dir}) {
        EXPECT_EQ(Common::GetFileLen(none), 0u);
        EXPECT_EQ(Common::GetBigFileLen(none), 0u);
    }
    EXPECT_TRUE(g_messages.empty());

    const std::string max = Sparse("max.bin", off_t{0xFFFFFFFF});
    const std::string tooBig = Sparse("4g.bin", off_t{0x100000000} + 16);
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
    EXPECT_EQ(Messages(), refused + refused + refused);
}

TEST_F(FileHelpers, CopyFileBufferCopiesBlocksAndRemainderAndFailsOnAShortStream)
{
    const Bytes content = Pattern(2500);
    FILE* in = std::fopen(Write("src.bin", content).c_str(), "rb");
    ASSERT_NE(in, nullptr);
    EXPECT_TRUE(Common::CopyFileBuffer(m_dir + "/dst.bin", in, 2500));
    Common::CloseFile(in);
    EXPECT_EQ(in, nullptr);
    uint32_t size = 0;
    auto copy = Common::GetFileData(m_dir + "/dst.bin", size, 0);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Bytes(copy.get(), copy.get() + size), content);

    in = std::fopen(Write("short.bin", Pattern(1500)).c_str(), "rb");
    ASSERT_NE(in, nullptr);
    EXPECT_FALSE(Common::CopyFileBuffer(m_dir + "/dst2.bin", in, 2048));
    Common::CloseFile(in);
    EXPECT_EQ(Messages(), "read failed.\n");
}

TEST_F(FileHelpers, OpenFileRemovesDotSteps)
{
    Write("target.bin", Pattern(3));
    ASSERT_EQ(mkdir((m_dir + "/sub").c_str(), 0700), 0);
    FILE* file = nullptr;
    Common::OpenFile(file, m_dir + "/./sub/../target.bin", "rb");
    ASSERT_NE(file, nullptr);
    Common::CloseFile(file);
    file = reinterpret_cast<FILE*>(1);
    Common::OpenFile(file, m_dir + "/sub/nothing.bin", "rb");
    EXPECT_EQ(file, nullptr);
}

TEST_F(FileHelpers, PathHelpers)
{
    const std::pair<const char*, const char*> names[] = {{"dir/sub/image.bin", "image.bin"},
                                                         {"C:\\burn\\image.bin", "image.bin"},
                                                         {"a\\b/c.bin", "b/c.bin"}, // backslash first
                                                         {"plain.bin", "plain.bin"}, {"dir/", ""}};
    for (const auto& n : names) {
        EXPECT_EQ(Common::GetFileName(n.first), n.second) << n.first;
    }
    EXPECT_TRUE(Common::IgnoreCaseCompare("SquashFS", "squashfs"));
    EXPECT_TRUE(Common::IgnoreCaseCompare("", ""));
    EXPECT_FALSE(Common::IgnoreCaseCompare("nand", "nand "));
    EXPECT_FALSE(Common::IgnoreCaseCompare("nand", "nanb"));
    EXPECT_EQ(Common::Back2ForwardSlash("a\\b\\c"), "a/b/c");
    EXPECT_TRUE(Common::CheckPathisNetworkPath("smb://host/share"));
    EXPECT_FALSE(Common::CheckPathisNetworkPath("/home/x:/y"));
    EXPECT_FALSE(Common::CheckPathisNetworkPath(nullptr));
    EXPECT_TRUE(Common::CheckPathIsChinese("/tmp/\xE5\x9B\xBE.bin"));
    EXPECT_FALSE(Common::CheckPathIsChinese("/tmp/plain.bin"));
    EXPECT_FALSE(Common::CheckPathisInValid("/local/y"));
    EXPECT_TRUE(g_messages.empty());
    EXPECT_TRUE(Common::CheckPathisInValid("http://x/y"));
    EXPECT_EQ(Messages(), "error: the path of ToolSuite is a network path.\n");
}

TEST(NameTables, FlashTypesAndFileSystems)
{
    const std::pair<const char*, int> flashTypes[] = {{"NAND", Common::FLASH_TYPE_NAND},
                                                      {"spi", Common::FLASH_TYPE_SPI},
                                                      {"eMMC", Common::FLASH_TYPE_EMMC},
                                                      {"ufs", Common::FLASH_TYPE_UFS},
                                                      {"nor", Common::FLASH_TYPE_UNKNOWN}};
    for (const auto& t : flashTypes) {
        EXPECT_EQ(Common::StringToFlashTypeEnum(t.first), t.second) << t.first;
    }
    for (int code = 1; code <= 4; ++code) {
        EXPECT_EQ(Common::StringToFlashTypeEnum(Common::FlashTypeEnumToString(code)), code);
    }
    EXPECT_EQ(Common::FlashTypeEnumToString(0), "nand");
    EXPECT_EQ(Common::FlashTypeEnumToString(9), "nand");
    const std::pair<const char*, int> fileSystems[] = {{"none", 1}, {"YAFFS", 2}, {"ext3", 3}, {"ext4", 3},
                                                       {"ext3/4", 3}, {"tat32", 4}, {"squashfs", 5}, {"UBIFS", 6},
                                                       {"f2fs", 7}, {"erofs", 8}, {"ntfs", 0}};
    for (const auto& f : fileSystems) {
        EXPECT_EQ(Common::StringToFileSystemEnum(f.first), f.second) << f.first;
    }
}

TEST(Frames, EscapedFrameDoublesEveryBackslashBetweenTheMarkers)
{
    const uint8_t backslash = 0x5C;
    EXPECT_EQ(Common::GetDouble5CFrameData(&backslash, 1), (Bytes{0x5C, 0x73, 0x5C, 0x5C, 0x5C, 0x65}));
    EXPECT_EQ(Common::GetDouble5CFrameData(nullptr, 0), (Bytes{0x5C, 0x73, 0x5C, 0x65}));
    const uint8_t data[] = {0x01, 0x5C, 0x5C, 0x73, 0x65, 0xFF};
    EXPECT_EQ(Common::GetDouble5CFrameData(data, sizeof(data)),
              (Bytes{0x5C, 0x73, 0x01, 0x5C, 0x5C, 0x5C, 0x5C, 0x73, 0x65, 0xFF, 0x5C, 0x65}));
}

TEST(Frames, ShakeHandCarriesBaudBigEndianAndItsCrcOrNothingWhenTooShort)
{
    uint8_t frame[9] = {};
    ASSERT_TRUE(Common::InitShakeHandCmd(frame, 9, 921600));
    const uint8_t head[7] = {0xBE, 0x00, 0xFF, 0x00, 0x0E, 0x10, 0x00};
    const uint16_t crc = Common::SopCrc16(head, 7);
    EXPECT_EQ(Bytes(frame, frame + 9), (Bytes{0xBE, 0x00, 0xFF, 0x00, 0x0E, 0x10, 0x00, static_cast<uint8_t>(crc >> 8),
                                              static_cast<uint8_t>(crc & 0xFF)}));
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
    ASSERT_EQ(g_messages.size(), 4u);
    EXPECT_EQ(g_messages[0].text, "Converting uint to arrays failed.\n");
    EXPECT_EQ(g_messages[0].handle, 0);
}

TEST(Frames, InvertUintU32ReversesWholeWordsOnly)
{
    uint32_t words[2] = {0x11223344u, 0xAABBCCDDu};
    Common::InvertUintU32(words, 7);
    EXPECT_EQ(words[0], 0x44332211u);
    EXPECT_EQ(words[1], 0xAABBCCDDu);
}

TEST(Timing, DelayUsNeverReturnsEarlyAndGetTimeFollowsTheMonotonicClock)
{
    for (double us : {0.0, 50.0, 1500.0}) {
        const int64_t start = Platform::MonotonicUs();
        Common::DelayUs(us);
        EXPECT_GT(static_cast<double>(Platform::MonotonicUs() - start), us);
    }
    const uint32_t before = Common::GetTime();
    Common::DelayUs(20000);
    EXPECT_GE(Common::GetTime() - before, 20u);
}
