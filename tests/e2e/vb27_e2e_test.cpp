// tarnwickcmd burning, erasing and reading Vb27 and Qn4180 boards simulated
// by tarnwick-sim. Every run is judged by its exit code, its result lines and
// what the board saw: the images it received and its flash, byte for byte.
// Line faults the protocol gets past are in the fault matrix.
//
// Two cases are long by nature, because the windows they run into are fixed
// by the boards: a silent board (60 s handshake window) and a refused command
// (30 s ACK window per attempt). Their names end in "_Long".
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/checksum.h"
#include "e2e_support.h"

using namespace E2e;

namespace {

constexpr int RUN_LIMIT_MS = 120000;
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

// The reset frame: EF BE AD DE 0C 00 87 78 00 00 and the CRC16 of those ten bytes, low byte first.
std::string ResetFrameHex()
{
    Bytes frame{0xEF, 0xBE, 0xAD, 0xDE, 0x0C, 0x00, 0x87, 0x78, 0x00, 0x00};
    const uint16_t crc = Common::SopCrc16(frame.data(), static_cast<uint32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return Hex(frame);
}

class Vb27Board : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_install.Ready()) << "build tarnwickcmd first: " << TARNWICK_BIN_DIR; }

    std::string WritePackage(const Bytes& bytes)
    {
        const std::string path = m_install.Path("board.fwpkg");
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    // Runs the tool against a fresh board; a flash to start from is optional.
    RunResult Run(const std::string& operation, const std::string& package, const std::vector<std::string>& extra,
                  const std::string& chip = "vb27", const std::vector<std::string>& simExtra = {},
                  int limitMs = RUN_LIMIT_MS)
    {
        Simulator sim(m_install.Dir(), chip, simExtra);
        EXPECT_TRUE(sim.Started()) << "tarnwick-sim did not name its port";
        RunResult run = m_install.Run(ToolArgs(operation, chip, sim.Port(), package, extra), limitMs);
        EXPECT_NE(run.exitCode, -1) << "tarnwickcmd did not end within " << limitMs << " ms\n" << run.output;
        m_report = sim.Stop();
        m_flash = sim.Flash();
        return run;
    }

    // A board whose flash already holds data.
    Bytes FillFlash()
    {
        const Bytes flash = Pattern(2 * 1024 * 1024, 42);
        EXPECT_TRUE(WriteFile(m_install.Path("sim-flash.bin"), flash));
        return flash;
    }

    Installation m_install;
    SimReport m_report;
    Bytes m_flash;
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
    std::vector<PackageEntry> chosen;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (c.selected.empty() || std::find(c.selected.begin(), c.selected.end(), i) != c.selected.end()) {
            chosen.push_back(entries[i]);
        }
    }
    const std::vector<PackageEntry> sent = Vb27Sent(chosen);
    const std::string package = WritePackage(BuildPackage(entries));
    const RunResult run = Run("--burn", package, c.options, c.chip);

    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, BURNED)) << run.output;
    EXPECT_TRUE(Contains(run.output, "\nBurn " + package + " successfully.\n")) << run.output;
    ExpectVb27Board(m_report, m_flash, sent);
    for (const PackageEntry& e : entries) {
        const bool wasSent = std::any_of(sent.begin(), sent.end(), [&](const PackageEntry& s) { return s.name == e.name; });
        if (wasSent) {
            EXPECT_TRUE(Contains(run.output, "downloaded: " + e.name + " successfully.\n")) << e.name;
        } else {
            EXPECT_FALSE(Contains(run.output, e.type == TYPE_SKIPPED ? e.name : "downloaded: " + e.name)) << e.name;
            EXPECT_TRUE(e.burnAddress == 0 || IsErased(m_flash, e.burnAddress, e.data.size())) << e.name;
        }
    }
    if (c.reboot) {
        EXPECT_TRUE(Contains(run.output, "\n[DEBUG] GetReboot() = 1\n\nGetReboot1.\n")) << run.output;
        EXPECT_EQ(ResetFrameHex().substr(0, 20), "efbeadde0c0087780000");
        EXPECT_EQ(m_report.resets, std::vector<std::string>{ResetFrameHex()}) << m_report.text;
    } else {
        EXPECT_TRUE(Contains(run.output, "\n[DEBUG] GetReboot() = 0\n")) << run.output;
        EXPECT_FALSE(Contains(run.output, "GetReboot1.")) << run.output;
        EXPECT_TRUE(m_report.resets.empty()) << "no reboot was asked for: " << m_report.text;
    }
    EXPECT_EQ(m_report.baudChanges, c.baudChanges) << m_report.text;
    EXPECT_TRUE(*c.event == '\0' || m_report.HasEvent(c.event)) << m_report.text;
    if (std::string(c.chip) == "qn4180") {
        ASSERT_GE(m_report.images.size(), 2u);
        EXPECT_EQ(m_report.images[1].regionSize, 1536u) << m_report.text;
    }
}

const std::vector<BurnCase> BURN_CASES = {
    {"WholePackage", "vb27", {}, {}, false, {}, ""},
    {"RebootEndsWithTheResetFrame", "vb27", {"-re", "1"}, {}, true, {}, ""},
    // Selection by part of the name: the rest is not sent.
    {"OnlyBurnByPartOfTheName", "vb27", {"-onlyburn:loader", "-onlyburn:big_"}, {0, 2}, false, {}, ""},
    {"SwitchAfterLoaderHandshakesAt115200", "vb27", {"-switchafterloader", "-b", "921600"}, {}, false, {921600},
     "handshake at 115200 baud"},
    {"WithoutSwitchTheHandshakeCarriesTheRate", "vb27", {"-b", "460800"}, {}, false, {460800},
     "handshake at 460800 baud"},
    {"Packets2048", "vb27", {"-packagesize:2048"}, {}, false, {}, ""},
    {"Packets4096", "vb27", {"-packagesize:4096"}, {}, false, {}, ""},
    {"Packets8192", "vb27", {"-packagesize:8192"}, {}, false, {}, ""},
    {"Qn4180TakesTheSamePackage", "qn4180", {}, {}, false, {}, ""},
};

INSTANTIATE_TEST_SUITE_P(Options, Vb27Burn, ::testing::ValuesIn(BURN_CASES),
                         [](const ::testing::TestParamInfo<BurnCase>& p) { return std::string(p.param.name); });

// --- erase and read ----------------------------------------------------------------------

TEST_F(Vb27Board, EraseLoadsOnlyTheLoaderAndErasesTheWholeFlash)
{
    const auto entries = FullPackage();
    const std::string package = WritePackage(BuildPackage(entries));
    for (const char* chip : {"vb27", "qn4180"}) {
        SCOPED_TRACE(chip);
        FillFlash();
        const RunResult run = Run("--erase", package, {}, chip);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(Contains(run.output, "\nErase all flash successfully.\n")) << run.output;
        EXPECT_TRUE(Contains(run.output, "Erase successfully.\n")) << run.output;
        ExpectVb27Board(m_report, m_flash, {entries[0]});
        ASSERT_EQ(m_report.erases.size(), 1u) << m_report.text;
        EXPECT_TRUE(Contains(m_report.erases[0], "\"what\": \"all\"")) << m_report.erases[0];
        EXPECT_TRUE(IsErased(m_flash, 0, m_flash.size()));
    }
}

TEST_F(Vb27Board, ReadWritesTheFlashRegionToTheOutputFileAndLeavesThePackageAlone)
{
    const auto entries = FullPackage();
    const Bytes packageBytes = BuildPackage(entries);
    const std::string package = WritePackage(packageBytes);
    const size_t address = 0x12345;
    const size_t size = 100000;  // not a multiple of any block size
    for (const char* packetSize : {"1024", "8192"}) {
        SCOPED_TRACE(packetSize);
        const std::string output = m_install.Path(std::string("read-") + packetSize + ".bin");
        const Bytes flash = FillFlash();
        const RunResult run = Run("--read", package,
                                  {"-readfile:" + output, "-readaddr:0x12345", "-readsize:100000",
                                   std::string("-packagesize:") + packetSize});
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(Contains(run.output, "\nRead " + output + " successfully.\n")) << run.output;
        EXPECT_EQ(ReadFile(output), Bytes(flash.begin() + address, flash.begin() + address + size));
        EXPECT_EQ(ReadFile(package), packageBytes) << "the package must never be written";
        ExpectVb27Board(m_report, m_flash, {entries[0]});
        EXPECT_TRUE(m_report.HasEvent("upload 0x00012345 100000")) << m_report.text;
    }
}

TEST_F(Vb27Board, AReadIntoThePackageIsRefusedBeforeTheBoardIsTouched)
{
    const Bytes packageBytes = BuildPackage(FullPackage());
    const std::string package = WritePackage(packageBytes);
    FillFlash();
    const RunResult run = Run("--read", package, {"-readfile:" + package, "-readsize:4096"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.output, "is the package")) << run.output;
    EXPECT_EQ(ReadFile(package), packageBytes);
    EXPECT_TRUE(m_report.images.empty()) << m_report.text;
    EXPECT_FALSE(m_report.HasEvent("handshake")) << m_report.text;
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
    PutLe32(pastEnd, HEADER_LENGTH + ENTRY_LENGTH + ENTRY_OFFSET_LENGTH, static_cast<uint32_t>(small[1].data.size() + 1));
    SealPackage(pastEnd);
    const std::vector<std::pair<Bytes, std::string>> cases{
        {BuildPackage(small, {false, 0xEFBEADDE}), "is not equal to 0xefbeaddf!\n"},
        {badCrc, "is not equal to fwpkg crc:"},
        {BuildPackage({small[1], small[0]}), "The first file is not a loader.\n"},
        {BuildPackage(many), "too many image or the header data length is greater than the file length!\n"},
        {pastEnd, ""},
    };
    Simulator sim(m_install.Dir(), "vb27");
    ASSERT_TRUE(sim.Started());
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message);
        const std::string package = WritePackage(bytes);
        const RunResult run = m_install.Run(ToolArgs("--burn", "vb27", sim.Port(), package), RUN_LIMIT_MS);
        EXPECT_EQ(run.exitCode, 4) << run.output;
        EXPECT_TRUE(Contains(run.output, "File: " + package + " format error!\n")) << run.output;
        EXPECT_TRUE(Contains(run.output, message)) << run.output;
        EXPECT_TRUE(Contains(run.output, "\nerror: Burn " + package + " failed!\n")) << run.output;
        EXPECT_TRUE(Contains(run.output, BURN_FAILED)) << run.output;
    }
    const SimReport report = sim.Stop();
    EXPECT_TRUE(report.images.empty()) << report.text;
    EXPECT_FALSE(report.HasEvent("handshake")) << report.text;
    EXPECT_TRUE(report.protocolErrors.empty()) << "the board received bytes: " << report.text;
}

// --- the boards' windows ----------------------------------------------------------------

TEST_F(Vb27Board, ARefusedImageCommandIsSentAgainAndAccepted_Long)
{
    const std::vector<PackageEntry> entries{FullPackage()[0], FullPackage()[1], FullPackage()[3]};
    // Frame 1 is the handshake; frame 2 announces app_1k.bin.
    const RunResult run =
        Run("--burn", WritePackage(BuildPackage(entries)), {}, "vb27", {"--nak-frame", "2"}, LONG_RUN_LIMIT_MS);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, BURNED)) << run.output;
    ExpectVb27Board(m_report, m_flash, entries);
    EXPECT_TRUE(Contains(run.output, "CheckAckFrame: ack result error: ")) << run.output;
    EXPECT_TRUE(m_report.HasEvent("refused as the fault plan asks")) << m_report.text;
}

TEST_F(Vb27Board, ASilentBoardEndsTheBurnWithTheHandshakeMessage_Long)
{
    const std::string package = WritePackage(BuildPackage({FullPackage()[0], FullPackage()[1]}));
    const RunResult run = Run("--burn", package, {}, "vb27", {"--silent"}, LONG_RUN_LIMIT_MS);
    EXPECT_EQ(run.exitCode, 4) << run.output;
    EXPECT_EQ(CountOf(run.output, "Shakehand failed, The board does not respond.\n"), 2u) << run.output;
    EXPECT_TRUE(Contains(run.output, "\nerror: Burn " + package + " failed!\n")) << run.output;
    EXPECT_TRUE(Contains(run.output, BURN_FAILED)) << run.output;
    EXPECT_TRUE(m_report.images.empty()) << m_report.text;
}

}  // namespace
