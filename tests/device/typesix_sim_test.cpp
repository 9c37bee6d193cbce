// The TypeSix chip object through the device library against tarnwick-sim's
// TypeSix board: whole-package burns with and without a small ssb, a board
// that still runs an ssb, a board that falls back to its ROM, and read-back
// of flash that holds 0x5C bytes. The simulator's report tells what the board
// received.
#include <gtest/gtest.h>

#include "device/device_library.h"
#include "device/typesix/burn_typesix_chip.h"
#include "typesix_test_support.h"

namespace {

using TypeSixTest::Hex;
using TypeSixTest::PackageImage;
using TypeSixTest::Pattern;
using TypeSixTest::Sha256;

const std::string RESET_WIRE = "\"5c73000c000000000c5c65\"";

class TypeSixChipOnSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!TypeSixTest::SimBuilt()) {
            GTEST_SKIP() << "tarnwick-sim is not built at " << TypeSixTest::SimPath();
        }
        SetChipType(CHIP_TYPE_TYPESIX);
    }

    void TearDown() override
    {
        DestroyDevice(handle);
        if (sim) {
            sim->Stop();
        }
        SetChipType(0);
    }

    // Starts the board and opens it as the tool does: the port at 115200,
    // baud the rate of the image transfers.
    void Start(const std::vector<std::string>& faults = {}, uint32_t baud = 921600)
    {
        std::vector<std::string> options = {"--report", ReportPath(), "--flash", FlashPath()};
        options.insert(options.end(), faults.begin(), faults.end());
        sim = std::make_unique<TypeSixTest::SimBoard>(options);
        ASSERT_TRUE(sim->Ok());
        handle = OpenSerialPort(sim->PtyPath().c_str(), baud, 0, 0);
        ASSERT_NE(handle, nullptr);
        ASSERT_NE(dynamic_cast<BurnTypeSixChip*>(handle), nullptr);
        SetHandshakeTimeout(handle, 15000);
    }

    // A board that was never reset waits for the tool to come back: graceMs
    // is how long it gets to end by itself.
    TypeSixTest::SimReport Finish(int graceMs = 2000)
    {
        DestroyDevice(handle);
        handle = nullptr;
        sim->Stop(graceMs);
        return TypeSixTest::ReadReport(ReportPath());
    }

    std::string ReportPath() const { return dir.File("report.json"); }
    std::string FlashPath() const { return dir.File("flash.bin"); }

    std::string WritePackage(const std::vector<PackageImage>& images)
    {
        const std::string path = dir.File("fw.fwpkg");
        TypeSixTest::WriteFile(path, TypeSixTest::BuildPackage(images));
        return path;
    }

    static void ExpectImage(const TypeSixTest::SimImage& image, const std::string& kind, const Bytes& data,
                            int digestMatched)
    {
        EXPECT_EQ(image.kind, kind);
        EXPECT_EQ(image.length, data.size()) << kind;
        EXPECT_EQ(image.sha256, Hex(Sha256(data))) << kind;
        EXPECT_EQ(image.digestMatched, digestMatched) << kind;
    }

    TypeSixTest::TempDir dir;
    MessageCapture messages;
    std::unique_ptr<TypeSixTest::SimBoard> sim;
    DeviceHandle handle = nullptr;
};

// --- whole package -------------------------------------------------------------------

TEST_F(TypeSixChipOnSim, PackageWithoutSmallSsbLoadsTheSsbAndBurnsEveryImageAtTheAskedRate)
{
    const Bytes ssb = Pattern(83 * 4096 - 100, 1);  // its exit frame's check byte is 0x5C
    const Bytes flashImage = Pattern(9000, 2);
    const Bytes flashDigest = Sha256(flashImage);
    const Bytes app = Pattern(5000, 3);
    const std::string package = WritePackage({
        {"ssb.bin", 0, ssb},
        {"ssb.sha", 24, Sha256(ssb)},
        {"flash", 102, flashDigest, 0, 0},  // found by name inside "flash_a"
        {"flash_a.bin", 100, flashImage, 0x00100000, 0x00010000},
        {"bt.bin", 18, app, 0, 0x00040000},
    });
    Start();
    SetIsReset(handle, 0);  // the ssb must keep running from image to image
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Get();
    EXPECT_EQ(Reset(handle), 1);
    const TypeSixTest::SimReport report = Finish();

    EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
    ASSERT_EQ(report.images.size(), 4u) << report.text;
    ExpectImage(report.images[0], "ssb", ssb, 1);
    // A digest entry goes out like any image, with the file type in force.
    ExpectImage(report.images[1], "app", flashDigest, -1);
    ExpectImage(report.images[2], "flash", flashImage, 1);
    EXPECT_EQ(report.images[2].address, 0x00100000u);
    ExpectImage(report.images[3], "app", app, -1);
    EXPECT_EQ(report.images[3].fileType, 2);
    EXPECT_EQ(report.resets, std::vector<std::string>{RESET_WIRE});
    EXPECT_EQ(report.baudChanges, (std::vector<std::string>{"921600", "115200"}));

    const Bytes flash = TypeSixTest::ReadFile(FlashPath());
    ASSERT_GE(flash.size(), 0x00100000u + flashImage.size());
    EXPECT_EQ(Bytes(flash.begin() + 0x00100000, flash.begin() + 0x00100000 + 9000), flashImage);
    EXPECT_TRUE(messages.Has("burn flash_a.bin successfully.\n"));
    EXPECT_TRUE(messages.Has("burn bt.bin successfully.\n"));
}

TEST_F(TypeSixChipOnSim, PackageWithSmallSsbLoadsItFirstAndErasesItBeforeTheSsb)
{
    const Bytes small = Pattern(3000, 4);
    const Bytes ssb = Pattern(6000, 5);
    const Bytes app = Pattern(4096, 6);
    const std::string package = WritePackage({
        {"small.bin", 28, small},
        {"small.sha", 29, Sha256(small)},
        {"ssb.bin", 0, ssb},
        {"ssb.sha", 24, Sha256(ssb)},
        {"app.bin", 20, app, 0, 0x1000},
    });
    Start({}, 115200);
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Get();
    const TypeSixTest::SimReport report = Finish();

    EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
    ASSERT_EQ(report.images.size(), 3u) << report.text;
    ExpectImage(report.images[0], "ssb", small, 1);
    ExpectImage(report.images[1], "ssb", ssb, 1);
    ExpectImage(report.images[2], "app", app, -1);
    EXPECT_EQ(report.images[2].fileType, 0);
    ASSERT_EQ(report.erases.size(), 1u);
    EXPECT_NE(report.erases[0].find("\"ssb\""), std::string::npos);
    // With the reset setting on, the last image ends with the protocol's reset frame.
    ASSERT_EQ(report.resets.size(), 1u);
    EXPECT_TRUE(report.baudChanges.empty()) << "115200 asked for, 115200 kept";
    EXPECT_TRUE(messages.Has("load small ssb success.\n"));
}

TEST_F(TypeSixChipOnSim, BoardStillRunningAnSsbGetsItErasedFirst)
{
    const Bytes ssb = Pattern(5000, 7);
    const Bytes app = Pattern(100, 8);
    const std::string package = WritePackage({
        {"ssb.bin", 0, ssb},
        {"ssb.sha", 24, Sha256(ssb)},
        {"app.bin", 26, app, 0, 0x1000},
    });
    Start({"--ssb-running"});
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Get();
    const TypeSixTest::SimReport report = Finish();

    EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
    ASSERT_EQ(report.images.size(), 2u) << report.text;
    ExpectImage(report.images[0], "ssb", ssb, 1);
    EXPECT_EQ(report.images[1].fileType, 4);
    ASSERT_EQ(report.erases.size(), 1u);
}

TEST_F(TypeSixChipOnSim, PackageWithWrongCrcIsRefusedBeforeTheBoardIsTouched)
{
    Bytes bytes = TypeSixTest::BuildPackage({{"ssb.bin", 0, Pattern(100, 9)}});
    bytes[4] ^= 0x01;
    const std::string package = dir.File("bad.fwpkg");
    TypeSixTest::WriteFile(package, bytes);
    Start();
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 0);
    EXPECT_TRUE(messages.Has("is not equal to fwpkg crc")) << messages.Get();
    EXPECT_TRUE(messages.Has("parse file:" + package + " failed!\n"));
    const TypeSixTest::SimReport report = Finish(100);
    EXPECT_TRUE(report.images.empty());
    EXPECT_TRUE(report.protocolErrors.empty());
}

// --- second-stage boot ----------------------------------------------------------------

TEST_F(TypeSixChipOnSim, BoardThatFallsBackToItsRomFailsTheSsbLoad)
{
    const Bytes ssb = Pattern(4096, 10);
    const std::string ssbPath = dir.File("ssb.bin");
    const std::string shaPath = dir.File("ssb.sha");
    TypeSixTest::WriteFile(ssbPath, ssb);
    TypeSixTest::WriteFile(shaPath, Sha256(ssb));
    Start({"--fall-back-to-rom"});
    SetIsReady(handle, 0);
    const std::string spec = ssbPath + "|" + shaPath + "||||";
    EXPECT_EQ(BootDownload(handle, spec.c_str(), 0, 0, nullptr, nullptr), 0);
    EXPECT_TRUE(messages.Has("codeloader not received!\n")) << messages.Get();
    const TypeSixTest::SimReport report = Finish(100);
    ASSERT_EQ(report.images.size(), 1u) << report.text;
    ExpectImage(report.images[0], "ssb", ssb, 1);
}

TEST_F(TypeSixChipOnSim, EraseAllLoadsTheSsbThenErasesTheWholeFlash)
{
    Bytes flash(0x10000, 0x00);
    TypeSixTest::WriteFile(FlashPath(), flash);
    const Bytes ssb = Pattern(2000, 13);
    TypeSixTest::WriteFile(dir.File("ssb.bin"), ssb);
    TypeSixTest::WriteFile(dir.File("ssb.sha"), Sha256(ssb));
    Start();
    const std::string spec = dir.File("ssb.bin") + "|" + dir.File("ssb.sha") + "||||";
    EXPECT_EQ(EraseAllFlash(handle, spec.c_str()), 1) << messages.Get();
    const TypeSixTest::SimReport report = Finish();

    EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
    ASSERT_EQ(report.erases.size(), 1u) << report.text;
    EXPECT_NE(report.erases[0].find("\"all\""), std::string::npos);
    const Bytes after = TypeSixTest::ReadFile(FlashPath());
    ASSERT_GE(after.size(), flash.size());
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_TRUE(messages.Has("Erasing all images ...\nIt takes a few minutes."));
}

// --- read-back ------------------------------------------------------------------------

TEST_F(TypeSixChipOnSim, ReadBackOfTenThousandBytesWithEscapedBytesMatchesTheFlash)
{
    Bytes flash(0x10000, 0xFF);
    const Bytes content = Pattern(10000, 11);
    std::copy(content.begin(), content.end(), flash.begin() + 0x1000);
    flash[0x1000 + 4095] = 0x5C;  // the last byte of the first block
    flash[0x1000 + 4096] = 0x5C;  // the first of the second
    TypeSixTest::WriteFile(FlashPath(), flash);
    const Bytes ssb = Pattern(4100, 12);
    TypeSixTest::WriteFile(dir.File("ssb.bin"), ssb);
    TypeSixTest::WriteFile(dir.File("ssb.sha"), Sha256(ssb));

    Start();
    SetIsReady(handle, 0);
    const std::string spec = dir.File("ssb.bin") + "|" + dir.File("ssb.sha") + "||||";
    ASSERT_EQ(BootDownload(handle, spec.c_str(), 0, 0, nullptr, nullptr), 1) << messages.Get();
    const std::string out = dir.File("read.bin");
    EXPECT_EQ(UploadFile(handle, 0x1000, 10000, out.c_str()), 1) << messages.Get();
    const TypeSixTest::SimReport report = Finish();

    EXPECT_EQ(TypeSixTest::ReadFile(out), Bytes(flash.begin() + 0x1000, flash.begin() + 0x1000 + 10000));
    EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
    // The protocol's reset: its own sequence byte, code 0C, four zero bytes.
    ASSERT_EQ(report.resets.size(), 1u);
    EXPECT_EQ(report.resets[0].substr(7, 10), "0c00000000") << report.resets[0];
    EXPECT_EQ(report.baudChanges, (std::vector<std::string>{"921600", "115200"}));
}

}  // namespace
