// What the Vb27 chip object refuses in a package before it sends any byte.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>
#include <string>

#include "device/burn_vb27_chip.h"
#include "device/device_library.h"
#include "vb27_board_peer.h"

namespace {

using Vb27Peer::Bytes;
using Vb27Peer::PackageImage;

std::string g_log;

void CapturePrint(long long, const char*, const char* message, const char*, int)
{
    g_log += message;
}

class Vb27PackageCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        RegisterCallback(CapturePrint, nullptr, nullptr);
    }
    void TearDown() override { RegisterCallback(nullptr, nullptr, nullptr); }

    bool Check(const Bytes& package)
    {
        return m_chip.CheckFwpkgHeadData(package.data(), static_cast<uint32_t>(package.size()));
    }

    static Bytes Good()
    {
        return Vb27Peer::BuildPackage({{"loader.bin", 0, 0, 0x10000, Vb27Peer::PatternBytes(300, 1)},
                                       {"app.bin", 1, 0x10000, 0x1000, Vb27Peer::PatternBytes(700, 2)}});
    }

    BurnVb27ChipSp::BurnVb27Chip m_chip;
};

TEST_F(Vb27PackageCheck, AcceptsAWellFormedPackage)
{
    EXPECT_TRUE(Check(Good()));
    EXPECT_EQ(g_log, "");
}

TEST_F(Vb27PackageCheck, RefusesAnyFlagButTheNormalLayout)
{
    Bytes package = Good();
    package[0] = 0xFF;  // EFBEADFF: the new layout, not read by this chip
    EXPECT_FALSE(Check(package));
    EXPECT_EQ(g_log, "flag(" + std::to_string(0xEFBEADFFul) + ") is not equal to 0xefbeaddf!\n");
}

TEST_F(Vb27PackageCheck, RefusesAFirstEntryThatIsNoLoader)
{
    const Bytes package = Vb27Peer::BuildPackage({{"nv.bin", 2, 0x3F0000, 0x1000, Vb27Peer::PatternBytes(64, 3)},
                                                  {"loader.bin", 0, 0, 0x1000, Vb27Peer::PatternBytes(64, 4)}});
    EXPECT_FALSE(Check(package));
    EXPECT_EQ(g_log, "The first file is not a loader.\n");
}

TEST_F(Vb27PackageCheck, RefusesATableWhoseCrcDiffers)
{
    Bytes package = Good();
    package[12 + 52 + 1] ^= 0x20;  // a letter of the second image's name
    EXPECT_FALSE(Check(package));
    EXPECT_NE(g_log.find("The calculated  crc:"), std::string::npos) << g_log;
    EXPECT_NE(g_log.find("is not equal to fwpkg crc:"), std::string::npos);
}

TEST_F(Vb27PackageCheck, RefusesTwoHundredFiftySixEntries)
{
    std::vector<PackageImage> images(256, {"img", 1, 0, 0, Bytes(1, 0)});
    images[0].type = 0;
    EXPECT_FALSE(Check(Vb27Peer::BuildPackage(images)));
    EXPECT_EQ(g_log, "too many image or the header data length is greater than the file length!\n");

    g_log.clear();
    images.resize(255);
    EXPECT_TRUE(Check(Vb27Peer::BuildPackage(images))) << g_log;
}

TEST_F(Vb27PackageCheck, RefusesATableLongerThanTheFile)
{
    const Bytes package = Good();
    const Bytes cut(package.begin(), package.begin() + 12 + 52);
    EXPECT_FALSE(Check(cut));
    EXPECT_EQ(g_log, "too many image or the header data length is greater than the file length!\n");
}

TEST_F(Vb27PackageCheck, RefusesAnImageReachingPastTheEndOfTheFile)
{
    Bytes package = Good();
    package.pop_back();
    EXPECT_FALSE(Check(package));
    EXPECT_NE(g_log.find("app.bin reaches past the end of the package"), std::string::npos) << g_log;
}

TEST_F(Vb27PackageCheck, DownloadStopsBeforeTheHandshake)
{
    char dir[] = "/tmp/vb27-pkg-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/bad.fwpkg";
    Bytes package = Good();
    package.pop_back();
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));
    }
    EXPECT_FALSE(m_chip.DownloadAllinoneBin(path.c_str(), 0));
    EXPECT_NE(g_log.find("File: " + path + " format error!\n"), std::string::npos) << g_log;
    EXPECT_EQ(g_log.find("Shakehand"), std::string::npos);

    g_log.clear();
    const std::string missing = std::string(dir) + "/missing.fwpkg";
    EXPECT_FALSE(m_chip.DownloadAllinoneBin(missing.c_str(), 0));
    EXPECT_NE(g_log.find("Get file content failed: " + missing + "\n"), std::string::npos) << g_log;
    std::remove(path.c_str());
    rmdir(dir);
}

} // namespace
