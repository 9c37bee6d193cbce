// The package layout shared by every reader, against packages written byte by
// byte from the layout tables.
#include <gtest/gtest.h>

#include "common/fwpkg_format.h"
#include "fwpkg_test_package.h"

using namespace FwpkgTest;
using Common::FwpkgCheck;

namespace {

std::vector<Image> ThreeImages()
{
    return {
        {"loader.bin", Bytes(300, 1), 0x0, 0x1000, 0},
        {"app.bin", Bytes(1000, 2), 0x200000, 0x80000, 20},
        {"nv.bin", Bytes(17, 3), 0x7F0000, 0x2000, 2},
    };
}

FwpkgCheck Check(const std::vector<uint8_t>& pkg, Common::FwpkgTable& table, uint32_t maxCount = 0)
{
    return Common::CheckFwpkgTable(pkg.data(), pkg.size(), pkg.size(), maxCount, table);
}

// A copy of pkg with one field of one entry replaced and the CRC sealed again.
std::vector<uint8_t> WithField(std::vector<uint8_t> pkg, bool fresh, size_t entry, uint32_t field, uint32_t value)
{
    PutLe(pkg, FieldAt(fresh, entry, field), value, 4);
    SealCrc(pkg, fresh);
    return pkg;
}

class FwpkgLayouts : public ::testing::TestWithParam<bool> {};

TEST_P(FwpkgLayouts, EntriesCarryEveryFieldAndAFullNameHasNoTerminator)
{
    const bool fresh = GetParam();
    const std::vector<Image> images = ThreeImages();
    const std::vector<uint8_t> pkg = Build(images, {fresh, 0});
    Common::FwpkgTable table;
    ASSERT_EQ(Check(pkg, table), FwpkgCheck::OK);
    EXPECT_EQ(table.layout.layout, fresh ? Common::FwpkgLayout::NEW : Common::FwpkgLayout::NORMAL);
    ASSERT_EQ(table.entries.size(), 3u);
    uint32_t offset = HeaderSize(fresh) + 3 * EntrySize(fresh);
    for (size_t i = 0; i < images.size(); ++i) {
        const Common::FileHead& e = table.entries[i];
        EXPECT_EQ(e.name, images[i].name);
        EXPECT_EQ(e.offset, offset);
        EXPECT_EQ(e.length, images[i].data.size());
        EXPECT_EQ(e.burnAddress, images[i].burnAddress);
        EXPECT_EQ(e.burnSize, images[i].burnSize);
        EXPECT_EQ(e.type, images[i].type);
        offset += e.length;
    }

    const std::string full(NameSize(fresh), 'N');
    ASSERT_EQ(Check(Build({{full + "overflow", Bytes(4, 4), 0, 0, 0}}, {fresh, 0}), table), FwpkgCheck::OK);
    EXPECT_EQ(table.entries[0].name, full);
}

TEST_P(FwpkgLayouts, CrcCoversTheWholeTableButNotTheImages)
{
    const bool fresh = GetParam();
    const std::vector<uint8_t> pkg = Build(ThreeImages(), {fresh, 0});
    Common::FwpkgTable table;
    std::vector<uint8_t> changed = pkg;
    changed.back() ^= 0xFF;
    EXPECT_EQ(Check(changed, table), FwpkgCheck::OK);
    changed = pkg;
    changed[8] ^= 0x01; // not interpreted, yet covered
    EXPECT_EQ(Check(changed, table), FwpkgCheck::CRC_MISMATCH);
    changed = pkg;
    changed[HeaderSize(fresh) + 3 * EntrySize(fresh) - 1] ^= 0x01; // type of entry 3
    EXPECT_EQ(Check(changed, table), FwpkgCheck::CRC_MISMATCH);
    const uint16_t stored = static_cast<uint16_t>(pkg[4] | (pkg[5] << 8));
    EXPECT_EQ(table.head.crc, stored);
    EXPECT_NE(table.computedCrc, stored);
    EXPECT_EQ(table.entries.size(), 3u); // listed, so a reader can still name them
}

TEST_P(FwpkgLayouts, CountFFFFAndATableCutShortAreRefused)
{
    const bool fresh = GetParam();
    Common::FwpkgTable table;
    std::vector<uint8_t> pkg = Build(ThreeImages(), {fresh, 0});
    PutLe(pkg, 6, 0xFFFF, 2);
    EXPECT_EQ(Check(pkg, table), FwpkgCheck::COUNT_INVALID);

    pkg = Build({{"a", {}, 0, 0, 0}, {"b", {}, 0, 0, 0}}, {fresh, 0});
    ASSERT_EQ(Check(pkg, table), FwpkgCheck::OK); // images of length 0: the file is the table
    EXPECT_EQ(Check(std::vector<uint8_t>(pkg.begin(), pkg.end() - 1), table), FwpkgCheck::TABLE_PAST_END);
    // A caller that read only part of the table is refused the same way.
    EXPECT_EQ(Common::CheckFwpkgTable(pkg.data(), pkg.size() - 1, 1 << 20, 0, table), FwpkgCheck::TABLE_PAST_END);
}

TEST_P(FwpkgLayouts, ImageReachingPastTheEndIsRefusedEvenWhenTheSumWraps)
{
    const bool fresh = GetParam();
    const std::vector<uint8_t> pkg = Build(ThreeImages(), {fresh, 0});
    Common::FwpkgTable table;
    ASSERT_EQ(Check(pkg, table), FwpkgCheck::OK); // the last image ends exactly at the end
    EXPECT_EQ(Check(WithField(pkg, fresh, 2, 4, 18), table), FwpkgCheck::ENTRY_PAST_END);
    EXPECT_EQ(table.badEntry, 2u);
    EXPECT_EQ(table.entries[2].name, "nv.bin");
    const std::vector<uint8_t> wrapping = WithField(WithField(pkg, fresh, 1, 0, 0xFFFFFFF0u), fresh, 1, 4, 0x20);
    EXPECT_EQ(Check(wrapping, table), FwpkgCheck::ENTRY_PAST_END);
    EXPECT_EQ(table.badEntry, 1u);
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

    Common::FwpkgTable table;
    ASSERT_EQ(Check(Build(ThreeImages(), {true, 0xEFBEADFF}), table), FwpkgCheck::OK);
    EXPECT_EQ(table.entries[1].name, "app.bin");
    std::vector<uint8_t> wrong = Build(ThreeImages());
    wrong[3] = 0xEE; // little-endian: the top byte of the flag
    EXPECT_EQ(Check(wrong, table), FwpkgCheck::UNKNOWN_FLAG);
    EXPECT_EQ(table.head.flag, 0xEEBEADDFu);
    EXPECT_EQ(Check(std::vector<uint8_t>(wrong.begin(), wrong.begin() + 7), table), FwpkgCheck::SHORT_HEAD);
}

TEST(FwpkgCount, TheChipObjectsLimitRefusesTheLimitItself)
{
    std::vector<Image> images(256, Image{"img", {}, 0, 0, 5});
    const std::vector<uint8_t> pkg256 = Build(images);
    images.pop_back();
    Common::FwpkgTable table;
    EXPECT_EQ(Check(Build(images), table, Common::FWPKG_MAX_IMAGE_COUNT), FwpkgCheck::OK);
    EXPECT_EQ(table.entries.size(), 255u);
    EXPECT_EQ(Check(pkg256, table, Common::FWPKG_MAX_IMAGE_COUNT), FwpkgCheck::TOO_MANY_IMAGES);
    EXPECT_EQ(Check(pkg256, table, 0), FwpkgCheck::OK); // no limit asked for
}

TEST(FwpkgEntries, InMemoryReaderGivesEveryEntryOrNothingWhenAnyImageLiesOutside)
{
    const std::vector<uint8_t> pkg = Build(ThreeImages());
    const std::vector<Common::FileHead> entries = Common::ReadFwpkgEntries(pkg.data(), pkg.size());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].Name(), "nv.bin");
    EXPECT_EQ(entries[2].offset + entries[2].length, pkg.size());
    EXPECT_TRUE(Common::ReadFwpkgEntries(pkg.data(), pkg.size() - 1).empty());
    EXPECT_TRUE(Common::ReadFwpkgEntries(pkg.data(), 20).empty());
    EXPECT_TRUE(Common::ReadFwpkgEntries(nullptr, 0).empty());
}

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
