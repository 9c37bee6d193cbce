// The burn check (-c 1) of a package against tarnwick-sim: a Vb27 or Qn4180
// board reads back every image it keeps in flash before any reset; a flash
// cell that stores a wrong bit fails the run with exit code 13 and names the
// image, the address and the count; a read-back the line breaks off ends with
// exit code 7; the run report holds each image's check. A TypeSix board checks
// its digests itself (typesix_e2e_test.cpp).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

using namespace E2e;

namespace {

constexpr uint32_t TYPE_ROM_FORMAT = 14;

const char* const CHECK_PASSED = "\nBurn check successful!\n";
const char* const CHECK_FAILED = "\nerror: Burn check failed!\n";

// Every kind of image; the last one read back is the largest, so that a line
// pulled late in the run breaks off a read-back.
const std::vector<PackageImage> PACKAGE{
    {"loader.bin", TYPE_LOADER, 0, 0, Pattern(6000, 1)},
    {"nv.bin", TYPE_NV_KV, 0x40000, 0x2000, Pattern(5000, 2)},
    {"version.bin", TYPE_VERSION, 0, 0, Pattern(32, 3)},
    {"otp.bin", TYPE_OTP_EFUSE, 0, 0, Pattern(64, 4)},
    {"factory.bin", TYPE_FACTORY, 0x50000, 0x1000, Pattern(3000, 5)},
    {"rom.bin", TYPE_ROM_FORMAT, 0x60000, 0x1000, Pattern(2000, 6)},
    {"app.bin", TYPE_FLASH, 0x10000, 0x30000, Pattern(150000, 7)},
};
// What the check makes of each: read back and compared, or not stored in flash as sent.
const std::vector<std::string> CHECKS{"not checked", "passed",      "not checked", "not checked",
                                      "passed",      "not checked", "passed"};

class BurnCheck : public E2eTest {};

// --- a good board ------------------------------------------------------------------------

// On the Qn4180 board, wrong cells under an image it keeps in a format of its
// own (not read back) and where no image lies are no difference of the burn.
TEST_F(BurnCheck, AGoodBoardPassesAndTheImagesKeptInFlashAreReadBackBeforeTheReset)
{
    const struct {
        const char* family;
        const char* packetSize;
        size_t readBlock;
        std::vector<std::string> badCells;
    } cases[] = {{"vb27", "-packagesize:8192", 8192, {}},
                 {"qn4180", "-packagesize:1024", 1024, {"--bad-cell", "0x60000", "--bad-cell", "0x3FFFF"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.family);
        const BoardRun b = Reported(c.family, PACKAGE, {"-c", "1", "-re", "1", c.packetSize}, c.badCells);
        ASSERT_EQ(b.run.exitCode, 0) << b.run.output;
        const std::string& out = b.run.output;
        // After the burn, before the reset frame.
        // A text missing is found at npos, after every other.
        const size_t burned = out.find("\nBurn " + Path("fw.fwpkg") + " successfully.\n");
        const size_t passed = out.find(CHECK_PASSED);
        EXPECT_LT(burned, passed) << out;
        EXPECT_LT(passed, out.find("\n[DEBUG] GetReboot() = 1\n\nGetReboot1.\n")) << out;
        EXPECT_TRUE(Contains(out, "\nReading back app.bin: 150000 bytes from 0x00010000.\n")) << out;
        EXPECT_EQ(CountOf(out, "\nReading back "), 3u) << out;
        EXPECT_EQ(b.report.resets, std::vector<std::string>{RESET_FRAME_HEX}) << b.report.text;
        // The board was asked for exactly the images it keeps, in the block size of the burn.
        const std::string blocks = " in blocks of " + std::to_string(c.readBlock);
        ExpectHolds(b.report.text, {"upload 0x00040000 5000" + blocks, "upload 0x00050000 3000" + blocks,
                                    "upload 0x00010000 150000" + blocks});
        EXPECT_EQ(CountOf(b.report.text, "\"upload 0x"), 3u) << b.report.text;
        EXPECT_TRUE(b.report.protocolErrors.empty()) << b.report.text;

        const nlohmann::json images = Images();
        ASSERT_EQ(images.size(), PACKAGE.size()) << m_report.dump(2);
        for (size_t i = 0; i < PACKAGE.size(); ++i) {
            EXPECT_EQ(images[i].value("check", ""), CHECKS[i]) << images[i].dump();
            EXPECT_EQ(images[i].contains("checkSeconds"), CHECKS[i] == "passed") << images[i].dump();
            EXPECT_FALSE(images[i].contains("firstDifference")) << images[i].dump();
        }
    }
}

// --- a board whose flash differs ---------------------------------------------------------

// Two wrong cells in app.bin (its 6th and 257th byte), one in the last byte
// of nv.bin: every image is read back, each difference is named, no reset
// follows. Then the line is pulled while the board sends app.bin back (one
// ACK per 1 KiB block): the run ends with exit code 7.
TEST_F(BurnCheck, AWrongFlashCellFailsWithTheImageTheFirstAddressAndTheCountAndALostReadBackWithExitCode7)
{
    const BoardRun b = Reported("vb27", PACKAGE, {"-c", "1", "-re", "1"},
                                {"--bad-cell", "0x10100", "--bad-cell", "0x10005:3", "--bad-cell", "0x41387:7"});
    EXPECT_EQ(b.run.exitCode, 13) << b.run.output;
    const std::string& out = b.run.output;
    ExpectHolds(out, {"\nImage app.bin differs from the package: first at flash address 0x00010005, 2 of 150000 "
                      "bytes differ.\n",
                      "\nImage nv.bin differs from the package: first at flash address 0x00041387, 1 of 5000 "
                      "bytes differ.\n",
                      "\nBurned failed.\n"});
    EXPECT_EQ(CountOf(out, CHECK_FAILED), 1u) << out;
    EXPECT_FALSE(Contains(out, CHECK_PASSED)) << out;
    EXPECT_TRUE(b.report.resets.empty()) << "a board that failed its check is not restarted\n" << b.report.text;

    EXPECT_EQ(m_report.value("resultCode", 0), 13);
    const nlohmann::json failure{{"kind", "burnCheckMismatch"}, {"image", "nv.bin"}};  // the first that differs
    EXPECT_EQ(Pick(m_report["failure"], failure), failure) << m_report.dump(2);
    const nlohmann::json images = Images();
    ASSERT_EQ(images.size(), PACKAGE.size()) << m_report.dump(2);
    const nlohmann::json nv{{"check", "failed"}, {"firstDifference", 0x41387}, {"differingBytes", 1}};
    const nlohmann::json app{{"check", "failed"}, {"firstDifference", 0x10005}, {"differingBytes", 2}};
    EXPECT_EQ(Pick(images[1], nv), nv);
    EXPECT_EQ(images[4].value("check", ""), "passed");
    EXPECT_EQ(Pick(images[6], app), app);

    // Without a reset, the tool sent all it sends in a clean run; the line goes 90 bytes before the end.
    const nlohmann::json tally = nlohmann::json::parse(b.report.text, nullptr, false).value("tally", nlohmann::json());
    const uint64_t received = tally.value("received", uint64_t{0});
    ASSERT_GT(received, 200u) << b.report.text;
    const BoardRun cut = Reported("vb27", PACKAGE, {"-c", "1", "-re", "1"},
                                  {"--close-after", std::to_string(received - 90)});
    EXPECT_EQ(cut.run.exitCode, 7) << cut.run.output;
    ExpectHolds(cut.run.output, {"\nupload app.bin failed.\n", CHECK_FAILED});
    EXPECT_EQ(m_report.value("resultCode", 0), 7);
    EXPECT_EQ(m_report["failure"].value("kind", ""), "lineLost") << m_report.dump(2);
    ASSERT_EQ(Images().size(), PACKAGE.size()) << m_report.dump(2);
    EXPECT_EQ(Images()[1].value("check", ""), "passed");
    EXPECT_EQ(Images()[6].value("check", ""), "read failed");
}

}  // namespace
