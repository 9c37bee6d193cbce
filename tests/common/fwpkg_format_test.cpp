// The package layout shared by every reader, against packages written byte by
// byte from the layout tables. Listing and each refusal's message are pinned
// through the jobs and end-to-end suites (256 images, an entry past the end);
// here what only the reader decides.
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

FwpkgCheck Check(const std::vector<uint8_t>& pkg, Common::FwpkgTable& table)
{
    return Common::CheckFwpkgTable(pkg.data(), pkg.size(), pkg.size(), 0, table);
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

} // namespace
