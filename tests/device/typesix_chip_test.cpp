// The TypeSix chip object's own whole-package burn, which the end-to-end
// suite and the tool's jobs do not reach, against tarnwick-sim's TypeSix
// board, whose report tells what the board received. Its refusals and the
// reset after a failed image: typesix_link_test.cpp.
#include <gtest/gtest.h>

#include "pty_board.h"
#include "support/sim_launcher.h"

namespace {

// The digest entry holds only for the image after it, and every image goes
// with its own file type.
TEST_F(TypeSixChip, PackageBurnOnTheSimulatorGivesEveryImageItsOwnFileTypeAndDigest)
{
    if (access(SimPath().c_str(), X_OK) != 0) {
        GTEST_SKIP() << "tarnwick-sim is not built at " << SimPath();
    }
    const Bytes ssb = Pattern(83 * 4096 - 100, 1);  // its exit frame's check byte is 0x5C
    const Bytes flashImage = Pattern(9000, 2);
    const Bytes flashDigest = Sha256(flashImage);
    const Bytes app = Pattern(5000, 3);
    const Bytes app20 = Pattern(4096, 6);
    const std::string package = Saved(dir.File("fw.fwpkg"), BuildPackage({
                                                                 {"ssb.bin", 0, 0, 0, ssb},
                                                                 {"ssb.sha", 24, 0, 0, Sha256(ssb)},
                                                                 {"flash", 102, 0, 0, flashDigest},  // of "flash_a"
                                                                 {"flash_a.bin", 100, 0x100000, 0x10000, flashImage},
                                                                 {"bt.bin", 18, 0, 0x00040000, app},
                                                                 {"app.bin", 20, 0, 0x1000, app20},
                                                             }));
    SimProcess sim({"--family", "typesix", "--report", dir.File("report.json"), "--flash", dir.File("flash.bin")});
    ASSERT_TRUE(sim.Ok());
    // Opened as the tool opens it: the port at 115200, baud the rate of the image transfers.
    const DeviceHandle handle = OpenSerialPort(sim.Port().c_str(), 921600, 0, 0);
    SetHandshakeTimeout(handle, 15000);
    SetIsReset(handle, 0);  // the ssb must keep running from image to image
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Messages();
    DestroyDevice(handle);
    sim.Stop(2000);
    const SimReport report = ReadSimReport(dir.File("report.json"));
    EXPECT_TRUE(report.protocolErrors.empty()) << report.text;

    // A digest entry goes out like any image, with the file type in force.
    const struct {
        const char* kind;
        const Bytes& data;
        const char* digestMatched;  // -1 where the board has no digest to compare
        const char* fileType;       // "": not checked
    } expected[] = {{"ssb", ssb, "1", ""},
                    {"app", flashDigest, "-1", ""},
                    {"flash", flashImage, "1", ""},
                    {"app", app, "-1", "2"},
                    {"app", app20, "-1", "0"}};
    const std::vector<std::string> images = report.List("images");
    ASSERT_EQ(images.size(), 5u) << report.text;
    for (size_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(Field(images[i], "kind"), expected[i].kind) << images[i];
        EXPECT_EQ(Field(images[i], "sha256"), Hex(Sha256(expected[i].data))) << images[i];
        EXPECT_EQ(Field(images[i], "digestMatched"), expected[i].digestMatched) << images[i];
        EXPECT_TRUE(*expected[i].fileType == '\0' || Field(images[i], "fileType") == expected[i].fileType) << images[i];
    }
    EXPECT_EQ(Field(images[2], "address"), std::to_string(0x00100000));
}

}  // namespace
