// TypeSix boards end to end: the built tarnwickcmd burns fwpkg packages into
// tarnwick-sim's TypeSix board. Every run is checked three ways: exit code,
// the tool's whole console output, and the board's report, byte for byte
// against a model of what the board must have seen.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

constexpr int RUN_LIMIT_MS = 120000;
constexpr size_t PACKET = 4096;
constexpr size_t SIM_FLASH_SIZE = 8u * 1024 * 1024;
constexpr const char* RESET_FRAME_HEX = "5c73000c000000000c5c65";
constexpr const char* NATURAL_END = "simulator ended: the tool closed the line after the reset";
constexpr const char* SIGNAL_END = "simulator ended: stopped by signal 15";
constexpr const char* LEFT_BEFORE_RESET = "the tool closed the line before any reset; waiting for it to come back";

// Image types of a package.
constexpr uint32_t LOADER = 0;
constexpr uint32_t FLASH = 100;
constexpr uint32_t EMMC = 101;
constexpr uint32_t DIGEST = 102;

size_t Packets(size_t length)
{
    return (length + PACKET - 1) / PACKET;
}

std::string Marks(size_t length)
{
    return std::string(Packets(length), '#');
}

// What the board must report, built the way tarnwick-sim writes it.
class BoardModel {
public:
    BoardModel() : m_flash(SIM_FLASH_SIZE, 0xFF) {}

    void Ssb(const Bytes& image, int matched = 1) { Image("ssb", 0, -1, image, 0, matched); }
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
    void EmmcImage(uint32_t address, const Bytes& data, uint32_t region)
    {
        Image("emmc", address, -1, data, region, 1);
    }
    void App(int fileType, const Bytes& data)
    {
        Event("erase core for file type " + std::to_string(fileType));
        Image("app", 0, fileType, data, 0, 1);
    }
    void SsbErased() { m_erases.push_back("{\"what\": \"ssb\", \"address\": 0, \"length\": 0}"); }
    void Event(const std::string& text) { m_events.push_back("\"" + text + "\""); }
    void Baud(uint32_t baud) { m_bauds.push_back(std::to_string(baud)); }
    void Error(const std::string& text) { m_errors.push_back("\"" + text + "\""); }
    // The final reset frame and the end of the run that follows it. The
    // board's UART returns to 115200 if it ran faster.
    void ResetAndEnd(bool ssbStored = false, bool wasFast = false)
    {
        m_resets.push_back(std::string("\"") + RESET_FRAME_HEX + "\"");
        if (wasFast) {
            Baud(115200);
        }
        Event(ssbStored ? "reset: the stored ssb starts" : "reset: the ROM talks again");
        Event(NATURAL_END);
    }
    // A run that ended without a reset: the test stopped the board.
    void StoppedWithoutReset() { Event(SIGNAL_END); }

    std::string Json() const
    {
        std::string out = "{\n  \"family\": \"typesix\",\n";
        out += "  \"images\": " + List(m_images) + ",\n";
        out += "  \"erases\": " + List(m_erases) + ",\n";
        out += "  \"resets\": " + List(m_resets) + ",\n";
        out += "  \"baudChanges\": " + List(m_bauds) + ",\n";
        out += "  \"protocolErrors\": " + List(m_errors) + ",\n";
        out += "  \"events\": " + List(m_events) + ",\n";
        out += "  \"flash\": {\"size\": " + std::to_string(m_flash.size()) + ", \"sha256\": \"" +
               Sha256Hex(m_flash) + "\"}\n";
        return out + "}\n";
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
        if (items.empty()) {
            return "[]";
        }
        std::string out = "[\n";
        for (size_t i = 0; i < items.size(); ++i) {
            out += "    " + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
        }
        return out + "  ]";
    }

    Bytes m_flash;
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
        std::string line = report.substr(start, end - start);
        start = end;
        if (Contains(line, "repeated: answer sent again") || Contains(line, LEFT_BEFORE_RESET)) {
            continue;
        }
        out += line;
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
        m_text += Marks(length) + "load ssb success.\nBurn " + name + " successfully.\n";
        return *this;
    }
    // One transfer attempt that got through.
    ConsoleModel& Attempt(size_t length)
    {
        m_text += "DownloadFile1.\nDownloadFile2.\n" + Marks(length) + "DownloadFile3.\nBurnOtherFile3.\n";
        return *this;
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
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

struct Outcome {
    RunResult run;
    SimReport report;
    std::vector<std::string> arguments;
};

class TypeSixEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Ready());
        m_work = m_install.Path("work/");
        std::filesystem::create_directories(m_work);
        m_package = m_work + "fw.fwpkg";
        m_extract = m_work + "fw_extract/";
    }

    Outcome Burn(const Bytes& package, const std::vector<std::string>& toolExtra = {},
                 const std::vector<std::string>& simExtra = {})
    {
        Outcome outcome;
        EXPECT_TRUE(WriteFile(m_package, package));
        Simulator sim(m_work, "typesix", simExtra);
        EXPECT_TRUE(sim.Started());
        outcome.arguments = {"--burn", "-n", "typesix", "-f", m_package, "-m", "serial", sim.Port()};
        outcome.arguments.insert(outcome.arguments.end(), toolExtra.begin(), toolExtra.end());
        outcome.run = m_install.Run(outcome.arguments, RUN_LIMIT_MS);
        outcome.report = sim.Stop();
        outcome.report.text = Normalised(outcome.report.text);
        return outcome;
    }

    // Each unpacked image lies in the extract directory with its digest file.
    void ExpectUnpacked(const std::string& name, const Bytes& data)
    {
        EXPECT_EQ(ReadFile(m_extract + name), data) << name;
        const size_t dot = name.rfind('.');
        const std::string digest =
            dot == std::string::npos ? name + "_sha256" : name.substr(0, dot) + "_sha256" + name.substr(dot);
        EXPECT_EQ(Hex(ReadFile(m_extract + digest)), Sha256Hex(data)) << digest;
    }

    Installation m_install;
    std::string m_work;
    std::string m_package;
    std::string m_extract;
};

// --- packages that burn -------------------------------------------------------------

TEST_F(TypeSixEndToEnd, OneLoaderThenFlashAndEmmcImagesWithTheirDigestEntries)
{
    const Bytes loader = Pattern(10000, 1);
    const Bytes flash = Pattern(9000, 2);
    const Bytes emmc = Pattern(5000, 3);
    const Outcome out = Burn(BuildPackage({{"loader.bin", LOADER, 0, 0, loader},
                                           {"flash.bin", FLASH, 0x20000, 0x4000, flash},
                                           {"flash", DIGEST, 0, 0, Pattern(32, 4)},
                                           {"emmc.img", EMMC, 0x400, 0x2000, emmc},
                                           {"emmc", DIGEST, 0, 0, Pattern(32, 5)}}));

    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Loader("loader.bin", loader.size())
                                  .Image("flash.bin", flash.size())
                                  .Skipped()
                                  .Image("emmc.img", emmc.size())
                                  .Skipped()
                                  .Burned());
    BoardModel board;
    board.Ssb(loader);
    board.Event("ssb started");
    board.FlashImage(0x20000, flash, 0x4000);
    board.EmmcImage(0x400, emmc, 0x2000);
    board.ResetAndEnd();
    EXPECT_EQ(out.report.text, board.Json());
    ExpectUnpacked("loader.bin", loader);
    ExpectUnpacked("flash.bin", flash);
    ExpectUnpacked("emmc.img", emmc);
}

TEST_F(TypeSixEndToEnd, TwoLoadersAreBothLoadedInPackageOrderBeforeAnyImage)
{
    const Bytes first = Pattern(5000, 11);
    const Bytes second = Pattern(4096, 12);
    const Bytes app = Pattern(3000, 13);
    const Outcome out = Burn(BuildPackage({{"small.bin", LOADER, 0, 0, first},
                                           {"app.bin", 20, 0, 0x10000, app},
                                           {"ssb.bin", LOADER, 0, 0, second}}));

    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Loader("small.bin", first.size())
                                  .Loader("ssb.bin", second.size())
                                  .Image("app.bin", app.size())
                                  .Burned());
    // The second handshake finds the first ssb running: it is erased and the
    // board restarts into the ROM for the second one.
    BoardModel board;
    board.Ssb(first);
    board.Event("ssb started");
    board.SsbErased();
    board.Event("exit: the board restarts into the ROM");
    board.Ssb(second);
    board.Event("ssb started");
    board.App(0, app);
    board.ResetAndEnd();
    EXPECT_EQ(out.report.text, board.Json());
}

TEST_F(TypeSixEndToEnd, ApplicationImagesCarryTheFileTypeOfTheirImageType)
{
    struct App {
        uint32_t imageType;
        int fileType;
        Bytes data;
    };
    const std::vector<App> apps{{18, 2, Pattern(4097, 21)}, {20, 0, Pattern(100, 22)}, {11, 1, Pattern(8192, 23)},
                                {26, 4, Pattern(1, 24)},    {4, 4, Pattern(5000, 25)}, {104, 104, Pattern(700, 26)}};
    const Bytes loader = Pattern(3000, 20);
    std::vector<PackageEntry> entries{{"loader.bin", LOADER, 0, 0, loader}};
    for (const App& app : apps) {
        entries.push_back({"app" + std::to_string(app.imageType) + ".bin", app.imageType, 0, 0x100000, app.data});
    }
    const Outcome out = Burn(BuildPackage(entries));

    EXPECT_EQ(out.run.exitCode, 0);
    ConsoleModel console(out.arguments);
    console.Loader("loader.bin", loader.size());
    BoardModel board;
    board.Ssb(loader);
    board.Event("ssb started");
    for (const App& app : apps) {
        console.Image("app" + std::to_string(app.imageType) + ".bin", app.data.size());
        board.App(app.fileType, app.data);
    }
    board.ResetAndEnd();
    EXPECT_EQ(out.run.output, console.Burned());
    EXPECT_EQ(out.report.text, board.Json());
}

TEST_F(TypeSixEndToEnd, EntriesThatAreOnlyUnpackedGetTheirDigestButReachNoBoard)
{
    const Bytes loader = Pattern(2000, 30);
    const Bytes app = Pattern(2500, 31);
    const std::vector<std::pair<std::string, uint32_t>> unpackedOnly{
        {"type22.bin", 22}, {"type102.bin", DIGEST}, {"type16.bin", 16}, {"type28.bin", 28}, {"type29.bin", 29}};
    std::vector<PackageEntry> entries{{"loader.bin", LOADER, 0, 0, loader}};
    for (size_t i = 0; i < unpackedOnly.size(); ++i) {
        entries.push_back({unpackedOnly[i].first, unpackedOnly[i].second, 0x1000, 0x1000,
                           Pattern(600 + i, 40 + static_cast<uint32_t>(i))});
    }
    entries.push_back({"app.bin", 20, 0, 0x10000, app});
    const Outcome out = Burn(BuildPackage(entries));

    EXPECT_EQ(out.run.exitCode, 0);
    // 22 and 102 are handed to image burning, which skips them; 16, 28 and 29 are not.
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Loader("loader.bin", loader.size())
                                  .Skipped()
                                  .Skipped()
                                  .Image("app.bin", app.size())
                                  .Burned());
    BoardModel board;
    board.Ssb(loader);
    board.Event("ssb started");
    board.App(0, app);
    board.ResetAndEnd();
    EXPECT_EQ(out.report.text, board.Json());
    for (size_t i = 0; i < unpackedOnly.size(); ++i) {
        ExpectUnpacked(unpackedOnly[i].first, Pattern(600 + i, 40 + static_cast<uint32_t>(i)));
    }
}

TEST_F(TypeSixEndToEnd, OnlyBurnNamesSelectEntriesIgnoringCaseAndNothingElseIsUnpacked)
{
    const Bytes loader = Pattern(4000, 50);
    const Bytes kept = Pattern(3000, 51);
    const Outcome out = Burn(BuildPackage({{"Loader.bin", LOADER, 0, 0, loader},
                                           {"flash.bin", FLASH, 0x1000, 0x1000, Pattern(100, 52)},
                                           {"APP.bin", 20, 0, 0x10000, kept},
                                           {"app.bin.old", 20, 0, 0x10000, Pattern(100, 53)}}),
                             {"-onlyburn:LOADER.BIN", "-onlyburn:app.bin"});

    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Loader("Loader.bin", loader.size())
                                  .Image("APP.bin", kept.size())
                                  .Burned());
    BoardModel board;
    board.Ssb(loader);
    board.Event("ssb started");
    board.App(0, kept);
    board.ResetAndEnd();
    EXPECT_EQ(out.report.text, board.Json());
    ExpectUnpacked("Loader.bin", loader);
    ExpectUnpacked("APP.bin", kept);
    EXPECT_FALSE(std::filesystem::exists(m_extract + "flash.bin"));
    EXPECT_FALSE(std::filesystem::exists(m_extract + "app.bin.old"));
}

TEST_F(TypeSixEndToEnd, APackageWithoutLoaderBurnsIntoTheSsbTheBoardRunsAlready)
{
    const Bytes flash = Pattern(4096, 60);
    const Outcome out = Burn(BuildPackage({{"flash.bin", FLASH, 0x8000, 0x1000, flash}}), {}, {"--ssb-running"});

    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments).Image("flash.bin", flash.size()).Burned());
    BoardModel board;
    board.Event("power-on: an ssb is running");
    board.FlashImage(0x8000, flash, 0x1000);
    board.ResetAndEnd(true);
    EXPECT_EQ(out.report.text, board.Json());
}

// --- the line and the board's moods ---------------------------------------------------

TEST_F(TypeSixEndToEnd, FasterLineAskedWithBaudOptionIsAnnouncedAndFollowedUntilTheReset)
{
    const Bytes loader = Pattern(6000, 70);
    const Bytes flash = Pattern(7000, 71);
    const Bytes app = Pattern(2000, 72);
    const Outcome out = Burn(BuildPackage({{"loader.bin", LOADER, 0, 0, loader},
                                           {"flash.bin", FLASH, 0x3000, 0x2000, flash},
                                           {"app.bin", 26, 0, 0x10000, app}}),
                             {"-b", "921600"});

    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Loader("loader.bin", loader.size())
                                  .Image("flash.bin", flash.size())
                                  .Image("app.bin", app.size())
                                  .Burned());
    // The ssb load stays at 115200; the first image switches the board's UART,
    // the second finds it switched, the reset brings it back.
    BoardModel board;
    board.Ssb(loader);
    board.Event("ssb started");
    board.Baud(921600);
    board.FlashImage(0x3000, flash, 0x2000);
    board.App(4, app);
    board.ResetAndEnd(false, true);
    EXPECT_EQ(out.report.text, board.Json());
}

TEST_F(TypeSixEndToEnd, AnImageWhoseFirstTransferFailsMidwayIsSentWholeAgainToTheRunningSsb)
{
    const Bytes loader = Pattern(5000, 80);
    const Bytes flash = Pattern(5000, 81);
    // Frames 1 to 6 load the ssb (init, version, two packets, digest, exit);
    // 7 init, 8 speed, 9 bin head, 10 the first data frame, 11 the second.
    const Outcome out = Burn(BuildPackage({{"loader.bin", LOADER, 0, 0, loader},
                                           {"flash.bin", FLASH, 0x1000, 0x2000, flash}}),
                             {}, {"--nak-frame", "11"});

    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Loader("loader.bin", loader.size())
                                  .ImageStart()
                                  .Text("DownloadFile1.\nDownloadFile2.\n#return code error:0\nsend frame failed.\n"
                                        "DownloadFile3.\nBurnOtherFile3.\n")
                                  .Attempt(flash.size())
                                  .Text("Burn flash.bin successfully.\n")
                                  .Burned());
    // No reset between the attempts: the second one reaches the same ssb.
    BoardModel board;
    board.Ssb(loader);
    board.Event("ssb started");
    board.Event("fault: negative answer to frame 11");
    board.Event("flash image abandoned after 4096 bytes: init");
    board.FlashRegionErased(0x1000, 0x2000);
    board.FlashImage(0x1000, flash, 0x2000);
    board.ResetAndEnd();
    EXPECT_EQ(out.report.text, board.Json());
}

TEST_F(TypeSixEndToEnd, AnImageThatFailsTwiceEndsTheRunWithoutReset)
{
    const Bytes flash = Pattern(3000, 90);
    // A board in its ROM takes the init but refuses the speed command.
    const Outcome out = Burn(BuildPackage({{"flash.bin", FLASH, 0x1000, 0x1000, flash}}));

    EXPECT_EQ(out.run.exitCode, 5);
    const std::string refused = "DownloadFile1.\nDownloadFile2.\nreturn code error:0\nset speed failed.\n"
                                "DownloadFile3.\nBurnOtherFile3.\n";
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .ImageStart()
                                  .Text(refused + refused + "error: Burn flash.bin failed!\n")
                                  .Failed());
    BoardModel board;
    board.Error("command 0x0D refused: not a boot ROM command");
    board.Error("command 0x0D refused: not a boot ROM command");
    board.StoppedWithoutReset();
    EXPECT_EQ(out.report.text, board.Json());
}

TEST_F(TypeSixEndToEnd, ABoardRunningAnSsbAtHandshakeHasItErasedAndIsLoadedFromTheRom)
{
    const Bytes loader = Pattern(5000, 100);
    const Bytes flash = Pattern(5000, 101);
    const Outcome out = Burn(BuildPackage({{"loader.bin", LOADER, 0, 0, loader},
                                           {"flash.bin", FLASH, 0x1000, 0x2000, flash}}),
                             {}, {"--ssb-running"});

    EXPECT_EQ(out.run.exitCode, 0);
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Loader("loader.bin", loader.size())
                                  .Image("flash.bin", flash.size())
                                  .Burned());
    BoardModel board;
    board.Event("power-on: an ssb is running");
    board.SsbErased();
    board.Event("exit: the board restarts into the ROM");
    board.Ssb(loader);
    board.Event("ssb started");
    board.FlashImage(0x1000, flash, 0x2000);
    board.ResetAndEnd();
    EXPECT_EQ(out.report.text, board.Json());
}

TEST_F(TypeSixEndToEnd, ABoardThatFallsBackToTheRomFailsTheLoaderAndGetsNoImage)
{
    const Bytes loader = Pattern(5000, 110);
    const Outcome out = Burn(BuildPackage({{"loader.bin", LOADER, 0, 0, loader},
                                           {"flash.bin", FLASH, 0x1000, 0x2000, Pattern(100, 111)}}),
                             {}, {"--fall-back-to-rom"});

    EXPECT_EQ(out.run.exitCode, 5);
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Text(Marks(loader.size()) +
                                        "Ssb running failed\xEF\xBC\x8C" "codeloader not received!\n"
                                        "error: Burn loader loader.bin failed!\n")
                                  .Failed());
    BoardModel board;
    board.Ssb(loader);
    board.Event("fault: the ssb did not start, the ROM talks again");
    board.StoppedWithoutReset();
    EXPECT_EQ(out.report.text, board.Json());
}

// A digest entry named like the job's digest file replaces the computed
// digest: the board checks the package's own claim.
TEST_F(TypeSixEndToEnd, ADigestThatDoesNotMatchIsReportedByTheBoardAndFailsTheImage)
{
    const Bytes loader = Pattern(5000, 120);
    const Bytes flash = Pattern(5000, 121);
    const Bytes wrongDigest(32, 0);
    const Outcome out = Burn(BuildPackage({{"loader.bin", LOADER, 0, 0, loader},
                                           {"flash.bin", FLASH, 0x1000, 0x2000, flash},
                                           {"flash_sha256.bin", DIGEST, 0, 0, wrongDigest}}));

    EXPECT_EQ(out.run.exitCode, 5);
    const std::string rejected = "DownloadFile1.\nDownloadFile2.\n" + Marks(flash.size()) +
                                 "return code error:0\nsend sha data failed.\nDownloadFile3.\nBurnOtherFile3.\n";
    EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                  .Loader("loader.bin", loader.size())
                                  .ImageStart()
                                  .Text(rejected + rejected + "error: Burn flash.bin failed!\n")
                                  .Failed());
    BoardModel board;
    board.Ssb(loader);
    board.Event("ssb started");
    board.FlashImage(0x1000, flash, 0x2000, 0);
    board.FlashImage(0x1000, flash, 0x2000, 0);
    board.StoppedWithoutReset();
    EXPECT_EQ(out.report.text, board.Json());
    EXPECT_EQ(ReadFile(m_extract + "flash_sha256.bin"), wrongDigest);
}

// 89 packets put 0x5C in the exit frame's sequence byte, 83 in its check byte.
TEST_F(TypeSixEndToEnd, PayloadsFullOfEscapeBytesArriveUnchanged)
{
    for (size_t packets : {83u, 89u}) {
        SCOPED_TRACE(packets);
        const Bytes loader(packets * PACKET, 0x5C);
        const Bytes flash(PACKET + 1, 0x5C);
        const Bytes app(3 * PACKET, 0x5C);
        const Outcome out = Burn(BuildPackage({{"loader.bin", LOADER, 0, 0, loader},
                                               {"flash.bin", FLASH, 0x5C5C, 0x5C5C, flash},
                                               {"app.bin", 20, 0, 0x10000, app}}));

        EXPECT_EQ(out.run.exitCode, 0);
        EXPECT_EQ(out.run.output, ConsoleModel(out.arguments)
                                      .Loader("loader.bin", loader.size())
                                      .Image("flash.bin", flash.size())
                                      .Image("app.bin", app.size())
                                      .Burned());
        BoardModel board;
        board.Ssb(loader);
        board.Event("ssb started");
        board.FlashImage(0x5C5C, flash, 0x5C5C);
        board.App(0, app);
        board.ResetAndEnd();
        EXPECT_EQ(out.report.text, board.Json());
        std::filesystem::remove_all(m_extract);
    }
}

// --- packages refused before anything reaches the board -------------------------------

class TypeSixRefusedPackage : public TypeSixEndToEnd {
protected:
    void ExpectRefused(const Bytes& package, const std::string& message, const std::vector<std::string>& extra = {})
    {
        const Outcome out = Burn(package, extra);
        EXPECT_EQ(out.run.exitCode, 5);
        EXPECT_EQ(out.run.output, ConsoleModel(out.arguments).Text(message).Failed());
        BoardModel board;
        board.StoppedWithoutReset();
        EXPECT_EQ(out.report.text, board.Json());
        EXPECT_FALSE(std::filesystem::exists(m_extract));
    }
};

TEST_F(TypeSixRefusedPackage, ImageNamesThatWouldLeaveTheExtractDirectory)
{
    for (const std::string name : {"../evil.bin", "sub/evil.bin", "sub\\evil.bin", ""}) {
        SCOPED_TRACE(name);
        ExpectRefused(BuildPackage({{"loader.bin", LOADER, 0, 0, Pattern(500, 1)}, {name, 20, 0, 0, Pattern(50, 2)}}),
                      "error: Image name \"" + name + "\" in fwpkg file " + m_package + " is not a plain file name\n");
    }
    EXPECT_FALSE(std::filesystem::exists(m_work + "../evil.bin"));
}

TEST_F(TypeSixRefusedPackage, AnImageReachingPastTheEndOfThePackage)
{
    Bytes package = BuildPackage({{"loader.bin", LOADER, 0, 0, Pattern(500, 3)}});
    PutLe32(package, HEADER_LENGTH + ENTRY_OFFSET_LENGTH, 501);
    SealPackage(package);
    ExpectRefused(package, "error: Image loader.bin (offset 64, length 501) reaches past the end of fwpkg file " +
                               m_package + " (564 bytes)\n");
}

TEST_F(TypeSixRefusedPackage, AWrongHeaderCrcOrAnEntryTableCutShort)
{
    Bytes package = BuildPackage({{"loader.bin", LOADER, 0, 0, Pattern(500, 4)}});
    package[OFFSET_CRC] ^= 0x01;
    const uint16_t stored = static_cast<uint16_t>(package[OFFSET_CRC] | (package[OFFSET_CRC + 1] << 8));
    char crcs[64];
    std::snprintf(crcs, sizeof crcs, "(calculated 0x%04x, stored 0x%04x)", stored ^ 0x01u, stored);
    ExpectRefused(package, "error: fwpkg header CRC mismatch " + std::string(crcs) + ": " + m_package + "\n");

    Bytes cut = BuildPackage({{"loader.bin", LOADER, 0, 0, {}}, {"app.bin", 20, 0, 0, {}}});
    cut.resize(HEADER_LENGTH + ENTRY_LENGTH + 10);
    ExpectRefused(cut, "error: fwpkg entry table of 2 entries reaches past the end of the file: " + m_package + "\n");
}

TEST_F(TypeSixRefusedPackage, TwoDifferentImagesOfOneName)
{
    ExpectRefused(BuildPackage({{"a.bin", 20, 0, 0, Pattern(500, 5)}, {"a.bin", 22, 0, 0, Pattern(500, 6)}}),
                  "error: Two different images of " + m_package + " are named a.bin.\n");
}

TEST_F(TypeSixRefusedPackage, OnlyBurnNamesThatSelectNothing)
{
    ExpectRefused(BuildPackage({{"loader.bin", LOADER, 0, 0, Pattern(500, 7)}}),
                  "error: No image of " + m_package + " matches the -onlyburn: names.\n", {"-onlyburn:loader"});
}

// --- operations the TypeSix job does not offer, and the connection job -----------------

class UnsupportedOperation : public ::testing::Test {
protected:
    Installation m_install;
};

TEST_F(UnsupportedOperation, EraseAndReadOfATypeSixBoardFailAfterSayingSo)
{
    ASSERT_TRUE(m_install.Ready());
    const std::vector<std::string> rest{"-n", "typesix", "-f", m_install.Path("fw.fwpkg"), "-m", "serial",
                                        "/dev/tarnwick-no-such-port"};
    std::vector<std::string> erase{"--erase"};
    erase.insert(erase.end(), rest.begin(), rest.end());
    const RunResult erased = m_install.Run(erase, RUN_LIMIT_MS);
    EXPECT_EQ(erased.exitCode, 12);
    EXPECT_TRUE(Contains(erased.output, "DEBUG PARSE] argv[8]=/dev/tarnwick-no-such-port\n"
                                        "chip: typesix does not support the erase function.\nErase failed.\n"))
        << erased.output;
    EXPECT_FALSE(Contains(erased.output, "successfully")) << erased.output;

    std::vector<std::string> read{"--read"};
    read.insert(read.end(), rest.begin(), rest.end());
    const RunResult readBack = m_install.Run(read, RUN_LIMIT_MS);
    EXPECT_EQ(readBack.exitCode, 7);
    EXPECT_TRUE(Contains(readBack.output, "DEBUG PARSE] argv[8]=/dev/tarnwick-no-such-port\n"
                                          "chip: typesix does not support the read function.\n"))
        << readBack.output;
}

TEST_F(UnsupportedOperation, AnotherConnectionChipTypeEndsAtOpeningTheBoard)
{
    ASSERT_TRUE(m_install.Ready());
    ASSERT_TRUE(WriteFile(m_install.Path("bin/ChipProperties/wing.txt"), {'C', 'h', 'i', 'p', 'T', 'y', 'p', 'e', '=',
                                                                          '0', 'x', '3', '0', '0', '0', '1', '\n'}));
    ASSERT_TRUE(WriteFile(m_install.Path("image.bin"), Pattern(100, 1)));
    const Simulator sim(m_install.Dir(), "typesix");
    ASSERT_TRUE(sim.Started());
    const RunResult run = m_install.Run(
        {"--burn", "-n", "wing", "-f", m_install.Path("image.bin"), "-m", "serial", sim.Port()}, RUN_LIMIT_MS);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(Contains(run.output, "Please reset the device, the waiting time is about 30 seconds.\n"
                                     "new transport failed\n"
                                     "error: Open serial port :" + sim.Port() +
                                     " failed, It may be caused by the following reasons:\n"
                                     "1. Serial port is occupied or does not exist.\n"
                                     "2. Check baud rate, stop bits, parity is correct.\n"
                                     "\nBurned failed.\n"))
        << run.output;
}

}  // namespace
