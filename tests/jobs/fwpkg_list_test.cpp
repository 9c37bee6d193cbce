// The burn job's package listing and its "-onlyburn:" selection.
#include <gtest/gtest.h>

#include "common/fwpkg_test_package.h"
#include "fwpkg_test_dir.h"
#include "jobs/fwpkg.h"

using namespace FwpkgTest;
using BurnInfo::FwpkgBinInfo;

namespace {

std::vector<Image> Images()
{
    return {
        {"loader.bin", Bytes(500, 1), 0, 0x10000, 0},
        {"kernel.img", Bytes(3000, 2), 0x100000, 0x400000, 100},
        {"app", Bytes(64, 3), 0x800000, 0x1000, 20},
    };
}

class FwpkgList : public FwpkgScratch {
protected:
    // Lists the package; the printed text goes to m_output.
    bool List(const std::string& path, std::vector<FwpkgBinInfo>& out)
    {
        ::testing::internal::CaptureStdout();
        bool ok = FwpkgSp::ParseFwpkgFile(path, out);
        m_output = ::testing::internal::GetCapturedStdout();
        return ok;
    }

    std::string m_output;
};

}  // namespace

// ---- listing

TEST_F(FwpkgList, NormalLayoutIsListedInTableOrder)
{
    std::vector<uint8_t> pkg = Build(Images());
    std::string path = Write("fw.fwpkg", pkg);
    std::vector<FwpkgBinInfo> list(1);  // entries are appended
    list[0].imageName = "before";
    ASSERT_TRUE(List(path, list));
    EXPECT_EQ(m_output, "");
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].imageName, "before");
    uint32_t offset = NORMAL_HEADER + 3 * NORMAL_ENTRY;
    std::vector<Image> images = Images();
    for (size_t i = 0; i < images.size(); ++i) {
        const FwpkgBinInfo& info = list[i + 1];
        EXPECT_EQ(info.filePath, path);
        EXPECT_EQ(info.extraInfo, "");
        EXPECT_EQ(info.imageName, images[i].name);
        EXPECT_EQ(info.offset, offset);
        EXPECT_EQ(info.length, images[i].data.size());
        EXPECT_EQ(info.burnAddress, images[i].burnAddress);
        EXPECT_EQ(info.burnSize, images[i].burnSize);
        EXPECT_EQ(info.imageType, images[i].type);
        offset += info.length;
    }
}

TEST_F(FwpkgList, NewLayoutIncludingFlagFFIsListed)
{
    for (uint32_t flag : {0xEFBEADD0u, 0xEFBEADFFu}) {
        std::string path = Write("new.fwpkg", Build(Images(), {true, flag}));
        std::vector<FwpkgBinInfo> list;
        ASSERT_TRUE(List(path, list)) << std::hex << flag << m_output;
        ASSERT_EQ(list.size(), 3u);
        EXPECT_EQ(list[1].imageName, "kernel.img");
        EXPECT_EQ(list[1].offset, NEW_HEADER + 3 * NEW_ENTRY + 500);
        EXPECT_EQ(list[2].imageType, 20u);
    }
}

TEST_F(FwpkgList, ThirtyTwoByteNameWithoutTerminator)
{
    std::string name(32, 'k');
    std::string path = Write("n.fwpkg", Build({{name, Bytes(8, 4), 0, 0, 20}}));
    std::vector<FwpkgBinInfo> list;
    ASSERT_TRUE(List(path, list));
    EXPECT_EQ(list[0].imageName, name);
}

TEST_F(FwpkgList, MoreThan255EntriesAreListedByTheJob)
{
    std::vector<Image> images;
    for (int i = 0; i < 256; ++i) {
        images.push_back({"img" + std::to_string(i), Bytes(3, static_cast<uint32_t>(i)), 0, 0, 20});
    }
    std::vector<FwpkgBinInfo> list;
    ASSERT_TRUE(List(Write("many.fwpkg", Build(images)), list)) << m_output;
    ASSERT_EQ(list.size(), 256u);
    EXPECT_EQ(list[255].imageName, "img255");
}

// ---- refusals, each with its message and with nothing listed

TEST_F(FwpkgList, MissingFileAndShortHeader)
{
    std::vector<FwpkgBinInfo> list;
    EXPECT_FALSE(List(m_dir + "none.fwpkg", list));
    EXPECT_EQ(m_output, "error: Failed to open fwpkg file: " + m_dir + "none.fwpkg\n");
    std::vector<uint8_t> pkg = Build(Images());
    EXPECT_FALSE(List(Write("short.fwpkg", std::vector<uint8_t>(pkg.begin(), pkg.begin() + 11)), list));
    EXPECT_EQ(m_output, "error: Failed to read fwpkg header\n");
    EXPECT_TRUE(list.empty());
}

TEST_F(FwpkgList, UnknownFlagAndCountFFFF)
{
    std::vector<FwpkgBinInfo> list;
    std::vector<uint8_t> pkg = Build(Images());
    PutLe(pkg, 0, 0x12345678, 4);
    EXPECT_FALSE(List(Write("flag.fwpkg", pkg), list));
    EXPECT_EQ(m_output, "error: Unknown fwpkg format, flag: 0x12345678\n");
    for (bool fresh : {false, true}) {
        std::vector<uint8_t> counted = Build(Images(), {fresh, 0});
        PutLe(counted, 6, 0xFFFF, 2);
        EXPECT_FALSE(List(Write("count.fwpkg", counted), list));
        EXPECT_EQ(m_output, fresh ? "error: Unknown fwpkg format, flag: 0xefbeadd1\n"
                                  : "error: Unknown fwpkg format, flag: 0xefbeaddf\n");
    }
    EXPECT_TRUE(list.empty());
}

TEST_F(FwpkgList, HeaderCrcMismatchIsRefused)
{
    std::vector<uint8_t> pkg = Build(Images());
    pkg[NORMAL_HEADER + 5] ^= 0x20;  // a letter of the loader's name
    std::vector<FwpkgBinInfo> list;
    std::string path = Write("crc.fwpkg", pkg);
    EXPECT_FALSE(List(path, list));
    EXPECT_NE(m_output.find("error: fwpkg header CRC mismatch"), std::string::npos) << m_output;
    EXPECT_NE(m_output.find(path), std::string::npos);
    EXPECT_TRUE(list.empty());
}

TEST_F(FwpkgList, EntryTableCutShortIsRefused)
{
    for (bool fresh : {false, true}) {
        std::vector<uint8_t> pkg = Build(Images(), {fresh, 0});
        size_t tableEnd = HeaderSize(fresh) + 3 * EntrySize(fresh);
        pkg.resize(tableEnd - 10);  // last entry incomplete, no images
        std::vector<FwpkgBinInfo> list;
        EXPECT_FALSE(List(Write("cut.fwpkg", pkg), list));
        EXPECT_NE(m_output.find("entry table of 3 entries reaches past the end"), std::string::npos) << m_output;
        EXPECT_TRUE(list.empty());
    }
}

TEST_F(FwpkgList, ImagePastTheEndIsRefusedByName)
{
    std::vector<uint8_t> pkg = Build(Images());
    PutLe(pkg, FieldAt(false, 1, 4), 3000 + 64 + 1, 4);  // kernel now runs one byte past the end
    SealCrc(pkg, false);
    std::vector<FwpkgBinInfo> list;
    EXPECT_FALSE(List(Write("past.fwpkg", pkg), list));
    EXPECT_NE(m_output.find("error: Image kernel.img (offset 668, length 3065) reaches past the end"),
              std::string::npos)
        << m_output;
    EXPECT_TRUE(list.empty());
}

TEST_F(FwpkgList, NamesThatCouldLeaveTheExtractDirectoryAreRefused)
{
    for (const std::string& bad : {std::string(""), std::string("../escape.bin"), std::string("sub/app.bin"),
                                   std::string("..\\win.bin"), std::string("..")}) {
        std::vector<Image> images = Images();
        images[2].name = bad;
        std::vector<FwpkgBinInfo> list;
        EXPECT_FALSE(List(Write("names.fwpkg", Build(images)), list)) << bad;
        EXPECT_EQ(m_output, "error: Image name \"" + bad + "\" in fwpkg file " + m_dir +
                                "names.fwpkg is not a plain file name\n");
        EXPECT_TRUE(list.empty());
    }
}

// ---- "-onlyburn:" selection

TEST(FwpkgOnlyBurn, NamesMatchWholeIgnoringCase)
{
    std::vector<FwpkgBinInfo> list(5);
    const char* names[] = {"APP", "loader", "app.bin", "app", "Kernel"};
    for (size_t i = 0; i < 5; ++i) {
        list[i].imageName = names[i];
        list[i].offset = static_cast<uint32_t>(i);
    }
    EXPECT_TRUE(FwpkgSp::FilterByOnlyBurn(list, {"App", "KERNEL"}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].imageName, "APP");
    EXPECT_EQ(list[1].imageName, "app");
    EXPECT_EQ(list[2].imageName, "Kernel");
    EXPECT_EQ(list[2].offset, 4u);
}

TEST(FwpkgOnlyBurn, NoNamesKeepsAllAndUnnamedLoaderIsDropped)
{
    std::vector<FwpkgBinInfo> list(2);
    list[0].imageName = "loader.bin";
    list[0].imageType = 0;
    list[1].imageName = "app";
    EXPECT_TRUE(FwpkgSp::FilterByOnlyBurn(list, {}));
    EXPECT_EQ(list.size(), 2u);
    EXPECT_TRUE(FwpkgSp::FilterByOnlyBurn(list, {"app"}));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].imageName, "app");
    EXPECT_TRUE(FwpkgSp::FilterByOnlyBurn(list, {"none"}));
    EXPECT_TRUE(list.empty());
}
