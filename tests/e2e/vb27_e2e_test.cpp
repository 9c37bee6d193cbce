// tarnwickcmd burning, erasing and reading Vb27 and Qn4180 boards simulated
// by tarnwick-sim. Every run is judged by its exit code, its result lines and
// what the board saw: the images it received and its flash, byte for byte.
// Line faults the protocol gets past are in the fault matrix.
//
// A silent board is long by nature: its 60 s handshake window is fixed by the
// board. Its name ends in "_Long".
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

// Long enough for a 60 s handshake window and its messages on a loaded machine.
constexpr int LONG_RUN_LIMIT_MS = 200000;
const char* const BURNED = "\nBurned successfully.\n";
const char* const BURN_FAILED = "\nBurned failed.\n";

// A loader, flash images from 1 KiB to 3 MiB (one not a multiple of the block
// size), NV/KV, OTP and eFuse, factory, version, and a type-16 entry that must
// not be sent.
std::vector<PackageEntry> FullPackage()
{
    return {
        {"loader.bin", TYPE_LOADER, 0, 0, Pattern(8 * 1024 + 17, 1)},
        {"app_1k.bin", TYPE_FLASH, 0x10000, 0x1000, Pattern(1024, 2)},
        {"big_3m.bin", TYPE_FLASH, 0x100000, 0x300100, Pattern(3 * 1024 * 1024 + 123, 3)},
        {"nv.bin", TYPE_NV_KV, 0x40000, 5000, Pattern(5000, 4)},
        {"otp.bin", TYPE_OTP_EFUSE, 0, 0, Pattern(64, 5)},
        {"efuse.bin", TYPE_EFUSE, 0, 0, Pattern(16, 6)},
        {"factory.bin", TYPE_FACTORY, 0x50000, 0x1000, Pattern(3000, 7)},
        {"version.bin", TYPE_VERSION, 0, 0, Pattern(32, 8)},
        {"notes.txt", TYPE_SKIPPED, 0x60000, 0x1000, Pattern(500, 9)},
    };
}

// EF BE AD DE 0C 00 87 78 00 00 and the CRC16 of those ten bytes, low byte first.
const char* const RESET_FRAME_HEX = "efbeadde0c00877800006194";

class Vb27Board : public E2eTest {
protected:
    // A board whose flash already holds data.
    Bytes FillFlash()
    {
        const Bytes flash = Pattern(2 * 1024 * 1024, 42);
        EXPECT_TRUE(WriteFile(Path("sim-flash.bin"), flash));
        return flash;
    }
};

// --- burning a package: one row per option ----------------------------------------------

struct BurnCase {
    const char* name;
    const char* chip;
    std::vector<std::string> options;
    std::vector<size_t> selected;  // indices of FullPackage; empty: all
    bool reboot;
    std::vector<uint64_t> baudChanges;
    const char* event;  // a report event that must be there, or ""
};

class Vb27Burn : public Vb27Board, public ::testing::WithParamInterface<BurnCase> {};

TEST_P(Vb27Burn, TheBoardHoldsExactlyTheSelectedImages)
{
    const BurnCase& c = GetParam();
    std::vector<PackageEntry> entries = FullPackage();
    if (std::string(c.chip) == "qn4180") {
        entries[1].burnSize = 1025;  // rounded to 1536 by the Qn4180 command, not to 4096
    }
    std::vector<PackageEntry> sent;
    for (size_t i = 0; i < entries.size(); ++i) {
        const bool chosen =
            c.selected.empty() || std::find(c.selected.begin(), c.selected.end(), i) != c.selected.end();
        if (chosen && entries[i].type != TYPE_SKIPPED) {
            sent.push_back(entries[i]);
        }
    }
    const std::string package = Given("board.fwpkg", BuildPackage(entries));
    const BoardRun b = OnBoard("--burn", c.chip, package, c.options);

    EXPECT_EQ(b.run.exitCode, 0) << b.run.output;
    EXPECT_TRUE(Contains(b.run.output, BURNED)) << b.run.output;
    EXPECT_TRUE(Contains(b.run.output, "\nBurn " + package + " successfully.\n")) << b.run.output;
    ExpectVb27Board(b.report, b.flash, sent);
    for (const PackageEntry& e : entries) {
        const bool wasSent =
            std::any_of(sent.begin(), sent.end(), [&](const PackageEntry& s) { return s.name == e.name; });
        if (wasSent) {
            EXPECT_TRUE(Contains(b.run.output, "downloaded: " + e.name + " successfully.\n")) << e.name;
        } else {
            EXPECT_FALSE(Contains(b.run.output, e.type == TYPE_SKIPPED ? e.name : "downloaded: " + e.name)) << e.name;
            EXPECT_TRUE(e.burnAddress == 0 || IsErased(b.flash, e.burnAddress, e.data.size())) << e.name;
        }
    }
    if (c.reboot) {
        EXPECT_TRUE(Contains(b.run.output, "\n[DEBUG] GetReboot() = 1\n\nGetReboot1.\n")) << b.run.output;
        EXPECT_EQ(b.report.resets, std::vector<std::string>{RESET_FRAME_HEX}) << b.report.text;
    } else {
        EXPECT_TRUE(Contains(b.run.output, "\n[DEBUG] GetReboot() = 0\n")) << b.run.output;
        EXPECT_FALSE(Contains(b.run.output, "GetReboot1.")) << b.run.output;
        EXPECT_TRUE(b.report.resets.empty()) << "no reboot was asked for: " << b.report.text;
    }
    EXPECT_EQ(b.report.baudChanges, c.baudChanges) << b.report.text;
    EXPECT_TRUE(*c.event == '\0' || b.report.HasEvent(c.event)) << b.report.text;
    if (std::string(c.chip) == "qn4180") {
        ASSERT_GE(b.report.images.size(), 2u);
        EXPECT_EQ(b.report.images[1].regionSize, 1536u) << b.report.text;
    }
}

// Each block size rides along with another option.
const std::vector<BurnCase> BURN_CASES = {
    {"WholePackage", "vb27", {}, {}, false, {}, ""},
    {"RebootEndsWithTheResetFrameInPacketsOf2048", "vb27", {"-re", "1", "-packagesize:2048"}, {}, true, {}, ""},
    // Selection by part of the name: the rest is not sent.
    {"OnlyBurnByPartOfTheNameInPacketsOf4096", "vb27", {"-onlyburn:loader", "-onlyburn:big_", "-packagesize:4096"},
     {0, 2}, false, {}, ""},
    {"SwitchAfterLoaderHandshakesAt115200InPacketsOf8192", "vb27",
     {"-switchafterloader", "-b", "921600", "-packagesize:8192"}, {}, false, {921600}, "handshake at 115200 baud"},
    {"WithoutSwitchTheHandshakeCarriesTheRate", "vb27", {"-b", "460800"}, {}, false, {460800},
     "handshake at 460800 baud"},
    {"Qn4180TakesTheSamePackage", "qn4180", {}, {}, false, {}, ""},
};

INSTANTIATE_TEST_SUITE_P(Options, Vb27Burn, ::testing::ValuesIn(BURN_CASES),
                         [](const ::testing::TestParamInfo<BurnCase>& p) { return std::string(p.param.name); });

// --- erase and read ----------------------------------------------------------------------

TEST_F(Vb27Board, EraseLoadsOnlyTheLoaderAndErasesTheWholeFlash)
{
    const auto entries = FullPackage();
    const std::string package = Given("board.fwpkg", BuildPackage(entries));
    for (const char* chip : {"vb27", "qn4180"}) {
        SCOPED_TRACE(chip);
        FillFlash();
        const BoardRun b = OnBoard("--erase", chip, package);
        EXPECT_EQ(b.run.exitCode, 0) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, "\nErase all flash successfully.\n")) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, "Erase successfully.\n")) << b.run.output;
        ExpectVb27Board(b.report, b.flash, {entries[0]});
        ASSERT_EQ(b.report.erases.size(), 1u) << b.report.text;
        EXPECT_TRUE(Contains(b.report.erases[0], "\"what\": \"all\"")) << b.report.erases[0];
        EXPECT_TRUE(IsErased(b.flash, 0, b.flash.size()));
    }
}

// The package stays as given (checked after every run), also when the
// output would be the package itself.
TEST_F(Vb27Board, ReadWritesTheFlashRegionToTheOutputFileButNeverIntoThePackage)
{
    const auto entries = FullPackage();
    const std::string package = Given("board.fwpkg", BuildPackage(entries));
    const size_t address = 0x12345;
    const size_t size = 100000;  // not a multiple of any block size
    for (const char* packetSize : {"1024", "8192"}) {
        SCOPED_TRACE(packetSize);
        const std::string output = Path(std::string("read-") + packetSize + ".bin");
        const Bytes flash = FillFlash();
        const BoardRun b = OnBoard("--read", "vb27", package,
                                   {"-readfile:" + output, "-readaddr:0x12345", "-readsize:100000",
                                    std::string("-packagesize:") + packetSize});
        EXPECT_EQ(b.run.exitCode, 0) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, "\nRead " + output + " successfully.\n")) << b.run.output;
        EXPECT_EQ(ReadFile(output), Bytes(flash.begin() + address, flash.begin() + address + size));
        ExpectVb27Board(b.report, b.flash, {entries[0]});
        EXPECT_TRUE(b.report.HasEvent("upload 0x00012345 100000")) << b.report.text;
    }
    const BoardRun b = OnBoard("--read", "vb27", package, {"-readfile:" + package, "-readsize:4096"});
    EXPECT_NE(b.run.exitCode, 0);
    EXPECT_TRUE(Contains(b.run.output, "is the package")) << b.run.output;
    EXPECT_TRUE(b.report.images.empty()) << b.report.text;
    EXPECT_FALSE(b.report.HasEvent("handshake")) << b.report.text;
}

// A table names image files: a run with one ends and leaves the table and the images as given.
TEST_F(Vb27Board, ATableRunLeavesTheTableAndItsImagesAsGiven)
{
    std::string table = "<?xml version=\"1.0\"?>\n<Partitions>\n";
    for (const auto& [name, start] : {std::pair<std::string, std::string>{"boot", "0x0"}, {"kernel", "0x10000"}}) {
        const std::string image = Given(name + ".bin", Pattern(4096, 9));
        table += "  <Partition Sel=\"1\" PartitionName=\"" + name + "\" FileSystem=\"none\" FlashType=\"spi\"" +
                 " Start=\"" + start + "\" Length=\"64k\" SelectFile=\"" + image + "\"/>\n";
    }
    table += "</Partitions>\n";
    const BoardRun b =
        OnBoard("--burn", "vb27", Given("table.xml", Bytes(table.begin(), table.end())), {}, {"--close-after", "2000"});
    EXPECT_TRUE(Contains(b.run.output, BURN_FAILED) || Contains(b.run.output, BURNED)) << b.run.output;
}

// --- packages refused before anything is sent ----------------------------------------------

TEST_F(Vb27Board, BrokenPackagesAreRefusedBeforeAnyByteIsSent)
{
    const std::vector<PackageEntry> small{FullPackage()[0], FullPackage()[1]};
    Bytes badCrc = BuildPackage(small);
    badCrc[OFFSET_CRC] ^= 0x01;
    std::vector<PackageEntry> many{small[0]};
    for (uint32_t i = 1; i < 256; ++i) {
        many.push_back({"img" + std::to_string(i), TYPE_FLASH, 0x1000 * i, 0x1000, Bytes{1}});
    }
    Bytes pastEnd = BuildPackage(small);
    PutLe(pastEnd, FieldAt(false, 1, FIELD_LENGTH), static_cast<uint32_t>(small[1].data.size() + 1), 4);
    SealPackage(pastEnd);
    const std::vector<std::pair<Bytes, std::string>> cases{
        {BuildPackage(small, {false, 0xEFBEADDE}), "is not equal to 0xefbeaddf!\n"},
        {badCrc, "is not equal to fwpkg crc:"},
        {BuildPackage({small[1], small[0]}), "The first file is not a loader.\n"},
        {BuildPackage(many), "too many image or the header data length is greater than the file length!\n"},
        {pastEnd, ""},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message);
        const std::string package = Given("board.fwpkg", bytes);
        const BoardRun b = OnBoard("--burn", "vb27", package);
        EXPECT_EQ(b.run.exitCode, 4) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, "File: " + package + " format error!\n")) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, message)) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, "\nerror: Burn " + package + " failed!\n")) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, BURN_FAILED)) << b.run.output;
        EXPECT_TRUE(b.report.images.empty()) << b.report.text;
        EXPECT_FALSE(b.report.HasEvent("handshake")) << b.report.text;
        EXPECT_TRUE(b.report.protocolErrors.empty()) << "the board received bytes: " << b.report.text;
    }
}

TEST_F(Vb27Board, ASilentBoardEndsTheBurnWithTheHandshakeMessage_Long)
{
    const std::string package = Given("board.fwpkg", BuildPackage({FullPackage()[0], FullPackage()[1]}));
    const BoardRun b = OnBoard("--burn", "vb27", package, {}, {"--silent"}, LONG_RUN_LIMIT_MS);
    EXPECT_EQ(b.run.exitCode, 4) << b.run.output;
    EXPECT_EQ(CountOf(b.run.output, "Shakehand failed, The board does not respond.\n"), 2u) << b.run.output;
    EXPECT_TRUE(Contains(b.run.output, "\nerror: Burn " + package + " failed!\n")) << b.run.output;
    EXPECT_TRUE(Contains(b.run.output, BURN_FAILED)) << b.run.output;
    EXPECT_TRUE(b.report.images.empty()) << b.report.text;
}

}  // namespace
