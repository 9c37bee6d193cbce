// The burn job's package listing where no board run reaches it (long tables,
// what is no package), extraction that fails, and the path helpers that name
// the files. Listing a normal package,
// "-onlyburn:", unpacking with digests and the refusals of whole packages
// (CRC, cut table, images past the end, unsafe names) are pinned end to end.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/fwpkg_builder.h"
#include "jobs/fwpkg.h"

using namespace TestSupport;
using BurnInfo::FwpkgBinInfo;

namespace {

class Fwpkg : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        WriteFile(m_dir + name, bytes);
        return m_dir + name;
    }
    // Runs a step; what it printed goes to m_output.
    bool Quietly(const std::function<bool()>& step)
    {
        ::testing::internal::CaptureStdout();
        const bool ok = step();
        m_output = ::testing::internal::GetCapturedStdout();
        return ok;
    }
    bool List(const std::string& path, std::vector<FwpkgBinInfo>& out)
    {
        return Quietly([&] { return FwpkgSp::ParseFwpkgFile(path, out); });
    }

    TempDir m_temp{"tarnwick-fwpkg"};
    std::string m_dir = m_temp.Path() + "/";
    std::string m_output;
};

}  // namespace

// The job asks for no count limit: a table of more than 255 entries is listed whole.
TEST_F(Fwpkg, MoreThan255EntriesAreListed)
{
    std::vector<PackageImage> many;
    for (uint32_t i = 0; i < 256; ++i) {
        many.push_back({"img" + std::to_string(i), 20, 0, 0, Pattern(3, i)});
    }
    std::vector<FwpkgBinInfo> list;
    ASSERT_TRUE(List(Write("many.fwpkg", BuildPackage(many)), list)) << m_output;
    ASSERT_EQ(list.size(), 256u);
    EXPECT_EQ(list[255].imageName, "img255");
}

TEST_F(Fwpkg, WhatIsNoPackageIsRefusedWithItsMessageAndNothingListed)
{
    const std::vector<PackageImage> one{{"app", 20, 0, 0, Pattern(64, 3)}};
    const std::vector<uint8_t> good = BuildPackage(one);
    std::vector<uint8_t> flag = good;
    PutLe(flag, 0, 0x12345678, 4);
    std::vector<uint8_t> countNormal = good;
    PutLe(countNormal, 6, 0xFFFF, 2);
    std::vector<uint8_t> countNew = BuildPackage(one, {true, 0});
    PutLe(countNew, 6, 0xFFFF, 2);
    const std::vector<std::pair<std::string, std::string>> cases{
        {m_dir + "none.fwpkg", "error: Failed to open fwpkg file: " + m_dir + "none.fwpkg\n"},
        {Write("short.fwpkg", std::vector<uint8_t>(good.begin(), good.begin() + 11)), "error: Failed to read fwpkg header\n"},
        {Write("flag.fwpkg", flag), "error: Unknown fwpkg format, flag: 0x12345678\n"},
        {Write("count.fwpkg", countNormal), "error: Unknown fwpkg format, flag: 0xefbeaddf\n"},
        {Write("count2.fwpkg", countNew), "error: Unknown fwpkg format, flag: 0xefbeadd1\n"},
    };
    for (const auto& [path, message] : cases) {
        std::vector<FwpkgBinInfo> list;
        EXPECT_FALSE(List(path, list)) << path;
        EXPECT_EQ(m_output, message);
        EXPECT_TRUE(list.empty());
    }
}

// --- extracting ----------------------------------------------------------------------------

TEST_F(Fwpkg, AnImageRunningPastTheEndOrUnreadableLeavesNoFile)
{
    const std::vector<uint8_t> bytes = Pattern(100, 5);
    const std::string package = Write("raw.bin", bytes);
    const std::string output = m_dir + "out.bin";
    ASSERT_TRUE(Quietly([&] { return FwpkgSp::ExtractBinFromFwpkg(package, output, 90, 10); }));
    EXPECT_EQ(ReadFile(output), std::vector<uint8_t>(bytes.begin() + 90, bytes.end()));
    const std::vector<std::tuple<std::string, std::string, uint32_t, uint32_t, std::string>> failures{
        {package, output, 90, 11,
         "error: Image at offset 90 with length 11 reaches past the end of fwpkg file: " + package + "\n"},
        {package, output, 4000, 1, ""},
        {m_dir + "none", output, 0, 1, "error: Failed to open fwpkg file: " + m_dir + "none\n"},
        {package, m_dir + "no/dir/o", 0, 1, "error: Failed to create output file: " + m_dir + "no/dir/o\n"},
    };
    for (const auto& [from, to, offset, length, message] : failures) {
        std::filesystem::remove(output);
        EXPECT_FALSE(Quietly([&] { return FwpkgSp::ExtractBinFromFwpkg(from, to, offset, length); })) << offset;
        EXPECT_TRUE(message.empty() || m_output == message) << m_output;
        EXPECT_FALSE(std::filesystem::exists(to)) << to;
    }
    EXPECT_FALSE(FwpkgSp::CreateSha256File(m_dir + "none.bin"));
    EXPECT_FALSE(std::filesystem::exists(m_dir + "none_sha256.bin"));
}

TEST(FwpkgPaths, DigestFileExtractDirectoryParentAndBaseName)
{
    const std::vector<std::pair<std::string, std::string>> digests{
        {"out/app.bin", "out/app_sha256.bin"},
        {"out.d/app", "out.d/app_sha256"},  // never another directory
        {"v1.2\\fw_extract\\app", "v1.2\\fw_extract\\app_sha256"},
        {"a.tar.gz", "a.tar_sha256.gz"}};
    for (const auto& [path, digest] : digests) {
        EXPECT_EQ(FwpkgSp::GetSha256FilePath(path), digest);
    }
    EXPECT_EQ(FwpkgSp::GetParentDir("pkg.fwpkg"), "");
    EXPECT_EQ(FwpkgSp::GetParentDir("D:\\pkgs\\fw.fwpkg"), "D:\\pkgs\\");
    EXPECT_EQ(FwpkgSp::GetBaseNameWithoutExt("/data/pkg.rc.fwpkg"), "pkg.rc");
    EXPECT_EQ(FwpkgSp::GetBaseNameWithoutExt("D:\\pkgs\\fw.fwpkg"), "fw");
    EXPECT_EQ(FwpkgSp::GetBaseNameWithoutExt("noext"), "noext");
    EXPECT_EQ(FwpkgSp::GetExtractDir("/data/fw.v2.fwpkg"), "/data/fw.v2_extract/");
    EXPECT_EQ(FwpkgSp::GetExtractDir("D:\\pkgs\\fw.fwpkg"), "D:\\pkgs\\fw_extract/");
    EXPECT_EQ(FwpkgSp::GetExtractDir("fw.fwpkg"), "fw_extract/");
}
