// tarnwickcmd burning, erasing and reading Vb27 and Qn4180 boards simulated
// by tarnwick-sim. Every run is judged by its exit code, its result lines and
// what the board saw: the images it received and its flash, byte for byte.
//
// Two cases are long by nature, because the windows they run into are fixed
// by the boards and cannot be shortened from the command line: a silent board
// (60 s handshake window) and a refused command (30 s ACK window per attempt).
// Their names end in "_Long".
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

constexpr int RUN_LIMIT_MS = 120000;
// Long enough for a 60 s handshake window and its messages on a loaded machine.
constexpr int LONG_RUN_LIMIT_MS = 200000;
constexpr uint8_t ERASED = 0xFF;

const char* const BURNED = "\nBurned successfully.\n";
const char* const BURN_FAILED = "\nBurned failed.\n";

// The package most cases burn: a loader, flash images from 1 KiB to 3 MiB
// (one not a multiple of the block size), NV/KV, OTP and eFuse, factory,
// version, and a type-16 entry that must not be sent.
std::vector<PackageEntry> FullPackage()
{
    return {
        {"loader.bin", TYPE_LOADER, 0, 0, Pattern(8 * 1024 + 17, 1)},
        {"app_1k.bin", TYPE_FLASH, 0x10000, 0x1000, Pattern(1024, 2)},
        {"big_3m.bin", TYPE_FLASH, 0x100000, 0x300100, Pattern(3 * 1024 * 1024 + 123, 3)},
        {"nv.bin", TYPE_NV_KV, 0x40000, 5000, Pattern(5000, 4)},
        {"otp.bin", TYPE_OTP_EFUSE, 0, 0, Pattern(64, 5)},
        {"efuse.bin", 4, 0, 0, Pattern(16, 6)},
        {"factory.bin", TYPE_FACTORY, 0x50000, 0x1000, Pattern(3000, 7)},
        {"version.bin", TYPE_VERSION, 0, 0, Pattern(32, 8)},
        {"notes.txt", TYPE_SKIPPED, 0x60000, 0x1000, Pattern(500, 9)},
    };
}

// Kind the board reports for an image type.
std::string KindOf(uint32_t type)
{
    switch (type) {
    case TYPE_LOADER: return "loader";
    case TYPE_NV_KV: return "nv";
    case TYPE_OTP_EFUSE:
    case 4: return "otp";
    case TYPE_FACTORY: return "factory";
    case TYPE_VERSION: return "version";
    default: return "flash";
    }
}

bool GoesToFlash(uint32_t type)
{
    return type != TYPE_LOADER && type != TYPE_OTP_EFUSE && type != 4 && type != TYPE_VERSION &&
           type != TYPE_SKIPPED;
}

class Vb27EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Ready()) << "build tarnwickcmd first: " << TARNWICK_BIN_DIR;
    }

    std::string WritePackage(const std::vector<PackageEntry>& entries, const std::string& name = "board.fwpkg")
    {
        return WritePackageBytes(BuildPackage(entries), name);
    }

    std::string WritePackageBytes(const Bytes& bytes, const std::string& name = "board.fwpkg")
    {
        const std::string path = m_install.Path(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    std::unique_ptr<Simulator> StartSim(const std::string& family = "vb27", const std::vector<std::string>& extra = {})
    {
        auto sim = std::make_unique<Simulator>(m_install.Dir(), family, extra);
        EXPECT_TRUE(sim->Started()) << "tarnwick-sim did not name its port";
        return sim;
    }

    RunResult Run(const std::string& operation, const Simulator& sim, const std::string& package,
                  const std::vector<std::string>& extra = {}, const std::string& chip = "vb27",
                  int limitMs = RUN_LIMIT_MS)
    {
        std::vector<std::string> arguments{operation, "-n", chip, "-m", "serial", sim.Port(), "-f", package};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        RunResult run = m_install.Run(arguments, limitMs);
        EXPECT_NE(run.exitCode, -1) << "tarnwickcmd did not end within " << limitMs << " ms\n" << run.output;
        return run;
    }

    // The board received exactly the selected images, in package order, byte for byte.
    static void ExpectImagesReceived(const SimReport& report, const std::vector<PackageEntry>& sent)
    {
        ASSERT_EQ(report.images.size(), sent.size()) << report.text;
        for (size_t i = 0; i < sent.size(); ++i) {
            const SimImage& got = report.images[i];
            EXPECT_EQ(got.kind, KindOf(sent[i].type)) << sent[i].name;
            EXPECT_EQ(got.name, sent[i].name);
            EXPECT_EQ(got.length, sent[i].data.size()) << sent[i].name;
            EXPECT_EQ(got.sha256, Sha256Hex(sent[i].data)) << sent[i].name;
            if (GoesToFlash(sent[i].type)) {
                EXPECT_EQ(got.address, sent[i].burnAddress) << sent[i].name;
            }
        }
    }

    // Every flash image lies in the board's flash at its burn address.
    static void ExpectFlashHolds(const Bytes& flash, const std::vector<PackageEntry>& sent)
    {
        for (const PackageEntry& e : sent) {
            if (!GoesToFlash(e.type)) {
                continue;
            }
            ASSERT_GE(flash.size(), e.burnAddress + e.data.size()) << e.name;
            EXPECT_TRUE(std::equal(e.data.begin(), e.data.end(), flash.begin() + e.burnAddress))
                << e.name << " differs in flash";
        }
    }

    static bool IsErased(const Bytes& flash, size_t address, size_t length)
    {
        for (size_t i = address; i < address + length && i < flash.size(); ++i) {
            if (flash[i] != ERASED) {
                return false;
            }
        }
        return true;
    }

    static std::vector<PackageEntry> Sent(const std::vector<PackageEntry>& entries)
    {
        std::vector<PackageEntry> sent;
        for (const PackageEntry& e : entries) {
            if (e.type != TYPE_SKIPPED) {
                sent.push_back(e);
            }
        }
        return sent;
    }

    // A complete burn of entries: result lines, report and flash.
    void ExpectCompleteBurn(const RunResult& run, const SimReport& report, const Bytes& flash,
                            const std::vector<PackageEntry>& entries)
    {
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(Contains(run.output, BURNED)) << run.output;
        for (const PackageEntry& e : Sent(entries)) {
            EXPECT_TRUE(Contains(run.output, "downloaded: " + e.name + " successfully.\n")) << e.name;
        }
        ExpectImagesReceived(report, Sent(entries));
        ExpectFlashHolds(flash, Sent(entries));
        EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
    }

    Installation m_install;
};

}  // namespace

// --- burning a whole package ---------------------------------------------------------

TEST_F(Vb27EndToEnd, BurnsEveryImageOfAMultiImagePackageAndSkipsType16)
{
    const auto entries = FullPackage();
    const std::string package = WritePackage(entries);
    auto sim = StartSim();
    const RunResult run = Run("--burn", *sim, package);
    const SimReport report = sim->Stop();

    ExpectCompleteBurn(run, report, sim->Flash(), entries);
    EXPECT_TRUE(Contains(run.output, "\nBurn " + package + " successfully.\n")) << run.output;
    EXPECT_TRUE(Contains(run.output, "\n[DEBUG] GetReboot() = 0\n")) << run.output;
    EXPECT_FALSE(Contains(run.output, "GetReboot1.")) << run.output;
    EXPECT_FALSE(Contains(run.output, "notes.txt")) << run.output;
    EXPECT_TRUE(report.resets.empty()) << "no reboot was asked for: " << report.text;
    EXPECT_TRUE(IsErased(sim->Flash(), 0x60000, 0x1000)) << "the type-16 entry reached the flash";
}

TEST_F(Vb27EndToEnd, ARebootRequestEndsTheBurnWithTheResetFrame)
{
    const std::vector<PackageEntry> entries{FullPackage()[0], FullPackage()[1]};
    const std::string package = WritePackage(entries);
    auto sim = StartSim();
    const RunResult run = Run("--burn", *sim, package, {"-re", "1"});
    const SimReport report = sim->Stop();

    ExpectCompleteBurn(run, report, sim->Flash(), entries);
    EXPECT_TRUE(Contains(run.output, "\n[DEBUG] GetReboot() = 1\n\nGetReboot1.\n")) << run.output;
    ASSERT_EQ(report.resets.size(), 1u) << report.text;
    EXPECT_EQ(report.resets[0], Hex(ExpectedResetFrame()));
    EXPECT_EQ(Hex(ExpectedResetFrame()).substr(0, 20), "efbeadde0c0087780000");
}

TEST_F(Vb27EndToEnd, OnlyBurnNamesSelectImagesByPartOfTheirName)
{
    const auto entries = FullPackage();
    const std::string package = WritePackage(entries);
    auto sim = StartSim();
    const RunResult run = Run("--burn", *sim, package, {"-onlyburn:loader", "-onlyburn:big_"});
    const SimReport report = sim->Stop();

    const std::vector<PackageEntry> selected{entries[0], entries[2]};
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, BURNED)) << run.output;
    ExpectImagesReceived(report, selected);
    ExpectFlashHolds(sim->Flash(), selected);
    EXPECT_TRUE(IsErased(sim->Flash(), 0x10000, 0x1000)) << "app_1k.bin was not selected";
    EXPECT_FALSE(Contains(run.output, "downloaded: nv.bin")) << run.output;
}

TEST_F(Vb27EndToEnd, SwitchAfterLoaderHandshakesAt115200AndMovesToTheTargetRate)
{
    const std::vector<PackageEntry> entries{FullPackage()[0], FullPackage()[2], FullPackage()[3]};
    const std::string package = WritePackage(entries);
    auto sim = StartSim();
    const RunResult run = Run("--burn", *sim, package, {"-switchafterloader", "-b", "921600"});
    const SimReport report = sim->Stop();

    ExpectCompleteBurn(run, report, sim->Flash(), entries);
    EXPECT_TRUE(report.HasEvent("handshake at 115200 baud")) << report.text;
    EXPECT_EQ(report.baudChanges, (std::vector<uint64_t>{921600})) << report.text;
}

TEST_F(Vb27EndToEnd, WithoutSwitchAfterLoaderTheHandshakeCarriesTheRate)
{
    const std::vector<PackageEntry> entries{FullPackage()[0], FullPackage()[1]};
    const std::string package = WritePackage(entries);
    auto sim = StartSim();
    const RunResult run = Run("--burn", *sim, package, {"-b", "460800"});
    const SimReport report = sim->Stop();

    ExpectCompleteBurn(run, report, sim->Flash(), entries);
    EXPECT_TRUE(report.HasEvent("handshake at 460800 baud")) << report.text;
    EXPECT_EQ(report.baudChanges, (std::vector<uint64_t>{460800})) << report.text;
}

TEST_F(Vb27EndToEnd, LargerPacketSizesCarryTheImagesUnchanged)
{
    const auto entries = FullPackage();
    const std::string package = WritePackage(entries);
    for (const char* size : {"2048", "4096", "8192"}) {
        SCOPED_TRACE(size);
        auto sim = StartSim();
        const RunResult run = Run("--burn", *sim, package, {std::string("-packagesize:") + size});
        const SimReport report = sim->Stop();
        ExpectCompleteBurn(run, report, sim->Flash(), entries);
    }
}

TEST_F(Vb27EndToEnd, Qn4180BoardsTakeTheSamePackage)
{
    std::vector<PackageEntry> entries = FullPackage();
    entries[1].burnSize = 1025;  // rounded to 1536 by the Qn4180 command, not to 4096
    const std::string package = WritePackage(entries);
    auto sim = StartSim("qn4180");
    const RunResult run = Run("--burn", *sim, package, {}, "qn4180");
    const SimReport report = sim->Stop();

    ExpectCompleteBurn(run, report, sim->Flash(), entries);
    ASSERT_GE(report.images.size(), 2u);
    EXPECT_EQ(report.images[1].regionSize, 1536u) << report.text;
}

// --- erase and read ---------------------------------------------------------------------

class Vb27EraseAndRead : public Vb27EndToEnd {
protected:
    // A board whose flash already holds data.
    std::unique_ptr<Simulator> StartFilledSim(const std::string& family)
    {
        m_flash = Pattern(2 * 1024 * 1024, 42);
        EXPECT_TRUE(WriteFile(m_install.Path("sim-flash.bin"), m_flash));
        return StartSim(family);
    }
    Bytes m_flash;
};

TEST_F(Vb27EraseAndRead, EraseLoadsOnlyTheLoaderAndErasesTheWholeFlash)
{
    const auto entries = FullPackage();
    const std::string package = WritePackage(entries);
    for (const char* chip : {"vb27", "qn4180"}) {
        SCOPED_TRACE(chip);
        auto sim = StartFilledSim(chip);
        const RunResult run = Run("--erase", *sim, package, {}, chip);
        const SimReport report = sim->Stop();

        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(Contains(run.output, "\nErase all flash successfully.\n")) << run.output;
        EXPECT_TRUE(Contains(run.output, "Erase successfully.\n")) << run.output;
        ExpectImagesReceived(report, {entries[0]});
        ASSERT_EQ(report.erases.size(), 1u) << report.text;
        EXPECT_TRUE(Contains(report.erases[0], "what=all")) << report.erases[0];
        const Bytes flash = sim->Flash();
        EXPECT_TRUE(IsErased(flash, 0, flash.size()));
        EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
    }
}

TEST_F(Vb27EraseAndRead, ReadWritesTheFlashRegionToTheOutputFileAndLeavesThePackageAlone)
{
    const auto entries = FullPackage();
    const Bytes packageBytes = BuildPackage(entries);
    const std::string package = WritePackageBytes(packageBytes);
    const uint32_t address = 0x12345;
    const uint32_t size = 100000;  // not a multiple of any block size
    for (const char* packetSize : {"1024", "8192"}) {
        SCOPED_TRACE(packetSize);
        const std::string output = m_install.Path(std::string("read-") + packetSize + ".bin");
        auto sim = StartFilledSim("vb27");
        const RunResult run = Run("--read", *sim, package,
                                  {"-readfile:" + output, "-readaddr:0x12345", "-readsize:100000",
                                   std::string("-packagesize:") + packetSize});
        const SimReport report = sim->Stop();

        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(Contains(run.output, "\nRead " + output + " successfully.\n")) << run.output;
        EXPECT_EQ(ReadFile(output), Bytes(m_flash.begin() + address, m_flash.begin() + address + size));
        EXPECT_EQ(ReadFile(package), packageBytes) << "the package must never be written";
        ExpectImagesReceived(report, {entries[0]});
        EXPECT_TRUE(report.HasEvent("upload 0x00012345 100000")) << report.text;
        EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
    }
}

TEST_F(Vb27EraseAndRead, AReadIntoThePackageIsRefusedBeforeTheBoardIsTouched)
{
    const Bytes packageBytes = BuildPackage(FullPackage());
    const std::string package = WritePackageBytes(packageBytes);
    auto sim = StartFilledSim("vb27");
    const RunResult run = Run("--read", *sim, package, {"-readfile:" + package, "-readsize:4096"});
    const SimReport report = sim->Stop();

    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.output, "is the package")) << run.output;
    EXPECT_EQ(ReadFile(package), packageBytes);
    EXPECT_TRUE(report.images.empty()) << report.text;
    EXPECT_FALSE(report.HasEvent("handshake")) << report.text;
}

// --- packages refused before anything is sent ----------------------------------------------

TEST_F(Vb27EndToEnd, BrokenPackagesAreRefusedBeforeAnyByteIsSent)
{
    struct Case {
        const char* what;
        Bytes bytes;
        std::string message;
    };
    std::vector<PackageEntry> small{FullPackage()[0], FullPackage()[1]};
    std::vector<Case> cases;

    Bytes badFlag = BuildPackage(small, 0xEFBEADDE);
    cases.push_back({"bad flag", badFlag, "is not equal to 0xefbeaddf!\n"});

    Bytes badCrc = BuildPackage(small);
    badCrc[OFFSET_CRC] ^= 0x01;
    cases.push_back({"bad CRC", badCrc, "is not equal to fwpkg crc:"});

    std::vector<PackageEntry> noLoader{small[1], small[0]};
    cases.push_back({"first entry not a loader", BuildPackage(noLoader), "The first file is not a loader.\n"});

    std::vector<PackageEntry> many{small[0]};
    for (int i = 1; i < 256; ++i) {
        many.push_back({"img" + std::to_string(i), TYPE_FLASH, static_cast<uint32_t>(0x1000 * i), 0x1000, Bytes{1}});
    }
    cases.push_back({"256 entries", BuildPackage(many),
                     "too many image or the header data length is greater than the file length!\n"});

    Bytes pastEnd = BuildPackage(small);
    PutLe32(pastEnd, HEADER_LENGTH + ENTRY_LENGTH + ENTRY_OFFSET_LENGTH,
            static_cast<uint32_t>(small[1].data.size() + 1));
    SealPackage(pastEnd);
    cases.push_back({"entry past the end of the file", pastEnd, ""});

    auto sim = StartSim();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string package = WritePackageBytes(c.bytes);
        const RunResult run = Run("--burn", *sim, package);
        EXPECT_EQ(run.exitCode, 4) << run.output;
        EXPECT_TRUE(Contains(run.output, "File: " + package + " format error!\n")) << run.output;
        EXPECT_TRUE(Contains(run.output, c.message)) << run.output;
        EXPECT_TRUE(Contains(run.output, "\nerror: Burn " + package + " failed!\n")) << run.output;
        EXPECT_TRUE(Contains(run.output, BURN_FAILED)) << run.output;
    }
    const SimReport report = sim->Stop();
    EXPECT_TRUE(report.images.empty()) << report.text;
    EXPECT_FALSE(report.HasEvent("handshake")) << report.text;
    EXPECT_TRUE(report.protocolErrors.empty()) << "the board received bytes: " << report.text;
}

// --- line faults ----------------------------------------------------------------------------

TEST_F(Vb27EndToEnd, NoiseBeforeEveryAnswerIsSkipped)
{
    const auto entries = FullPackage();
    const std::string package = WritePackage(entries);
    auto sim = StartSim("vb27", {"--noise", "7"});
    const RunResult run = Run("--burn", *sim, package, {"-re", "1"});
    const SimReport report = sim->Stop();
    ExpectCompleteBurn(run, report, sim->Flash(), entries);
    EXPECT_EQ(report.resets.size(), 1u);
}

TEST_F(Vb27EndToEnd, ARefusedOrCorruptedHandshakeAnswerIsFollowedByAnotherHandshake)
{
    const std::vector<PackageEntry> entries{FullPackage()[0], FullPackage()[1]};
    const std::string package = WritePackage(entries);
    for (const char* fault : {"--nak-frame", "--corrupt-answer"}) {
        SCOPED_TRACE(fault);
        auto sim = StartSim("vb27", {fault, "1"});
        const RunResult run = Run("--burn", *sim, package);
        const SimReport report = sim->Stop();
        ExpectCompleteBurn(run, report, sim->Flash(), entries);
    }
}

TEST_F(Vb27EndToEnd, ARefusedImageCommandIsSentAgainAndAccepted_Long)
{
    const std::vector<PackageEntry> entries{FullPackage()[0], FullPackage()[1], FullPackage()[3]};
    const std::string package = WritePackage(entries);
    // Frame 1 is the handshake; frame 2 announces app_1k.bin.
    auto sim = StartSim("vb27", {"--nak-frame", "2"});
    const RunResult run = Run("--burn", *sim, package, {}, "vb27", LONG_RUN_LIMIT_MS);
    const SimReport report = sim->Stop();

    ExpectCompleteBurn(run, report, sim->Flash(), entries);
    EXPECT_TRUE(Contains(run.output, "CheckAckFrame: ack result error: ")) << run.output;
    EXPECT_TRUE(report.HasEvent("refused as the fault plan asks")) << report.text;
}

TEST_F(Vb27EndToEnd, ASilentBoardEndsTheBurnWithTheHandshakeMessage_Long)
{
    const std::string package = WritePackage({FullPackage()[0], FullPackage()[1]});
    auto sim = StartSim("vb27", {"--silent"});
    const RunResult run = Run("--burn", *sim, package, {}, "vb27", LONG_RUN_LIMIT_MS);
    const SimReport report = sim->Stop();

    EXPECT_EQ(run.exitCode, 4) << run.output;
    EXPECT_EQ(CountOf(run.output, "Shakehand failed, The board does not respond.\n"), 2u) << run.output;
    EXPECT_TRUE(Contains(run.output, "\nerror: Burn " + package + " failed!\n")) << run.output;
    EXPECT_TRUE(Contains(run.output, BURN_FAILED)) << run.output;
    EXPECT_TRUE(report.images.empty()) << report.text;
}
