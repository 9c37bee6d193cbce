// TypeSix boards end to end: the built tarnwickcmd burns fwpkg packages into
// tarnwick-sim's TypeSix board. Every run is checked three ways: exit code,
// the tool's whole console output, and the board's report, byte for byte
// against a model of what the board must have seen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

constexpr size_t PACKET = 4096;
constexpr size_t SIM_FLASH_SIZE = 8u * 1024 * 1024;
constexpr uint32_t ROM_BAUD = 115200;
constexpr const char* RESET_FRAME_HEX = "5c73000c000000000c5c65";
constexpr const char* LEFT_BEFORE_RESET = "the tool closed the line before any reset; waiting for it to come back";

std::string Marks(size_t length)
{
    return std::string((length + PACKET - 1) / PACKET, '#');
}

// What the board must report, built the way tarnwick-sim writes it.
class BoardModel {
public:
    void Ssb(const Bytes& image) { Image("ssb", 0, -1, image, 0, 1); }
    // A bin head erases the region it announces.
    void FlashRegionErased(uint32_t address, uint32_t region)
    {
        m_erases.push_back("{\"what\": \"flash\", \"address\": " + std::to_string(address) +
                           ", \"length\": " + std::to_string(region) + "}");
        std::fill(m_flash.begin() + address, m_flash.begin() + address + region, 0xFF);
    }
    void FlashImage(uint32_t address, const Bytes& data, uint32_t region, int matched = 1)
    {
        FlashRegionErased(address, region);
        std::copy(data.begin(), data.end(), m_flash.begin() + address);
        Image("flash", address, -1, data, region, matched);
    }
    void EmmcImage(uint32_t address, const Bytes& data, uint32_t size) { Image("emmc", address, -1, data, size, 1); }
    void App(int fileType, const Bytes& data)
    {
        Event("erase core for file type " + std::to_string(fileType));
        Image("app", 0, fileType, data, 0, 1);
    }
    void SsbErased() { m_erases.push_back("{\"what\": \"ssb\", \"address\": 0, \"length\": 0}"); }
    void Event(const std::string& text) { m_events.push_back("\"" + text + "\""); }
    void Baud(uint32_t baud) { m_bauds.push_back(std::to_string(baud)); }
    void Error(const std::string& text) { m_errors.push_back("\"" + text + "\""); }
    // The final reset frame and the end of the run that follows it; the
    // board's UART returns to the ROM's rate if it ran faster.
    void ResetAndEnd(bool ssbStored = false, bool wasFast = false)
    {
        m_resets.push_back(std::string("\"") + RESET_FRAME_HEX + "\"");
        if (wasFast) {
            Baud(ROM_BAUD);
        }
        Event(ssbStored ? "reset: the stored ssb starts" : "reset: the ROM talks again");
        Event("simulator ended: the tool closed the line after the reset");
    }
    // A run that ended without a reset: the test stopped the board.
    void StoppedWithoutReset() { Event("simulator ended: stopped by signal 15"); }

    std::string Json() const
    {
        return "{\n  \"family\": \"typesix\",\n  \"images\": " + List(m_images) + ",\n  \"erases\": " +
               List(m_erases) + ",\n  \"resets\": " + List(m_resets) + ",\n  \"baudChanges\": " + List(m_bauds) +
               ",\n  \"protocolErrors\": " + List(m_errors) + ",\n  \"events\": " + List(m_events) +
               ",\n  \"flash\": {\"size\": " + std::to_string(m_flash.size()) + ", \"sha256\": \"" +
               Sha256Hex(m_flash) + "\"}\n}\n";
    }

private:
    void Image(const std::string& kind, uint32_t address, int fileType, const Bytes& data, uint32_t region,
               int matched)
    {
        m_images.push_back("{\"kind\": \"" + kind + "\", \"name\": \"\", \"address\": " + std::to_string(address) +
                           ", \"fileType\": " + std::to_string(fileType) + ", \"length\": " +
                           std::to_string(data.size()) + ", \"regionSize\": " + std::to_string(region) +
                           ", \"sha256\": \"" + Sha256Hex(data) + "\", \"digestMatched\": " +
                           std::to_string(matched) + "}");
    }
    static std::string List(const std::vector<std::string>& items)
    {
        std::string out = "[";
        for (size_t i = 0; i < items.size(); ++i) {
            out += "\n    " + items[i] + (i + 1 < items.size() ? "," : "\n  ");
        }
        return out + "]";
    }

    Bytes m_flash = Bytes(SIM_FLASH_SIZE, 0xFF);
    std::vector<std::string> m_images, m_erases, m_resets, m_bauds, m_errors, m_events;
};

// A loaded machine may make the tool send a frame again after a late answer;
// the board answers it again without applying it. Whether the board notices
// that a tool which never reset it has left, before the test stops it, is a
// race as well. These two lines are the only liberties taken.
std::string Normalised(const std::string& report)
{
    std::string out;
    size_t start = 0;
    while (start < report.size()) {
        size_t end = report.find('\n', start);
        end = end == std::string::npos ? report.size() : end + 1;
        const std::string line = report.substr(start, end - start);
        start = end;
        if (!Contains(line, "repeated: answer sent again") && !Contains(line, LEFT_BEFORE_RESET)) {
            out += line;
        }
    }
    // Joined lists must stay well-formed after a dropped last item.
    for (size_t at; (at = out.find(",\n  ]")) != std::string::npos;) {
        out.erase(at, 1);
    }
    return out;
}

// The console lines of one run, in order.
class ConsoleModel {
public:
    explicit ConsoleModel(const std::vector<std::string>& arguments)
    {
        m_text = "\n[DEBUG PARSE] argc=" + std::to_string(arguments.size() + 1) + ", EXTRA_START=2\n";
        for (size_t i = 1; i < arguments.size(); ++i) {
            m_text += "[DEBUG PARSE] argv[" + std::to_string(i + 1) + "]=" + arguments[i] + "\n";
        }
        m_text += "Please reset the device, the waiting time is about 30 seconds.\n";
    }
    ConsoleModel& Loader(const std::string& name, size_t length)
    {
        return Text(Marks(length) + "load ssb success.\nBurn " + name + " successfully.\n");
    }
    // One transfer attempt that got through.
    ConsoleModel& Attempt(size_t length)
    {
        return Text("DownloadFile1.\nDownloadFile2.\n" + Marks(length) + "DownloadFile3.\nBurnOtherFile3.\n");
    }
    ConsoleModel& ImageStart() { return Text("BurnOtherFile1.\nBurnOtherFile2.\n"); }
    ConsoleModel& Image(const std::string& name, size_t length)
    {
        return ImageStart().Attempt(length).Text("Burn " + name + " successfully.\n");
    }
    // An entry handed to image burning that it does not burn.
    ConsoleModel& Skipped() { return Text("BurnOtherFile1.\n"); }
    ConsoleModel& Text(const std::string& text)
    {
        m_text += text;
        return *this;
    }
    std::string Burned() const { return m_text + "\nBurned successfully.\n"; }
    std::string Failed() const { return m_text + "\nBurned failed.\n"; }

private:
    std::string m_text;
};

// File type an application image is burned with; -1: not an application image.
int AppFileType(uint32_t type)
{
    switch (type) {
    case 18: return 2;
    case 20: return 0;
    case 11: return 1;
    case 26:
    case 4: return 4;
    case 104: return 104;
    default: return -1;
    }
}

// A complete burn of `burned` (in package order): loaders first, each after
// erasing an ssb the board runs, then every image; the reset ends it.
std::pair<std::string, std::string> ExpectedBurn(const std::vector<PackageEntry>& burned,
                                                 const std::vector<std::string>& arguments, bool ssbRunning,
                                                 uint32_t baud)
{
    ConsoleModel console(arguments);
    BoardModel board;
    bool running = ssbRunning;
    bool loaded = false;
    if (ssbRunning) {
        board.Event("power-on: an ssb is running");
    }
    for (const PackageEntry& e : burned) {
        if (e.type != TYPE_LOADER) {
            continue;
        }
        if (running) {
            board.SsbErased();
            board.Event("exit: the board restarts into the ROM");
        }
        console.Loader(e.name, e.data.size());
        board.Ssb(e.data);
        board.Event("ssb started");
        running = loaded = true;
    }
    if (baud != ROM_BAUD) {
        board.Baud(baud);  // the first image switches the board's UART
    }
    for (const PackageEntry& e : burned) {
        if (e.type == TYPESIX_FLASH) {
            console.Image(e.name, e.data.size());
            board.FlashImage(e.burnAddress, e.data, e.burnSize);
        } else if (e.type == TYPESIX_EMMC) {
            console.Image(e.name, e.data.size());
            board.EmmcImage(e.burnAddress, e.data, e.burnSize);
        } else if (AppFileType(e.type) >= 0) {
            console.Image(e.name, e.data.size());
            board.App(AppFileType(e.type), e.data);
        } else if (e.type == 22 || e.type == TYPESIX_DIGEST) {
            console.Skipped();  // handed to image burning, which skips it; 16, 28 and 29 are not
        }
    }
    board.ResetAndEnd(ssbRunning && !loaded, baud != ROM_BAUD);
    return {console.Burned(), board.Json()};
}

class TypeSixBoard : public E2eTest {
protected:
    BoardRun Burn(const Bytes& package, const std::vector<std::string>& toolExtra = {},
                  const std::vector<std::string>& simExtra = {})
    {
        BoardRun out = OnBoard("--burn", "typesix", Given("fw.fwpkg", package), toolExtra, simExtra);
        out.report.text = Normalised(out.report.text);
        return out;
    }

    // An unpacked image lies in the extract directory with its digest file.
    void ExpectUnpacked(const std::string& name, const Bytes& data)
    {
        EXPECT_EQ(ReadFile(m_extract + name), data) << name;
        const size_t dot = name.rfind('.');
        const std::string digest =
            dot == std::string::npos ? name + "_sha256" : name.substr(0, dot) + "_sha256" + name.substr(dot);
        EXPECT_EQ(Hex(ReadFile(m_extract + digest)), Sha256Hex(data)) << digest;
    }

    const std::string m_package = Path("fw.fwpkg");
    const std::string m_extract = Path("fw_extract/");
};

// --- packages that burn: the model says what the console and the board show ---------------

struct BurnCase {
    const char* name;
    std::vector<PackageEntry> package;
    std::vector<std::string> toolOptions;
    std::vector<std::string> simOptions;
    std::vector<size_t> selected;  // indices into package; empty: all
    uint32_t baud;
};

std::vector<BurnCase> BurnCases()
{
    std::vector<BurnCase> cases;
    // Flash and eMMC images with digest entries, every application image type,
    // and entries that are only unpacked (22 and 102 are handed to image
    // burning, which skips them; 16, 28 and 29 are not).
    std::vector<PackageEntry> kinds{{"loader.bin", TYPE_LOADER, 0, 0, Pattern(10000, 1)},
                                    {"flash.bin", TYPESIX_FLASH, 0x20000, 0x4000, Pattern(9000, 2)},
                                    {"flash", TYPESIX_DIGEST, 0, 0, Pattern(32, 4)},
                                    {"emmc.img", TYPESIX_EMMC, 0x400, 0x2000, Pattern(5000, 3)},
                                    {"emmc", TYPESIX_DIGEST, 0, 0, Pattern(32, 5)}};
    const std::vector<std::pair<uint32_t, size_t>> appTypes{{18, 4097}, {20, 100}, {11, 8192},
                                                            {26, 1},    {4, 5000}, {104, 700}};
    for (const auto& [type, length] : appTypes) {
        kinds.push_back({"app" + std::to_string(type) + ".bin", type, 0, 0x100000, Pattern(length, 20 + type)});
    }
    for (uint32_t type : {22u, 16u, 28u, 29u}) {
        kinds.push_back({"type" + std::to_string(type) + ".bin", type, 0x1000, 0x1000, Pattern(600 + type, type)});
    }
    cases.push_back({"EveryImageKindInOnePackage", kinds, {}, {}, {}, ROM_BAUD});
    // The second handshake finds the first ssb running: it is erased first.
    // 89 ssb packets put 0x5C in the exit frame's sequence byte, 83 in its check byte.
    cases.push_back({"TwoLoadersBothLoadedBeforeAnyImageAndEscapeBytesEverywhere",
                     {{"ssb83.bin", TYPE_LOADER, 0, 0, Bytes(83 * PACKET, 0x5C)},
                      {"app.bin", 20, 0, 0x10000, Bytes(3 * PACKET, 0x5C)},
                      {"ssb89.bin", TYPE_LOADER, 0, 0, Bytes(89 * PACKET, 0x5C)},
                      {"flash.bin", TYPESIX_FLASH, 0x5C5C, 0x5C5C, Bytes(PACKET + 1, 0x5C)}},
                     {}, {}, {}, ROM_BAUD});
    // The ssb load stays at the ROM's rate; the images go at the rate asked for.
    cases.push_back({"OnlyBurnNamesSelectWholeNamesIgnoringCaseAtTheRateAsked",
                     {{"Loader.bin", TYPE_LOADER, 0, 0, Pattern(4000, 50)},
                      {"flash.bin", TYPESIX_FLASH, 0x1000, 0x1000, Pattern(100, 52)},
                      {"APP.bin", 20, 0, 0x10000, Pattern(3000, 51)},
                      {"app.bin.old", 20, 0, 0x10000, Pattern(100, 53)}},
                     {"-onlyburn:LOADER.BIN", "-onlyburn:app.bin", "-b", "921600"}, {}, {0, 2}, 921600});
    cases.push_back({"WithoutLoaderIntoTheSsbTheBoardRuns",
                     {{"flash.bin", TYPESIX_FLASH, 0x8000, 0x1000, Pattern(4096, 60)}},
                     {}, {"--ssb-running"}, {}, ROM_BAUD});
    cases.push_back({"AnSsbRunningAtHandshakeIsErasedAndTheRomLoadsTheLoader",
                     {{"loader.bin", TYPE_LOADER, 0, 0, Pattern(5000, 100)},
                      {"flash.bin", TYPESIX_FLASH, 0x1000, 0x2000, Pattern(5000, 101)}},
                     {}, {"--ssb-running"}, {}, ROM_BAUD});
    return cases;
}

class TypeSixBurn : public TypeSixBoard, public ::testing::WithParamInterface<BurnCase> {};

TEST_P(TypeSixBurn, ConsoleBoardAndExtractDirectoryAreExactlyAsModelled)
{
    const BurnCase& c = GetParam();
    std::vector<PackageEntry> burned;
    for (size_t i = 0; i < c.package.size(); ++i) {
        if (c.selected.empty() || std::find(c.selected.begin(), c.selected.end(), i) != c.selected.end()) {
            burned.push_back(c.package[i]);
        }
    }
    // A stale extract directory, as a run before this one left it, is written over.
    ASSERT_TRUE(WriteText(m_extract + burned[0].name, std::string(20000, 'x')));
    const bool ssbRunning = std::find(c.simOptions.begin(), c.simOptions.end(), "--ssb-running") != c.simOptions.end();
    const BoardRun out = Burn(BuildPackage(c.package), c.toolOptions, c.simOptions);
    const auto [console, board] = ExpectedBurn(burned, out.arguments, ssbRunning, c.baud);

    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(out.run.output, console);
    EXPECT_EQ(out.report.text, board);
    for (const PackageEntry& e : c.package) {
        const bool chosen =
            std::any_of(burned.begin(), burned.end(), [&](const PackageEntry& b) { return b.name == e.name; });
        if (chosen) {
            ExpectUnpacked(e.name, e.data);
        } else {
            EXPECT_FALSE(std::filesystem::exists(m_extract + e.name)) << e.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, TypeSixBurn, ::testing::ValuesIn(BurnCases()),
                         [](const ::testing::TestParamInfo<BurnCase>& p) { return std::string(p.param.name); });

// --- images that fail ------------------------------------------------------------------

const Bytes LOADER = Pattern(5000, 80);
const Bytes FLASH = Pattern(5000, 81);
const std::vector<PackageEntry> LOADER_AND_FLASH{{"loader.bin", TYPE_LOADER, 0, 0, LOADER},
                                                 {"flash.bin", TYPESIX_FLASH, 0x1000, 0x2000, FLASH}};

struct FailCase {
    const char* name;
    std::vector<PackageEntry> package;
    std::vector<std::string> simOptions;
    int exitCode;
    // Adds what the console and the board show after the command line's echo.
    void (*expect)(ConsoleModel& console, BoardModel& board);
};

const std::vector<FailCase> FAIL_CASES = {
    // Frames 1 to 6 load the ssb (init, version, two packets, digest, exit);
    // 7 init, 8 speed, 9 bin head, 10 the first data frame, 11 the second.
    // No reset between the attempts: the second one reaches the same ssb.
    {"AnImageWhoseFirstTransferFailsMidwayIsSentWholeAgainToTheRunningSsb", LOADER_AND_FLASH, {"--nak-frame", "11"}, 0,
     [](ConsoleModel& console, BoardModel& board) {
         console.Loader("loader.bin", LOADER.size())
             .ImageStart()
             .Text("DownloadFile1.\nDownloadFile2.\n#return code error:0\nsend frame failed.\nDownloadFile3.\n"
                   "BurnOtherFile3.\n")
             .Attempt(FLASH.size())
             .Text("Burn flash.bin successfully.\n");
         board.Ssb(LOADER);
         board.Event("ssb started");
         board.Event("fault: negative answer to frame 11");
         board.Event("flash image abandoned after 4096 bytes: init");
         board.FlashRegionErased(0x1000, 0x2000);
         board.FlashImage(0x1000, FLASH, 0x2000);
         board.ResetAndEnd();
     }},
    // A board in its ROM takes the init but refuses the speed command.
    {"AnImageThatFailsTwiceEndsTheRunWithoutReset", {LOADER_AND_FLASH[1]}, {}, 5,
     [](ConsoleModel& console, BoardModel& board) {
         const std::string refused = "DownloadFile1.\nDownloadFile2.\nreturn code error:0\nset speed failed.\n"
                                     "DownloadFile3.\nBurnOtherFile3.\n";
         console.ImageStart().Text(refused + refused + "error: Burn flash.bin failed!\n");
         board.Error("command 0x0D refused: not a boot ROM command");
         board.Error("command 0x0D refused: not a boot ROM command");
         board.StoppedWithoutReset();
     }},
    {"ABoardThatFallsBackToTheRomFailsTheLoaderAndGetsNoImage", LOADER_AND_FLASH, {"--fall-back-to-rom"}, 5,
     [](ConsoleModel& console, BoardModel& board) {
         console.Text(Marks(LOADER.size()) + "Ssb running failed\xEF\xBC\x8C" "codeloader not received!\n"
                      "error: Burn loader loader.bin failed!\n");
         board.Ssb(LOADER);
         board.Event("fault: the ssb did not start, the ROM talks again");
         board.StoppedWithoutReset();
     }},
    // A digest entry named like the job's digest file replaces the computed
    // digest: the board checks the package's own claim.
    {"ADigestThatDoesNotMatchIsReportedByTheBoardAndFailsTheImage",
     {LOADER_AND_FLASH[0], LOADER_AND_FLASH[1], {"flash_sha256.bin", TYPESIX_DIGEST, 0, 0, Bytes(32, 0)}}, {}, 5,
     [](ConsoleModel& console, BoardModel& board) {
         const std::string rejected = "DownloadFile1.\nDownloadFile2.\n" + Marks(FLASH.size()) +
                                      "return code error:0\nsend sha data failed.\nDownloadFile3.\nBurnOtherFile3.\n";
         console.Loader("loader.bin", LOADER.size())
             .ImageStart()
             .Text(rejected + rejected + "error: Burn flash.bin failed!\n");
         board.Ssb(LOADER);
         board.Event("ssb started");
         board.FlashImage(0x1000, FLASH, 0x2000, 0);
         board.FlashImage(0x1000, FLASH, 0x2000, 0);
         board.StoppedWithoutReset();
     }},
};

class TypeSixFailure : public TypeSixBoard, public ::testing::WithParamInterface<FailCase> {};

TEST_P(TypeSixFailure, ConsoleAndBoardAreExactlyAsModelledAndEveryEntryIsUnpacked)
{
    const FailCase& c = GetParam();
    const BoardRun out = Burn(BuildPackage(c.package), {}, c.simOptions);
    ConsoleModel console(out.arguments);
    BoardModel board;
    c.expect(console, board);
    EXPECT_EQ(out.run.exitCode, c.exitCode);
    EXPECT_EQ(out.run.output, c.exitCode == 0 ? console.Burned() : console.Failed());
    EXPECT_EQ(out.report.text, board.Json());
    for (const PackageEntry& e : c.package) {
        EXPECT_EQ(ReadFile(m_extract + e.name), e.data) << e.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, TypeSixFailure, ::testing::ValuesIn(FAIL_CASES),
                         [](const ::testing::TestParamInfo<FailCase>& p) { return std::string(p.param.name); });

// --- packages refused before anything reaches the board -------------------------------

TEST_F(TypeSixBoard, BrokenPackagesAreRefusedBeforeAnythingIsUnpackedOrSent)
{
    struct Refused {
        Bytes package;
        std::string message;
        std::vector<std::string> options = {};
    };
    std::vector<Refused> cases;
    const PackageEntry loader{"loader.bin", TYPE_LOADER, 0, 0, Pattern(500, 1)};
    for (const std::string name : {"../evil.bin", "sub/evil.bin", "sub\\evil.bin", "..", ""}) {
        cases.push_back({BuildPackage({loader, {name, 20, 0, 0, Pattern(50, 2)}}), "error: Image name \"" + name +
                         "\" in fwpkg file " + m_package + " is not a plain file name\n"});
    }
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

    for (const Refused& c : cases) {
        SCOPED_TRACE(c.message);
        const BoardRun out = Burn(c.package, c.options);
        EXPECT_EQ(out.run.exitCode, 5);
        EXPECT_EQ(out.run.output, ConsoleModel(out.arguments).Text(c.message).Failed());
        BoardModel board;
        board.StoppedWithoutReset();
        EXPECT_EQ(out.report.text, board.Json());
        EXPECT_FALSE(std::filesystem::exists(m_extract));
    }
    EXPECT_FALSE(std::filesystem::exists(Path("evil.bin")));
}

}  // namespace
