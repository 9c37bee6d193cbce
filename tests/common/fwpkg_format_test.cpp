// The package layout shared by every reader, against packages written byte by
// byte from the layout tables. Listing and each refusal's message are pinned
// through the jobs and end-to-end suites; here what only the reader decides.
#include <gtest/gtest.h>

#include "common/fwpkg_format.h"
#include "support/fwpkg_builder.h"

using namespace TestSupport;
using Common::FwpkgCheck;

namespace {

std::vector<PackageImage> ThreeImages()
{
    return {
        {"loader.bin", 0, 0x0, 0x1000, Pattern(300, 1)},
        {"app.bin", 20, 0x200000, 0x80000, Pattern(1000, 2)},
        {"nv.bin", 2, 0x7F0000, 0x2000, Pattern(17, 3)},
    };
}

FwpkgCheck Check(const std::vector<uint8_t>& pkg, Common::FwpkgTable& table, uint32_t maxCount = 0)
{
    return Common::CheckFwpkgTable(pkg.data(), pkg.size(), pkg.size(), maxCount, table);
}

class FwpkgLayouts : public ::testing::TestWithParam<bool> {};

TEST_P(FwpkgLayouts, CrcCoversTheWholeTableButNotTheImagesAndNoImageSumMayWrap)
{
    const bool fresh = GetParam();
    const std::vector<uint8_t> pkg = BuildPackage(ThreeImages(), {fresh, 0});
    Common::FwpkgTable table;
    ASSERT_EQ(Check(pkg, table), FwpkgCheck::OK); // the last image ends exactly at the end
    std::vector<uint8_t> changed = pkg;
    changed.back() ^= 0xFF;
    EXPECT_EQ(Check(changed, table), FwpkgCheck::OK);
    changed = pkg;
    changed[8] ^= 0x01; // not interpreted, yet covered
    EXPECT_EQ(Check(changed, table), FwpkgCheck::CRC_MISMATCH);
    EXPECT_EQ(table.entries.size(), 3u); // listed, so a reader can still name them

    std::vector<uint8_t> wrapping = pkg;
    PutLe(wrapping, FieldAt(fresh, 1, 0), 0xFFFFFFF0u, 4);
    PutLe(wrapping, FieldAt(fresh, 1, 4), 0x20, 4);
    SealPackage(wrapping, fresh);
    EXPECT_EQ(Check(wrapping, table), FwpkgCheck::ENTRY_PAST_END);
    EXPECT_EQ(table.badEntry, 1u);
    // A caller that read only part of the table is refused like a short file.
    EXPECT_EQ(Common::CheckFwpkgTable(pkg.data(), 20, 1 << 20, 0, table), FwpkgCheck::TABLE_PAST_END);
}

INSTANTIATE_TEST_SUITE_P(NormalAndNew, FwpkgLayouts, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "New" : "Normal"; });

TEST(FwpkgFlag, RangesSelectTheLayoutAndOthersAreRefused)
{
    Common::FwpkgLayoutInfo layout = Common::FWPKG_NORMAL_LAYOUT;
    ASSERT_TRUE(Common::GetFwpkgLayout(0xEFBEADDF, layout));
    EXPECT_EQ(layout.headerLength, 12u);
    EXPECT_EQ(layout.entryLength, 52u);
    for (uint32_t flag : {0xEFBEADD0u, 0xEFBEADDEu, 0xEFBEADE0u, 0xEFBEADFFu}) {
        ASSERT_TRUE(Common::GetFwpkgLayout(flag, layout)) << std::hex << flag;
        EXPECT_EQ(layout.headerLength, 272u);
        EXPECT_EQ(layout.entryLength, 280u);
        EXPECT_EQ(layout.nameLength, 260u);
    }
    for (uint32_t flag : {0xEFBEADCFu, 0xEFBEAE00u, 0xDFADBEEFu, 0u}) {
        EXPECT_FALSE(Common::GetFwpkgLayout(flag, layout)) << std::hex << flag;
    }
}

// 256 images refused by the chip's limit and listed without one: the e2e and jobs suites.
TEST(FwpkgCount, TheChipObjectsLimitTakes255AndTheMemoryReaderRefusesAnyImageOutside)
{
    const std::vector<PackageImage> images(255, PackageImage{"img", 5, 0, 0, {}});
    Common::FwpkgTable table;
    EXPECT_EQ(Check(BuildPackage(images), table, Common::FWPKG_MAX_IMAGE_COUNT), FwpkgCheck::OK);

    const std::vector<uint8_t> pkg = BuildPackage(ThreeImages());
    const std::vector<Common::FileHead> entries = Common::ReadFwpkgEntries(pkg.data(), pkg.size());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].Name(), "nv.bin");
    EXPECT_TRUE(Common::ReadFwpkgEntries(pkg.data(), pkg.size() - 1).empty());
    EXPECT_TRUE(Common::ReadFwpkgEntries(nullptr, 0).empty());
}

// Names become file names in the extract directory: nothing that could leave it.
TEST(FwpkgImageName, OnlyPlainNamesMayBecomeFileNames)
{
    for (const char* name : {"app.bin", "loader", ".hidden", "a.b.c", "name with space"}) {
        EXPECT_TRUE(Common::IsSafeFwpkgImageName(name)) << name;
    }
    for (const char* name : {"", "..", "../app.bin", "dir/app.bin", "/etc/passwd", "a\\b", "..\\x", "a..b"}) {
        EXPECT_FALSE(Common::IsSafeFwpkgImageName(name)) << name;
    }
}

} // namespace
