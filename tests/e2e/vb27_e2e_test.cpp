// tarnwickcmd burning, erasing and reading Vb27 and Qn4180 boards simulated
// by tarnwick-sim. Every run is judged by its exit code, its result lines and
// what the board saw: the images it received and its flash, byte for byte.
// Line faults and silent boards are in the fault matrix, refused packages in
// early_checks_test.cpp. Last, "-beforereset" against a line that only listens.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "support/pty_pair.h"

using namespace E2e;

namespace {

// A loader, flash images from 1 KiB to 3 MiB (one not a multiple of the block
// size), NV/KV, OTP and eFuse, factory, version, and a type-16 entry that must
// not be sent.
const std::vector<PackageImage> FULL_PACKAGE{
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

// A board whose flash already holds data.
Bytes FillFlash(const std::string& path)
{
    const Bytes flash = Pattern(2 * 1024 * 1024, 42);
    EXPECT_TRUE(WriteFile(path, flash));
    return flash;
}

class Vb27Board : public E2eTest {};

// --- burning a package: one row per option ----------------------------------------------

struct BurnCase {
    const char* name;
    const char* chip;
    std::vector<std::string> options;
    std::vector<size_t> selected;  // indices of FULL_PACKAGE; empty: all
    std::vector<uint64_t> baudChanges;
    const char* event;  // a text the board's report must hold, or ""
    const char* printed = "";  // what the tool must print besides
};

class Vb27Burn : public Vb27Board, public ::testing::WithParamInterface<BurnCase> {};

TEST_P(Vb27Burn, TheBoardHoldsExactlyTheSelectedImages)
{
    const BurnCase& c = GetParam();
    std::vector<PackageImage> entries = FULL_PACKAGE;
    if (std::string(c.chip) == "qn4180") {
        entries[1].burnSize = 1025;  // rounded to 1536 by the Qn4180 command, not to 4096
    }
    std::vector<PackageImage> sent;
    for (size_t i = 0; i < entries.size(); ++i) {
        if ((c.selected.empty() || std::count(c.selected.begin(), c.selected.end(), i) != 0) &&
            entries[i].type != TYPE_SKIPPED) {
            sent.push_back(entries[i]);
        }
    }
    const std::string package = Given("board.fwpkg", BuildPackage(entries));
    const BoardRun b = OnBoard("--burn", c.chip, package, c.options);

    EXPECT_EQ(b.run.exitCode, 0) << b.run.output;
    // Without -re the board is left as it is (the reset: burn_check_test.cpp).
    ExpectHolds(b.run.output,
                {BURNED, "\nBurn " + package + " successfully.\n", "\n[DEBUG] GetReboot() = 0\n", c.printed});
    ExpectVb27Board(b.report, b.flash, sent);
    // The board's images are exactly these: nothing else is sent, or called downloaded.
    EXPECT_EQ(CountOf(b.run.output, "downloaded: "), sent.size()) << b.run.output;
    EXPECT_FALSE(Contains(b.run.output, "notes.txt")) << "a type-16 entry is never mentioned";
    EXPECT_TRUE(b.report.resets.empty()) << b.report.text;
    EXPECT_EQ(b.report.baudChanges, c.baudChanges) << b.report.text;
    // The tool's side of the line followed every rate the board agreed to.
    std::vector<uint64_t> lineRates{115200};
    lineRates.insert(lineRates.end(), c.baudChanges.begin(), c.baudChanges.end());
    EXPECT_EQ(b.report.lineRates, lineRates) << b.report.text;
    EXPECT_TRUE(*c.event == '\0' || Contains(b.report.text, c.event)) << b.report.text;
}

// The Qn4180 row has the defaults. -switchafterloader is burned through a
// serial server (remote_e2e_test.cpp).
const std::vector<BurnCase> BURN_CASES = {
    // Selection by part of the name: the rest is not sent.
    {"OnlyBurnByPartOfTheNameInPacketsOf4096", "vb27", {"-onlyburn:loader", "-onlyburn:big_", "-packagesize:4096"},
     {0, 2}, {}, ""},
    {"Qn4180TakesTheSamePackage", "qn4180", {}, {}, {}, "\"regionSize\": 1536"},
    // Without switch the handshake carries the rate. A pseudo-terminal has no modem lines: the operator is told
    // to reset the board, and the burn goes on.
    {"TheHandshakeCarriesTheRateAndAResetSequenceTheLineCannotDriveIsLeftToTheOperator", "vb27",
     {"-b", "460800", "-resetseq:D0|W0.05|D1"}, {}, {460800}, "handshake at 460800 baud",
     "(this port has no modem lines); reset it by hand.\n"},
};

INSTANTIATE_TEST_SUITE_P(Options, Vb27Burn, ::testing::ValuesIn(BURN_CASES),
                         [](const ::testing::TestParamInfo<BurnCase>& p) { return std::string(p.param.name); });

// --- read and erase ----------------------------------------------------------------------

// The tool's bytes before the flash data of a 2 MiB read (handshake, the 8 KiB loader, the
// upload command, about 10.5 KB) and about a thousand of its ACKs: the cable goes in the
// middle of the data (about 2000 ACKs in all).
constexpr const char* MID_READ_BYTES = "11500";

// An earlier output survives a read that breaks off; a complete one replaces it. Either
// way nothing but the output is left in its directory, and the package stays as given
// (checked after every run). Then an erase loads only the loader and erases the whole flash.
TEST_F(Vb27Board, ReadWritesTheOutputOnlyWhenCompleteAndEraseLoadsOnlyTheLoaderAndClearsTheFlash)
{
    const std::string package = Given("board.fwpkg", BuildPackage(FULL_PACKAGE));
    const std::string dir = Path("reads/");
    const std::string output = dir + "flash.bin";
    std::filesystem::create_directories(dir);
    const Bytes earlier = Pattern(3000, 11);
    ASSERT_TRUE(WriteFile(output, earlier));

    const Bytes flash = FillFlash(Path("sim-flash.bin"));
    const BoardRun cut = OnBoard("--read", "vb27", package, {"-readfile:" + output, "-readaddr:0", "-readsize:2m"},
                                 {"--close-after", MID_READ_BYTES});
    EXPECT_NE(cut.run.exitCode, 0) << cut.run.output;
    // Cut mid-data.
    ExpectHolds(cut.run.output, {"Receive data frames failed.\n", "\nerror: Read " + output + " failed.\n"});
    EXPECT_EQ(ReadFile(output), earlier);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);

    // 100000 bytes: not a multiple of the block size. The loader sends in blocks of
    // 1 KiB after a loader alone, whatever -packagesize says; larger: burn_check_test.cpp.
    const BoardRun b =
        OnBoard("--read", "vb27", package, {"-readfile:" + output, "-readaddr:0x12345", "-readsize:100000"});
    EXPECT_EQ(b.run.exitCode, 0) << b.run.output;
    EXPECT_TRUE(Contains(b.run.output, "\nRead " + output + " successfully.\n")) << b.run.output;
    EXPECT_EQ(ReadFile(output), Bytes(flash.begin() + 0x12345, flash.begin() + 0x12345 + 100000));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    ExpectVb27Board(b.report, b.flash, {FULL_PACKAGE[0]});
    EXPECT_TRUE(Contains(b.report.text, "upload 0x00012345 100000 in blocks of 1024")) << b.report.text;

    const BoardRun erased = OnBoard("--erase", "vb27", package);
    EXPECT_EQ(erased.run.exitCode, 0) << erased.run.output;
    ExpectHolds(erased.run.output, {"\nErase all flash successfully.\n", "Erase successfully.\n"});
    ExpectVb27Board(erased.report, erased.flash, {FULL_PACKAGE[0]});
    ASSERT_EQ(erased.report.erases.size(), 1u) << erased.report.text;
    EXPECT_TRUE(Contains(erased.report.erases[0], "\"what\": \"all\"")) << erased.report.erases[0];
    EXPECT_EQ(erased.flash, Bytes(erased.flash.size(), 0xFF));
}

// --- "-beforereset" ------------------------------------------------------------------------
// While a board does not answer, the handshake goes on and the chip's
// ResetAtCommand goes out after every 100th handshake frame. The board here is
// a bare pseudo-terminal that only listens, so the test sees every byte the
// tool writes and in which order.

const std::string AT_LINE = "AT+RESET\r\n";
// Handshake frame at 115200 baud: flag, length 18, F0 0F, rate, 08 01 00 00, CRC; little-endian.
const std::string HANDSHAKE("\xEF\xBE\xAD\xDE\x12\x00\xF0\x0F\x00\xC2\x01\x00\x08\x01\x00\x00\xE0\x64", 18);

class BeforeResetTest : public E2eTest {};

TEST_F(BeforeResetTest, TheResetCommandFollowsEveryHundredthHandshakeFrameOnlyWithTheOption)
{
    ASSERT_TRUE(WriteText(Path("bin/ChipProperties/vb27.txt"),
                          "ChipType=0x30004\nLoadBurnAddress=0\nResetAtCommand=AT+RESET\n"));
    const std::string package =
        Given("board.fwpkg", BuildPackage({{"loader.bin", TYPE_LOADER, 0, 0, Pattern(4096, 1)}}));
    for (const bool option : {true, false}) {
        SCOPED_TRACE(option);
        PtyPair pty;  // a fresh line each round, outliving the tool killed at its end
        ASSERT_TRUE(pty.Ok());
        std::vector<std::string> extra{"-burninterval:2"};
        if (option) {
            extra.push_back("-beforereset");
        }
        const ChildProcess tool(Tool(), ToolArgs("--burn", "vb27", pty.SlavePath(), package, extra));
        // Listens to 250 handshake frames (or until a generous limit passes).
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (CountOf(line, HANDSHAKE) < 250 && std::chrono::steady_clock::now() < deadline) {
            const Bytes got = pty.ReadFor(4096, 200);
            line.append(got.begin(), got.end());
        }
        const size_t frames = CountOf(line, HANDSHAKE);
        ASSERT_GE(frames, 250u) << "the handshake stopped early";
        std::vector<size_t> atAfterFrames;
        for (size_t at = line.find(AT_LINE); at != std::string::npos; at = line.find(AT_LINE, at + 1)) {
            atAfterFrames.push_back(CountOf(line.substr(0, at), HANDSHAKE));
        }
        // After the last frame read: whether it came is a matter of timing.
        const size_t trailingAt = std::count(atAfterFrames.begin(), atAfterFrames.end(), frames);
        atAfterFrames.resize(atAfterFrames.size() - trailingAt);
        // A read may take the line past 250 frames: every full hundred followed by a frame counts.
        std::vector<size_t> expected;
        for (size_t hundred = 100; option && hundred < frames; hundred += 100) {
            expected.push_back(hundred);
        }
        EXPECT_EQ(atAfterFrames, expected);
        // Nothing else, apart from a frame still arriving.
        EXPECT_LT(line.size() - frames * HANDSHAKE.size() - (atAfterFrames.size() + trailingAt) * AT_LINE.size(),
                  HANDSHAKE.size());
    }
}

}  // namespace
