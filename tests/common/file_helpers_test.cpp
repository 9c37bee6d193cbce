#include "common/file_helpers.h"

#include "common/checksum.h"
#include "common/console.h"
#include "platform/monotonic_clock.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Message {
    long long handle;
    std::string text;
};
std::vector<Message> g_messages;

void Capture(long long handle, const char*, const char* message, const char* detail, int)
{
    g_messages.push_back({handle, std::string(message) + detail});
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
        std::string command = "rm -rf '" + m_dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    std::string Write(const std::string& name, const std::vector<uint8_t>& content)
    {
        std::string path = m_dir + "/" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        if (file != nullptr && !content.empty()) {
            EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size());
        }
        if (file != nullptr) {
            std::fclose(file);
        }
        return path;
    }

    // A file of the given size that occupies no space; false when the file
    // system cannot hold it.
    std::string Sparse(const std::string& name, off_t size)
    {
        std::string path = m_dir + "/" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            return std::string();
        }
        bool ok = ftruncate(fileno(file), size) == 0;
        std::fclose(file);
        return ok ? path : std::string();
    }

    static std::vector<uint8_t> Pattern(size_t n)
    {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) {
            v[i] = static_cast<uint8_t>(i * 7 + 1);
        }
        return v;
    }

    static std::string Messages()
    {
        std::string text;
        for (const auto& m : g_messages) {
            text += m.text;
        }
        return text;
    }

    std::string m_dir;
};

} // namespace

// --- whole-file and slice readers ----------------------------------------

TEST_F(FileHelpers, GetFileDataReadsTheWholeFile)
{
    const auto content = Pattern(5000);
    uint32_t size = 0;
    auto data = Common::GetFileData(Write("a.bin", content), size, 9);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(std::memcmp(data.get(), content.data(), content.size()), 0);
    data[size + Common::FILE_DATA_SLACK - 1] = 0xFF; // the slack belongs to the caller
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(FileHelpers, GetFileDataOfAnEmptyFileFailsWithFtell)
{
    uint32_t size = 123;
    EXPECT_EQ(Common::GetFileData(Write("empty.bin", {}), size, 77), nullptr);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].text, "ftell failed\n");
    EXPECT_EQ(g_messages[0].handle, 77);
}

TEST_F(FileHelpers, GetFileDataOfAMissingFileOrADirectoryFailsWithFopen)
{
    uint32_t size = 0;
    const std::string missing = m_dir + "/missing.bin";
    EXPECT_EQ(Common::GetFileData(missing, size, 5), nullptr);
    EXPECT_EQ(Common::GetFileData(m_dir, size, 5), nullptr);
    ASSERT_EQ(g_messages.size(), 2u);
    EXPECT_EQ(g_messages[0].text, "fopen_s " + missing + " failed\n");
    EXPECT_EQ(g_messages[0].handle, 5);
    EXPECT_EQ(g_messages[1].text, "fopen_s " + m_dir + " failed\n");
}

TEST_F(FileHelpers, GetPartFileDataReadsASliceWithZeroSlack)
{
    const auto content = Pattern(1000);
    const std::string path = Write("p.bin", content);
    auto slice = Common::GetPartFileData(path, 3, 100, 250);
    ASSERT_NE(slice, nullptr);
    EXPECT_EQ(std::memcmp(slice.get(), content.data() + 100, 250), 0);
    for (uint32_t i = 250; i < 250 + Common::FILE_DATA_SLACK; ++i) {
        ASSERT_EQ(slice[i], 0) << i;
    }
    auto tail = Common::GetPartFileData(path, 3, 900, 100);
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(std::memcmp(tail.get(), content.data() + 900, 100), 0);
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(FileHelpers, GetPartFileDataPastTheEndFailsWithFread)
{
    const std::string path = Write("p.bin", Pattern(1000));
    EXPECT_EQ(Common::GetPartFileData(path, 8, 900, 101), nullptr);
    EXPECT_EQ(Common::GetPartFileData(path, 8, 5000, 1), nullptr);
    ASSERT_EQ(g_messages.size(), 2u);
    EXPECT_EQ(g_messages[0].text, "fread failed\n");
    EXPECT_EQ(g_messages[0].handle, 8);
    EXPECT_EQ(g_messages[1].text, "fread failed\n");
}

TEST_F(FileHelpers, GetFileContentZeroPadsAndAcceptsAnEmptyFile)
{
    const auto content = Pattern(300);
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t size = 0;
    ASSERT_TRUE(Common::GetFileContent(Write("c.bin", content), buffer, size, 0));
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(std::memcmp(buffer.get(), content.data(), 300), 0);
    EXPECT_EQ(buffer[300 + Common::FILE_DATA_SLACK - 1], 0);

    ASSERT_TRUE(Common::GetFileContent(Write("e.bin", {}), buffer, size, 0));
    EXPECT_EQ(size, 0u);
    EXPECT_NE(buffer, nullptr);

    EXPECT_FALSE(Common::GetFileContent(m_dir + "/none", buffer, size, 0));
    EXPECT_EQ(buffer, nullptr);
}

TEST_F(FileHelpers, GetFileContentReadsOnlyTheHeadOfAHugeFile)
{
    const std::string path = Sparse("huge.bin", off_t{Common::MAX_MALLOC_SIZE} + 1);
    if (path.empty()) {
        GTEST_SKIP() << "no sparse files here";
    }
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t size = 0;
    ASSERT_TRUE(Common::GetFileContent(path, buffer, size, 0));
    EXPECT_EQ(size, Common::FILE_DATA_SLACK);
}

// --- sizes ------------------------------------------------------------------

TEST_F(FileHelpers, FileLengths)
{
    const std::string path = Write("l.bin", Pattern(4097));
    EXPECT_EQ(Common::GetFileLen(path), 4097u);
    EXPECT_EQ(Common::GetBigFileLen(path), 4097u);
    EXPECT_EQ(Common::GetFileLen(m_dir + "/none"), 0u);
    EXPECT_EQ(Common::GetBigFileLen(m_dir + "/none"), 0u);
    EXPECT_EQ(Common::GetFileLen(m_dir), 0u);
    EXPECT_EQ(Common::GetBigFileLen(m_dir), 0u);
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(FileHelpers, LargestSizeThatFits32BitsIsReported)
{
    const std::string path = Sparse("max.bin", off_t{0xFFFFFFFF});
    if (path.empty()) {
        GTEST_SKIP() << "no sparse files here";
    }
    EXPECT_EQ(Common::GetFileLen(path), 0xFFFFFFFFu);
    EXPECT_EQ(Common::GetBigFileLen(path), 0xFFFFFFFFu);
}

TEST_F(FileHelpers, FilesOf4GiBAreRefusedNotTruncated)
{
    const std::string path = Sparse("4g.bin", off_t{0x100000000} + 16);
    if (path.empty()) {
        GTEST_SKIP() << "no sparse files here";
    }
    uint32_t size = 0;
    EXPECT_EQ(Common::GetFileLen(path), 0u);
    EXPECT_EQ(Common::GetBigFileLen(path), 0u);
    EXPECT_EQ(Common::GetFileData(path, size, 0), nullptr);
    ASSERT_EQ(g_messages.size(), 3u);
    for (const auto& m : g_messages) {
        EXPECT_EQ(m.text, "file " + path + " is 4 GiB or larger, not supported\n");
    }
}

// --- copying and opening ----------------------------------------------------

TEST_F(FileHelpers, CopyFileBufferCopiesWholeBlocksAndTheRemainder)
{
    const auto content = Pattern(2500);
    FILE* in = std::fopen(Write("src.bin", content).c_str(), "rb");
    ASSERT_NE(in, nullptr);
    const std::string target = m_dir + "/dst.bin";
    EXPECT_TRUE(Common::CopyFileBuffer(target, in, 2500));
    Common::CloseFile(in);
    EXPECT_EQ(in, nullptr);

    uint32_t size = 0;
    auto copy = Common::GetFileData(target, size, 0);
    ASSERT_NE(copy, nullptr);
    ASSERT_EQ(size, 2500u);
    EXPECT_EQ(std::memcmp(copy.get(), content.data(), 2500), 0);
}

TEST_F(FileHelpers, CopyFileBufferFailsWhenTheStreamRunsShort)
{
    FILE* in = std::fopen(Write("src.bin", Pattern(1500)).c_str(), "rb");
    ASSERT_NE(in, nullptr);
    EXPECT_FALSE(Common::CopyFileBuffer(m_dir + "/dst.bin", in, 2048));
    Common::CloseFile(in);
    EXPECT_EQ(Messages(), "read failed.\n");
}

TEST_F(FileHelpers, OpenFileRemovesDotSteps)
{
    Write("target.bin", Pattern(3));
    ASSERT_EQ(mkdir((m_dir + "/sub").c_str(), 0700), 0);
    FILE* file = reinterpret_cast<FILE*>(1);
    Common::OpenFile(file, m_dir + "/./sub/../target.bin", "rb");
    ASSERT_NE(file, nullptr);
    Common::CloseFile(file);
    Common::OpenFile(file, m_dir + "/sub/nothing.bin", "rb");
    EXPECT_EQ(file, nullptr);
}

// --- paths and texts ----------------------------------------------------------

TEST(PathHelpers, GetFileNamePrefersBackslash)
{
    EXPECT_EQ(Common::GetFileName("dir/sub/image.bin"), "image.bin");
    EXPECT_EQ(Common::GetFileName("C:\\burn\\image.bin"), "image.bin");
    EXPECT_EQ(Common::GetFileName("a\\b/c.bin"), "b/c.bin");
    EXPECT_EQ(Common::GetFileName("plain.bin"), "plain.bin");
    EXPECT_EQ(Common::GetFileName("dir/"), "");
}

TEST(PathHelpers, IgnoreCaseCompare)
{
    EXPECT_TRUE(Common::IgnoreCaseCompare("SquashFS", "squashfs"));
    EXPECT_TRUE(Common::IgnoreCaseCompare("", ""));
    EXPECT_FALSE(Common::IgnoreCaseCompare("nand", "nand "));
    EXPECT_FALSE(Common::IgnoreCaseCompare("nand", "nanb"));
}

TEST(PathHelpers, NetworkAndNonAsciiPaths)
{
    EXPECT_EQ(Common::Back2ForwardSlash("a\\b\\c"), "a/b/c");
    EXPECT_TRUE(Common::CheckPathisNetworkPath("smb://host/share"));
    EXPECT_FALSE(Common::CheckPathisNetworkPath("/home/x:/y"));
    EXPECT_FALSE(Common::CheckPathisNetworkPath(nullptr));
    EXPECT_TRUE(Common::CheckPathIsChinese("/tmp/\xE5\x9B\xBE.bin"));
    EXPECT_FALSE(Common::CheckPathIsChinese("/tmp/plain.bin"));
}

TEST_F(FileHelpers, InvalidPathIsReported)
{
    EXPECT_TRUE(Common::CheckPathisInValid("http://x/y"));
    EXPECT_FALSE(Common::CheckPathisInValid("/local/y"));
    EXPECT_EQ(Messages(), "error: the path of ToolSuite is a network path.\n");
}

TEST(SplitTable, PiecesEndAtEachSeparator)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(Common::Split("a|b", '|'), (V{"a", "b"}));
    EXPECT_EQ(Common::Split("a|", '|'), (V{"a", ""}));
    EXPECT_EQ(Common::Split("a", '|'), V{});
    EXPECT_EQ(Common::Split("", '|'), V{});
    EXPECT_EQ(Common::Split("a||b", '|'), (V{"a", "", "b"}));
    EXPECT_EQ(Common::Split("|", '|'), (V{"", ""}));
}

TEST(NameTables, FlashTypesAndFileSystems)
{
    EXPECT_EQ(Common::StringToFlashTypeEnum("NAND"), Common::FLASH_TYPE_NAND);
    EXPECT_EQ(Common::StringToFlashTypeEnum("spi"), Common::FLASH_TYPE_SPI);
    EXPECT_EQ(Common::StringToFlashTypeEnum("eMMC"), Common::FLASH_TYPE_EMMC);
    EXPECT_EQ(Common::StringToFlashTypeEnum("ufs"), Common::FLASH_TYPE_UFS);
    EXPECT_EQ(Common::StringToFlashTypeEnum("nor"), Common::FLASH_TYPE_UNKNOWN);
    for (int code = 1; code <= 4; ++code) {
        EXPECT_EQ(Common::StringToFlashTypeEnum(Common::FlashTypeEnumToString(code)), code);
    }
    EXPECT_EQ(Common::FlashTypeEnumToString(0), "nand");
    EXPECT_EQ(Common::FlashTypeEnumToString(9), "nand");

    EXPECT_EQ(Common::StringToFileSystemEnum("none"), 1);
    EXPECT_EQ(Common::StringToFileSystemEnum("YAFFS"), 2);
    EXPECT_EQ(Common::StringToFileSystemEnum("ext3"), 3);
    EXPECT_EQ(Common::StringToFileSystemEnum("ext4"), 3);
    EXPECT_EQ(Common::StringToFileSystemEnum("ext3/4"), 3);
    EXPECT_EQ(Common::StringToFileSystemEnum("tat32"), 4);
    EXPECT_EQ(Common::StringToFileSystemEnum("squashfs"), 5);
    EXPECT_EQ(Common::StringToFileSystemEnum("UBIFS"), 6);
    EXPECT_EQ(Common::StringToFileSystemEnum("f2fs"), 7);
    EXPECT_EQ(Common::StringToFileSystemEnum("erofs"), 8);
    EXPECT_EQ(Common::StringToFileSystemEnum("ntfs"), 0);
}

TEST(FormatInfoTest, FormatsOrGivesEmptyText)
{
    EXPECT_EQ(Common::FormatInfo("%s-%u", "part", 7u), "part-7");
    EXPECT_EQ(Common::FormatInfo("%s", std::string(4095, 'y').c_str()).size(), 4095u);
    EXPECT_EQ(Common::FormatInfo("%s", std::string(4096, 'y').c_str()), "");
}

// --- frames -------------------------------------------------------------------

TEST(EscapedFrame, EveryBackslashIsDoubledBetweenTheMarkers)
{
    using V = std::vector<uint8_t>;
    const uint8_t backslash = 0x5C;
    EXPECT_EQ(Common::GetDouble5CFrameData(&backslash, 1), (V{0x5C, 0x73, 0x5C, 0x5C, 0x5C, 0x65}));
    EXPECT_EQ(Common::GetDouble5CFrameData(nullptr, 0), (V{0x5C, 0x73, 0x5C, 0x65}));
    const uint8_t data[] = {0x01, 0x5C, 0x5C, 0x73, 0x65, 0xFF};
    EXPECT_EQ(Common::GetDouble5CFrameData(data, sizeof(data)),
              (V{0x5C, 0x73, 0x01, 0x5C, 0x5C, 0x5C, 0x5C, 0x73, 0x65, 0xFF, 0x5C, 0x65}));
}

TEST_F(FileHelpers, ConvertingUintToArraysAcceptsPositionsThatLeaveFourBytes)
{
    for (uint32_t start = 0; start <= 4; ++start) {
        uint8_t array[8] = {};
        uint32_t position = start;
        Common::ConvertingUintToArrays(array, 8, 0x11223344u, position);
        EXPECT_EQ(position, start + 4);
        EXPECT_EQ(array[start], 0x44);
        EXPECT_EQ(array[start + 3], 0x11);
    }
    EXPECT_TRUE(g_messages.empty());

    for (uint32_t start : {5u, 8u, 9u, 0xFFFFFFFEu}) {
        uint8_t array[8] = {};
        uint32_t position = start;
        Common::ConvertingUintToArrays(array, 8, 0x11223344u, position);
        EXPECT_EQ(position, start);
        for (uint8_t b : array) {
            EXPECT_EQ(b, 0);
        }
    }
    ASSERT_EQ(g_messages.size(), 4u);
    EXPECT_EQ(g_messages[0].text, "Converting uint to arrays failed.\n");
    EXPECT_EQ(g_messages[0].handle, 0);
}

TEST(WordOrder, InvertUintU32ReversesWholeWordsOnly)
{
    uint32_t words[2] = {0x11223344u, 0xAABBCCDDu};
    Common::InvertUintU32(words, 7);
    EXPECT_EQ(words[0], 0x44332211u);
    EXPECT_EQ(words[1], 0xAABBCCDDu);
}

TEST(ShakeHand, FrameCarriesBaudBigEndianAndItsCrc)
{
    uint8_t frame[9] = {};
    ASSERT_TRUE(Common::InitShakeHandCmd(frame, 9, 921600));
    const uint8_t head[7] = {0xBE, 0x00, 0xFF, 0x00, 0x0E, 0x10, 0x00};
    EXPECT_EQ(std::memcmp(frame, head, 7), 0);
    uint16_t crc = Common::SopCrc16(head, 7);
    EXPECT_EQ(frame[7], crc >> 8);
    EXPECT_EQ(frame[8], crc & 0xFF);

    uint8_t other[9] = {};
    EXPECT_FALSE(Common::InitShakeHandCmd(other, 8, 921600));
    for (uint8_t b : other) {
        EXPECT_EQ(b, 0);
    }
}

// --- time ---------------------------------------------------------------------

TEST(Timing, DelayUsNeverReturnsEarly)
{
    for (double us : {0.0, 50.0, 1500.0, 5000.0}) {
        int64_t start = Platform::MonotonicUs();
        Common::DelayUs(us);
        EXPECT_GT(static_cast<double>(Platform::MonotonicUs() - start), us);
    }
}

TEST(Timing, GetTimeFollowsTheMonotonicClock)
{
    uint32_t before = Common::GetTime();
    Common::DelayUs(20000);
    uint32_t elapsed = Common::GetTime() - before;
    EXPECT_GE(elapsed, 20u);
}
