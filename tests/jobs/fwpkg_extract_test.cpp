// Unpacking a package into its extract directory, digest files, and the path
// helpers that name them.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "common/fwpkg_test_package.h"
#include "fwpkg_test_dir.h"
#include "jobs/fwpkg.h"

using namespace FwpkgTest;
using BurnInfo::FwpkgBinInfo;

namespace {

std::vector<uint8_t> OpenSslSha256(const std::vector<uint8_t>& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr), 1);
    return std::vector<uint8_t>(digest, digest + length);
}

class FwpkgExtract : public FwpkgScratch {
protected:
    bool Quietly(const std::function<bool()>& step)
    {
        ::testing::internal::CaptureStdout();
        bool ok = step();
        m_output = ::testing::internal::GetCapturedStdout();
        return ok;
    }

    std::string m_output;
};

}  // namespace

// ---- the whole unpack, as the TypeSix job does it

TEST_F(FwpkgExtract, EveryImageAndItsDigestLandInTheExtractDirectory)
{
    std::vector<Image> images = {
        {"loader.bin", Bytes(4096, 1), 0, 0, 0},
        {"rootfs.img", Bytes(300 * 1024 + 3, 2), 0x100000, 0x800000, 100},  // several copy chunks
        {"empty", {}, 0, 0, 20},
        {"rootfs.img_sha", Bytes(32, 3), 0, 0, 102},
    };
    std::string package = Write("fw.v2.fwpkg", Build(images, {true, 0}));
    std::vector<FwpkgBinInfo> list;
    ASSERT_TRUE(Quietly([&] { return FwpkgSp::ParseFwpkgFile(package, list); })) << m_output;

    std::string extract = FwpkgSp::GetExtractDir(package);
    EXPECT_EQ(extract, m_dir + "fw.v2_extract/");
    FwpkgSp::CreateExtractDir(extract);
    FwpkgSp::CreateExtractDir(extract);  // existing: fine
    ASSERT_TRUE(Quietly([&] { return FwpkgSp::UnpackFwpkgImages(package, list, extract); })) << m_output;
    EXPECT_EQ(m_output, "");

    for (const Image& image : images) {
        std::string path = extract + image.name;
        EXPECT_EQ(Read(path), image.data) << image.name;
        EXPECT_EQ(Read(FwpkgSp::GetSha256FilePath(path)), OpenSslSha256(image.data)) << image.name;
    }
    EXPECT_EQ(FilesUnder(extract),
              (std::vector<std::string>{"empty", "empty_sha256", "loader.bin", "loader_sha256.bin", "rootfs.img",
                                        "rootfs.img_sha", "rootfs_sha256.img", "rootfs_sha256.img_sha"}));
}

TEST_F(FwpkgExtract, OnlySelectedImagesAreUnpacked)
{
    std::vector<Image> images = {{"loader", Bytes(10, 1), 0, 0, 0}, {"App", Bytes(20, 2), 0, 0, 20}};
    std::string package = Write("p.fwpkg", Build(images));
    std::vector<FwpkgBinInfo> list;
    ASSERT_TRUE(Quietly([&] { return FwpkgSp::ParseFwpkgFile(package, list); }));
    FwpkgSp::FilterByOnlyBurn(list, {"app"});
    std::string extract = FwpkgSp::GetExtractDir(package);
    FwpkgSp::CreateExtractDir(extract);
    ASSERT_TRUE(Quietly([&] { return FwpkgSp::UnpackFwpkgImages(package, list, extract); }));
    EXPECT_EQ(FilesUnder(extract), (std::vector<std::string>{"App", "App_sha256"}));
}

TEST_F(FwpkgExtract, UnsafeNameHandedStraightToTheUnpackWritesNothing)
{
    std::string package = Write("p.fwpkg", Build({{"ok", Bytes(10, 1), 0, 0, 20}}));
    std::string extract = m_dir + "p_extract/";
    FwpkgSp::CreateExtractDir(extract);
    FwpkgBinInfo info;
    info.imageName = "../outside.bin";
    info.offset = NORMAL_HEADER + NORMAL_ENTRY;
    info.length = 10;
    EXPECT_FALSE(Quietly([&] { return FwpkgSp::UnpackFwpkgImages(package, {info}, extract); }));
    EXPECT_NE(m_output.find("is not a plain file name"), std::string::npos) << m_output;
    EXPECT_EQ(FilesUnder(m_dir), (std::vector<std::string>{"p.fwpkg"}));
}

// ---- single extraction

TEST_F(FwpkgExtract, ImageRunningPastTheEndLeavesNoFile)
{
    std::vector<uint8_t> bytes = Bytes(100, 5);
    std::string package = Write("raw.bin", bytes);
    std::string output = m_dir + "out.bin";
    ASSERT_TRUE(Quietly([&] { return FwpkgSp::ExtractBinFromFwpkg(package, output, 90, 10); }));
    EXPECT_EQ(Read(output), std::vector<uint8_t>(bytes.begin() + 90, bytes.end()));

    EXPECT_FALSE(Quietly([&] { return FwpkgSp::ExtractBinFromFwpkg(package, output, 90, 11); }));
    EXPECT_EQ(m_output, "error: Image at offset 90 with length 11 reaches past the end of fwpkg file: " + package +
                            "\n");
    EXPECT_FALSE(std::filesystem::exists(output));

    EXPECT_FALSE(Quietly([&] { return FwpkgSp::ExtractBinFromFwpkg(package, output, 4000, 1); }));
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(FwpkgExtract, FailuresToOpenAndCreateAreReported)
{
    std::string package = Write("raw.bin", Bytes(10, 6));
    EXPECT_FALSE(Quietly([&] { return FwpkgSp::ExtractBinFromFwpkg(m_dir + "none", m_dir + "o", 0, 1); }));
    EXPECT_EQ(m_output, "error: Failed to open fwpkg file: " + m_dir + "none\n");
    EXPECT_FALSE(Quietly([&] { return FwpkgSp::ExtractBinFromFwpkg(package, m_dir + "no/dir/o", 0, 1); }));
    EXPECT_EQ(m_output, "error: Failed to create output file: " + m_dir + "no/dir/o\n");
}

TEST_F(FwpkgExtract, DigestOfAMissingFileFails)
{
    EXPECT_FALSE(FwpkgSp::CreateSha256File(m_dir + "none.bin"));
    EXPECT_FALSE(std::filesystem::exists(m_dir + "none_sha256.bin"));
}

// ---- path helpers

TEST(FwpkgPaths, DigestPathInsertsBeforeTheLastDot)
{
    EXPECT_EQ(FwpkgSp::GetSha256FilePath("out/app.bin"), "out/app_sha256.bin");
    EXPECT_EQ(FwpkgSp::GetSha256FilePath("out/app"), "out/app_sha256");
    EXPECT_EQ(FwpkgSp::GetSha256FilePath("out.d/app"), "out.d/app_sha256");  // never another directory
    EXPECT_EQ(FwpkgSp::GetSha256FilePath("v1.2\\fw_extract\\app"), "v1.2\\fw_extract\\app_sha256");
    EXPECT_EQ(FwpkgSp::GetSha256FilePath("a.tar.gz"), "a.tar_sha256.gz");
}

TEST(FwpkgPaths, ParentDirAndBaseName)
{
    EXPECT_EQ(FwpkgSp::GetParentDir("pkg.fwpkg"), "");
    EXPECT_EQ(FwpkgSp::GetParentDir("/data/pkgs/pkg.fwpkg"), "/data/pkgs/");
    EXPECT_EQ(FwpkgSp::GetParentDir("D:\\pkgs\\fw.fwpkg"), "D:\\pkgs\\");
    EXPECT_EQ(FwpkgSp::GetBaseNameWithoutExt("/data/pkg.rc.fwpkg"), "pkg.rc");
    EXPECT_EQ(FwpkgSp::GetBaseNameWithoutExt("D:\\pkgs\\fw.fwpkg"), "fw");
    EXPECT_EQ(FwpkgSp::GetBaseNameWithoutExt("noext"), "noext");
    EXPECT_EQ(FwpkgSp::GetExtractDir("D:\\pkgs\\fw.fwpkg"), "D:\\pkgs\\fw_extract/");
    EXPECT_EQ(FwpkgSp::GetExtractDir("fw.fwpkg"), "fw_extract/");
}
