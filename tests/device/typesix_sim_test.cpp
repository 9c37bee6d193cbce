// The TypeSix chip object through the device library against tarnwick-sim's
// TypeSix board: whole-package burns with and without a small ssb, erase all,
// and read-back of flash that holds 0x5C bytes. The simulator's report tells
// what the board received.
#include <gtest/gtest.h>

#include "device/device_library.h"
#include "device/typesix/burn_typesix_chip.h"
#include "pty_board.h"

namespace {

// What the board's report must say about one received image.
struct Received {
    const char* kind;
    Bytes data;
    const char* digestMatched;  // "1", or "-1" where the board has no digest to compare
};

class TypeSixChipOnSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access(SimPath().c_str(), X_OK) != 0) {
            GTEST_SKIP() << "tarnwick-sim is not built at " << SimPath();
        }
        SetChipType(CHIP_TYPE_TYPESIX);
    }

    void TearDown() override
    {
        DestroyDevice(handle);
        if (sim) {
            sim->Stop(2000);
        }
        SetChipType(0);
    }

    // Starts the board and opens it as the tool does: the port at 115200,
    // baud the rate of the image transfers.
    void Start(uint32_t baud = 921600)
    {
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--family", "typesix", "--report",
                                                                  dir.File("report.json"), "--flash", FlashPath()});
        ASSERT_TRUE(sim->Ok());
        handle = OpenSerialPort(sim->Port().c_str(), baud, 0, 0);
        ASSERT_NE(dynamic_cast<BurnTypeSixChip*>(handle), nullptr);
        SetHandshakeTimeout(handle, 15000);
    }

    // Loads the ssb from files, as a job does before erase or read.
    std::string SsbSpec(const Bytes& ssb)
    {
        return WriteFile(dir.File("ssb.bin"), ssb) + "|" + WriteFile(dir.File("ssb.sha"), Sha256(ssb)) + "||||";
    }

    SimReport Finish()
    {
        DestroyDevice(handle);
        handle = nullptr;
        sim->Stop(2000);
        const SimReport report = ReadSimReport(dir.File("report.json"));
        EXPECT_TRUE(report.List("protocolErrors").empty()) << report.text;
        return report;
    }

    static void ExpectImages(const SimReport& report, const std::vector<Received>& expected)
    {
        const std::vector<std::string> images = report.List("images");
        ASSERT_EQ(images.size(), expected.size()) << report.text;
        for (size_t i = 0; i < images.size(); ++i) {
            EXPECT_EQ(Field(images[i], "kind"), expected[i].kind) << images[i];
            EXPECT_EQ(Field(images[i], "length"), std::to_string(expected[i].data.size())) << images[i];
            EXPECT_EQ(Field(images[i], "sha256"), Hex(Sha256(expected[i].data))) << images[i];
            EXPECT_EQ(Field(images[i], "digestMatched"), expected[i].digestMatched) << images[i];
        }
    }

    std::string FlashPath() const { return dir.File("flash.bin"); }

    TempDir dir;
    MessageCapture messages;
    std::unique_ptr<SimProcess> sim;
    DeviceHandle handle = nullptr;
};

TEST_F(TypeSixChipOnSim, PackageWithoutSmallSsbLoadsTheSsbAndBurnsEveryImageAtTheAskedRate)
{
    const Bytes ssb = Pattern(83 * 4096 - 100, 1);  // its exit frame's check byte is 0x5C
    const Bytes flashImage = Pattern(9000, 2);
    const Bytes flashDigest = Sha256(flashImage);
    const Bytes app = Pattern(5000, 3);
    const std::string package = WriteFile(dir.File("fw.fwpkg"), BuildPackage({
                                                                    {"ssb.bin", 0, 0, 0, ssb},
                                                                    {"ssb.sha", 24, 0, 0, Sha256(ssb)},
                                                                    {"flash", 102, 0, 0, flashDigest},  // found in "flash_a"
                                                                    {"flash_a.bin", 100, 0x100000, 0x10000, flashImage},
                                                                    {"bt.bin", 18, 0, 0x00040000, app},
                                                                }));
    Start();
    SetIsReset(handle, 0);  // the ssb must keep running from image to image
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Messages();
    EXPECT_EQ(Reset(handle), 1);
    const SimReport report = Finish();

    // A digest entry goes out like any image, with the file type in force.
    ExpectImages(report, {{"ssb", ssb, "1"}, {"app", flashDigest, "-1"}, {"flash", flashImage, "1"}, {"app", app, "-1"}});
    const std::vector<std::string> images = report.List("images");
    ASSERT_EQ(images.size(), 4u);
    EXPECT_EQ(Field(images[2], "address"), std::to_string(0x00100000));
    EXPECT_EQ(Field(images[3], "fileType"), "2");
    EXPECT_EQ(report.List("resets"), std::vector<std::string>{"\"5c73000c000000000c5c65\""});
    EXPECT_EQ(report.List("baudChanges"), (std::vector<std::string>{"921600", "115200"}));
    const Bytes flash = ReadFile(FlashPath());
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
    const std::string package = WriteFile(dir.File("fw.fwpkg"), BuildPackage({
                                                                    {"small.bin", 28, 0, 0, small},
                                                                    {"small.sha", 29, 0, 0, Sha256(small)},
                                                                    {"ssb.bin", 0, 0, 0, ssb},
                                                                    {"ssb.sha", 24, 0, 0, Sha256(ssb)},
                                                                    {"app.bin", 20, 0, 0x1000, app},
                                                                }));
    Start(115200);
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Messages();
    const SimReport report = Finish();

    ExpectImages(report, {{"ssb", small, "1"}, {"ssb", ssb, "1"}, {"app", app, "-1"}});
    EXPECT_EQ(Field(report.List("images").at(2), "fileType"), "0");
    ASSERT_EQ(report.List("erases").size(), 1u);
    EXPECT_EQ(Field(report.List("erases")[0], "what"), "ssb");
    // With the reset setting on, the last image ends with the protocol's reset frame.
    EXPECT_EQ(report.List("resets").size(), 1u);
    EXPECT_TRUE(report.List("baudChanges").empty()) << "115200 asked for, 115200 kept";
    EXPECT_TRUE(messages.Has("load small ssb success.\n"));
}

TEST_F(TypeSixChipOnSim, EraseAllLoadsTheSsbThenErasesTheWholeFlash)
{
    WriteFile(FlashPath(), Bytes(0x10000, 0x00));
    Start();
    EXPECT_EQ(EraseAllFlash(handle, SsbSpec(Pattern(2000, 13)).c_str()), 1) << messages.Messages();
    const SimReport report = Finish();

    ASSERT_EQ(report.List("erases").size(), 1u) << report.text;
    EXPECT_EQ(Field(report.List("erases")[0], "what"), "all");
    const Bytes after = ReadFile(FlashPath());
    ASSERT_GE(after.size(), 0x10000u);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_TRUE(messages.Has("Erasing all images ...\nIt takes a few minutes."));
}

TEST_F(TypeSixChipOnSim, ReadBackOfTenThousandBytesWithEscapedBytesMatchesTheFlash)
{
    Bytes flash(0x10000, 0xFF);
    const Bytes content = Pattern(10000, 11);
    std::copy(content.begin(), content.end(), flash.begin() + 0x1000);
    flash[0x1000 + 4095] = 0x5C;  // the last byte of the first block
    flash[0x1000 + 4096] = 0x5C;  // the first of the second
    WriteFile(FlashPath(), flash);
    Start();
    SetIsReady(handle, 0);
    ASSERT_EQ(BootDownload(handle, SsbSpec(Pattern(4100, 12)).c_str(), 0, 0, nullptr, nullptr), 1) << messages.Messages();
    const std::string out = dir.File("read.bin");
    EXPECT_EQ(UploadFile(handle, 0x1000, 10000, out.c_str()), 1) << messages.Messages();
    const SimReport report = Finish();

    EXPECT_EQ(ReadFile(out), Bytes(flash.begin() + 0x1000, flash.begin() + 0x1000 + 10000));
    // The protocol's reset: its own sequence byte, code 0C, four zero bytes.
    const std::vector<std::string> resets = report.List("resets");
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0].substr(7, 10), "0c00000000") << resets[0];
    EXPECT_EQ(report.List("baudChanges"), (std::vector<std::string>{"921600", "115200"}));
}

}  // namespace
