// TypeSix boards end to end: the built tarnwickcmd burns fwpkg packages into
// tarnwick-sim's TypeSix board. Every run is checked three ways: exit code,
// the tool's console from its call to reset the board on, and every list of
// the board's report against what the board must have seen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

constexpr uint64_t ROM_BAUD = 115200;
constexpr const char* WAITING = "Please reset the device, the waiting time is about 30 seconds.\n";
constexpr const char* STOPPED = "simulator ended: stopped by signal 15";

// One mark per 4096-byte packet.
std::string Marks(size_t length)
{
    return std::string((length + 4095) / 4096, '#');
}

std::string LoaderText(const std::string& name, size_t length)
{
    return Marks(length) + "load ssb success.\nBurn " + name + " successfully.\n";
}

std::string ImageText(const std::string& name, size_t length)
{
    return "BurnOtherFile1.\nBurnOtherFile2.\nDownloadFile1.\nDownloadFile2.\n" + Marks(length) +
           "DownloadFile3.\nBurnOtherFile3.\nBurn " + name + " successfully.\n";
}

const std::string NO_RESET_CALL = "no call to reset:\n";

// The console from the call to reset the board on; for a run that ends before
// it, from the end of the option pass's echo of the command line on.
std::string AfterWaiting(const std::string& output)
{
    const size_t at = output.find(WAITING);
    if (at != std::string::npos) {
        return output.substr(at + std::strlen(WAITING));
    }
    const size_t echo = output.rfind("[DEBUG PARSE]");
    const size_t end = echo == std::string::npos ? 0 : output.find('\n', echo) + 1;
    return NO_RESET_CALL + output.substr(end);
}

// An image item of the report, as tarnwick-sim writes it.
std::string ImageItem(const std::string& kind, uint32_t address, int fileType, const Bytes& data, uint32_t region,
                      int matched = 1)
{
    return "{\"kind\": \"" + kind + "\", \"name\": \"\", \"address\": " + std::to_string(address) +
           ", \"fileType\": " + std::to_string(fileType) + ", \"length\": " + std::to_string(data.size()) +
           ", \"regionSize\": " + std::to_string(region) + ", \"sha256\": \"" + Sha256Hex(data) +
           "\", \"digestMatched\": " + std::to_string(matched) + "}";
}

// A bin head erases the region it announces.
std::string FlashErase(uint32_t address, uint32_t region)
{
    return "{\"what\": \"flash\", \"address\": " + std::to_string(address) + ", \"length\": " +
           std::to_string(region) + "}";
}

// The lists of the board's report.
struct Board {
    std::vector<std::string> images, erases, errors, events;
    std::vector<std::string> resets = {};
    std::vector<uint64_t> bauds = {};
};

// A loaded machine may make the tool send a frame again after a late answer;
// the board answers it again without applying it. Whether the board notices
// that a tool which never reset it has left, before the test stops it, is a
// race as well. These two events are the only liberties taken.
void ExpectBoard(const SimReport& report, const Board& board)
{
    std::vector<std::string> events;
    for (const std::string& e : report.events) {
        if (!Contains(e, "repeated: answer sent again") && !Contains(e, "the tool closed the line before any reset")) {
            events.push_back(e);
        }
    }
    EXPECT_EQ(report.List("images"), board.images) << report.text;
    EXPECT_EQ(report.erases, board.erases) << report.text;
    EXPECT_EQ(report.protocolErrors, board.errors) << report.text;
    EXPECT_EQ(events, board.events) << report.text;
    EXPECT_EQ(report.resets, board.resets) << report.text;
    EXPECT_EQ(report.baudChanges, board.bauds) << report.text;
}

class TypeSixBoard : public E2eTest {
protected:
    const std::string m_package = Path("fw.fwpkg");
    const std::string m_extract = Path("fw_extract/");
};

// --- a package of every image kind ---------------------------------------------------------

// Flash and eMMC images with digest entries, every application image type, and
// entries that are only unpacked (22 and 102 are handed to image burning, which
// skips them; 16, 28 and 29 are not). The loader goes at the ROM's rate, the
// images at the rate asked for; the reset returns the board to the ROM's rate.
TEST_F(TypeSixBoard, EveryImageKindBurnsAtTheRateAskedExactlyAsModelled)
{
    std::vector<PackageImage> package{{"loader.bin", TYPE_LOADER, 0, 0, Pattern(10000, 1)},
                                      {"flash.bin", TYPESIX_FLASH, 0x20000, 0x4000, Pattern(9000, 2)},
                                      {"flash", TYPESIX_DIGEST, 0, 0, Pattern(32, 4)},
                                      {"emmc.img", TYPESIX_EMMC, 0x400, 0x2000, Pattern(5000, 3)},
                                      {"emmc", TYPESIX_DIGEST, 0, 0, Pattern(32, 5)}};
    std::string console = LoaderText("loader.bin", 10000) + ImageText("flash.bin", 9000) + "BurnOtherFile1.\n" +
                          ImageText("emmc.img", 5000) + "BurnOtherFile1.\n";
    Board board{{ImageItem("ssb", 0, -1, package[0].data, 0), ImageItem("flash", 0x20000, -1, package[1].data, 0x4000),
                 ImageItem("emmc", 0x400, -1, package[3].data, 0x2000)},
                {FlashErase(0x20000, 0x4000)},
                {},
                {"ssb started"},
                {"5c73000c000000000c5c65"},
                {921600, ROM_BAUD}};
    // Package type, length and the file type the image is burned with.
    const std::vector<std::tuple<uint32_t, size_t, int>> apps{{18, 4097, 2}, {20, 100, 0}, {11, 8192, 1},
                                                              {26, 1, 4},    {4, 5000, 4}, {104, 700, 104}};
    for (const auto& [type, length, fileType] : apps) {
        package.push_back({"app" + std::to_string(type) + ".bin", type, 0, 0x100000, Pattern(length, 20 + type)});
        console += ImageText(package.back().name, length);
        board.events.push_back("erase core for file type " + std::to_string(fileType));
        board.images.push_back(ImageItem("app", 0, fileType, package.back().data, 0));
    }
    for (uint32_t type : {22u, 16u, 28u, 29u}) {
        package.push_back({"type" + std::to_string(type) + ".bin", type, 0x1000, 0x1000, Pattern(600 + type, type)});
    }
    console += "BurnOtherFile1.\n\nBurned successfully.\n";  // type 22
    board.events.push_back("reset: the ROM talks again");
    board.events.push_back("simulator ended: the tool closed the line after the reset");
    // The burn check (-c 1) reads nothing back: the board checks its digests, and the line is as modelled.
    // A stale extract directory, as a run before this one left it, is written over.
    ASSERT_TRUE(WriteText(m_extract + "loader.bin", std::string(20000, 'x')));
    const BoardRun out = Reported("typesix", package, {"-b", "921600", "-c", "1"});
    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(AfterWaiting(out.run.output), console);
    ExpectBoard(out.report, board);
    EXPECT_TRUE(FlashHolds(out.flash, 0x20000, package[1].data));
    ASSERT_EQ(Images().size(), board.images.size()) << m_report.dump(1);
    for (const nlohmann::json& image : Images()) {
        EXPECT_EQ(image.value("check", ""), "board digest") << image.dump();
    }
    // Every entry is unpacked, with its digest file.
    for (const PackageImage& e : package) {
        EXPECT_EQ(ReadFile(m_extract + e.name), e.data) << e.name;
        const std::filesystem::path name(e.name);
        const std::string digest = name.stem().string() + "_sha256" + name.extension().string();
        EXPECT_EQ(Hex(ReadFile(m_extract + digest)), Sha256Hex(e.data)) << digest;
    }
}

// --- what the board runs decides the loaders' way; names select images; runs that fail -------

// A second loader finds the first one's ssb running: it is erased first and
// the board restarts into the ROM. With no loader an ssb running at power-on
// takes the images and is what the reset starts. Names select whole names,
// ignoring case, and only those are unpacked. Broken packages are refused
// before anything is unpacked or sent; an image that fails ends the run
// without a reset (the test stops the board) and leaves every entry unpacked.
TEST_F(TypeSixBoard, LoaderWaysNameSelectionAndFailedRunsAreExactlyAsModelled)
{
    struct Case {
        Bytes package;
        std::string console;  // from the call to reset the board (or the option pass) to its last result line
        std::vector<std::string> toolOptions = {};
        std::vector<std::string> simOptions = {};
        Board board = {{}, {}, {}, {STOPPED}};
        std::vector<PackageImage> unpacked = {};  // none: no extract directory at all
        std::vector<std::string> packed = {};  // entries left packed
        int exitCode = 5;
    };
    std::vector<Case> cases;
    const PackageImage loader{"loader.bin", TYPE_LOADER, 0, 0, Pattern(500, 1)};
    // Every spelling of an unsafe name: tests/pkg/package_tool_test.cpp (one check serves both).
    cases.push_back({BuildPackage({loader, {"../evil.bin", 20, 0, 0, Pattern(50, 2)}}),
                     "error: Image name \"../evil.bin\" in fwpkg file " + m_package + " is not a plain file name\n"});
    Bytes pastEnd = BuildPackage({loader});
    PutLe(pastEnd, FieldAt(false, 0, FIELD_LENGTH), 501, 4);
    SealPackage(pastEnd);
    cases.push_back({pastEnd, "error: Image loader.bin (offset 64, length 501) reaches past the end of fwpkg file " +
                                  m_package + " (564 bytes)\n"});
    Bytes badCrc = BuildPackage({loader});
    badCrc[OFFSET_CRC] ^= 0x01;
    const unsigned stored = badCrc[OFFSET_CRC] | (badCrc[OFFSET_CRC + 1] << 8);
    char crcs[64];
    std::snprintf(crcs, sizeof crcs, "(calculated 0x%04x, stored 0x%04x)", stored ^ 0x01u, stored);
    cases.push_back({badCrc, "error: fwpkg header CRC mismatch " + std::string(crcs) + ": " + m_package + "\n"});
    Bytes cut = BuildPackage({{"loader.bin", TYPE_LOADER, 0, 0, {}}, {"app.bin", 20, 0, 0, {}}});
    cut.resize(NORMAL_HEADER + NORMAL_ENTRY + 10);
    cases.push_back({cut, "error: fwpkg entry table of 2 entries reaches past the end of the file: " +
                              m_package + "\n"});
    cases.push_back({BuildPackage({{"a.bin", 20, 0, 0, Pattern(500, 5)}, {"a.bin", 22, 0, 0, Pattern(500, 6)}}),
                     "error: Two different images of " + m_package + " are named a.bin.\n"});
    cases.push_back({BuildPackage({loader}),
                     "error: No image of " + m_package + " matches the -onlyburn: names.\n", {"-onlyburn:loader"}});

    // A package the job refuses ends the run before the operator is asked for a reset.
    for (Case& c : cases) {
        c.console = NO_RESET_CALL + c.console;
    }

    const Bytes ssb = Pattern(5000, 80);
    const Bytes image = Pattern(5000, 81);
    const std::vector<PackageImage> both{{"loader.bin", TYPE_LOADER, 0, 0, ssb},
                                         {"flash.bin", TYPESIX_FLASH, 0x1000, 0x2000, image}};
    // A board in its ROM takes the init but refuses the speed command, twice.
    const std::string speed =
        "DownloadFile1.\nDownloadFile2.\nreturn code error:0\nset speed failed.\nDownloadFile3.\nBurnOtherFile3.\n";
    const std::string refusedSpeed = "command 0x0D refused: not a boot ROM command";
    cases.push_back({BuildPackage({both[1]}),
                     "BurnOtherFile1.\nBurnOtherFile2.\n" + speed + speed + "error: Burn flash.bin failed!\n", {}, {},
                     {{}, {}, {refusedSpeed, refusedSpeed}, {STOPPED}}, {both[1]}});
    cases.push_back({BuildPackage(both),
                     Marks(ssb.size()) + "Ssb running failed\xEF\xBC\x8C" "codeloader not received!\n"
                     "error: Burn loader loader.bin failed!\n", {}, {"--fall-back-to-rom"},
                     {{ImageItem("ssb", 0, -1, ssb, 0)}, {}, {}, {"fault: the ssb did not start, the ROM talks again",
                     STOPPED}}, both});
    // A digest entry named like the job's digest file replaces the computed
    // digest: the board checks the package's own claim, twice.
    const std::vector<PackageImage> claim{both[0], both[1], {"flash_sha256.bin", TYPESIX_DIGEST, 0, 0, Bytes(32, 0)}};
    const std::string digest = "DownloadFile1.\nDownloadFile2.\n" + Marks(image.size()) +
                               "return code error:0\nsend sha data failed.\nDownloadFile3.\nBurnOtherFile3.\n";
    const std::string flash = ImageItem("flash", 0x1000, -1, image, 0x2000, 0);
    cases.push_back({BuildPackage(claim),
                     LoaderText("loader.bin", ssb.size()) + "BurnOtherFile1.\nBurnOtherFile2.\n" + digest + digest +
                         "error: Burn flash.bin failed!\n", {}, {},
                     {{ImageItem("ssb", 0, -1, ssb, 0), flash, flash},
                      {FlashErase(0x1000, 0x2000), FlashErase(0x1000, 0x2000)}, {}, {"ssb started", STOPPED}},
                     claim});

    // Burns that succeed: the images burned, in this order, are the ones unpacked.
    const auto burns = [&cases](const std::vector<PackageImage>& package, const std::vector<size_t>& order,
                                const std::vector<std::string>& tool, const std::vector<std::string>& sim,
                                const Board& board, const std::vector<std::string>& packed = {}) {
        Case run{BuildPackage(package), "", tool, sim, board, {}, packed, 0};
        for (size_t i : order) {
            const PackageImage& e = package[i];
            run.console += e.type == TYPE_LOADER ? LoaderText(e.name, e.data.size()) : ImageText(e.name, e.data.size());
            run.unpacked.push_back(e);
        }
        cases.push_back(run);
    };
    const std::string ssbErase = "{\"what\": \"ssb\", \"address\": 0, \"length\": 0}";
    const std::string restart = "exit: the board restarts into the ROM";
    const std::string toRom = "reset: the ROM talks again";
    const std::string ended = "simulator ended: the tool closed the line after the reset";
    const std::string reset = "5c73000c000000000c5c65";
    // 89 ssb packets put 0x5C in the exit frame's sequence byte, 83 in its check byte.
    const std::vector<PackageImage> twoLoaders{{"ssb83.bin", TYPE_LOADER, 0, 0, Bytes(83 * 4096, 0x5C)},
                                               {"app.bin", 20, 0, 0x10000, Bytes(3 * 4096, 0x5C)},
                                               {"ssb89.bin", TYPE_LOADER, 0, 0, Bytes(89 * 4096, 0x5C)},
                                               {"flash.bin", TYPESIX_FLASH, 0x5C5C, 0x5C5C, Bytes(4097, 0x5C)}};
    const PackageImage alone{"flash.bin", TYPESIX_FLASH, 0x1000, 0x2000, Pattern(5000, 101)};
    const std::vector<PackageImage> named{{"Loader.bin", TYPE_LOADER, 0, 0, Pattern(4000, 50)},
                                          {"flash.bin", TYPESIX_FLASH, 0x1000, 0x1000, Pattern(100, 52)},
                                          {"APP.bin", 20, 0, 0x10000, Pattern(3000, 51)},
                                          {"app.bin.old", 20, 0, 0x10000, Pattern(100, 53)}};
    const auto item = [](const PackageImage& e, const std::string& kind) {
        return kind == "ssb" ? ImageItem("ssb", 0, -1, e.data, 0)
               : kind == "app" ? ImageItem("app", 0, 0, e.data, 0)
                               : ImageItem("flash", e.burnAddress, -1, e.data, e.burnSize);
    };
    burns(twoLoaders, {0, 2, 1, 3}, {}, {},
          {{item(twoLoaders[0], "ssb"), item(twoLoaders[2], "ssb"), item(twoLoaders[1], "app"),
            item(twoLoaders[3], "flash")},
           {ssbErase, FlashErase(0x5C5C, 0x5C5C)}, {},
           {"ssb started", restart, "ssb started", "erase core for file type 0", toRom, ended}, {reset}});
    burns({alone}, {0}, {}, {"--ssb-running"},
          {{item(alone, "flash")}, {FlashErase(0x1000, 0x2000)}, {},
           {"power-on: an ssb is running", "reset: the stored ssb starts", ended}, {reset}});
    burns(named, {0, 2}, {"-onlyburn:LOADER.BIN", "-onlyburn:app.bin"}, {},
          {{item(named[0], "ssb"), item(named[2], "app")}, {}, {},
           {"ssb started", "erase core for file type 0", toRom, ended}, {reset}}, {"flash.bin", "app.bin.old"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.console);
        std::filesystem::remove_all(m_extract);
        const BoardRun out = OnBoard("--burn", "typesix", Given("fw.fwpkg", c.package), c.toolOptions, c.simOptions);
        EXPECT_EQ(out.run.exitCode, c.exitCode);
        EXPECT_EQ(AfterWaiting(out.run.output), c.console + (c.exitCode == 0 ? BURNED : "\nBurned failed.\n"));
        ExpectBoard(out.report, c.board);
        EXPECT_EQ(std::filesystem::exists(m_extract), !c.unpacked.empty());
        for (const PackageImage& e : c.unpacked) {
            EXPECT_EQ(ReadFile(m_extract + e.name), e.data) << e.name;
        }
        for (const std::string& name : c.packed) {
            EXPECT_FALSE(std::filesystem::exists(m_extract + name)) << name;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(Path("evil.bin")));
}

}  // namespace
