// The TypeSix chip object against a scripted board on a pseudo-terminal, for
// what the end-to-end suite does not reach: refusals before anything is sent
// and the reset after a failed image.
#include <gtest/gtest.h>

#include "device/typesix/burn_typesix_chip.h"
#include "pty_board.h"

namespace {

class TypeSixChipOverPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetChipType(0x30002);
        handle = OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0);
        chip = dynamic_cast<BurnTypeSixChip*>(handle);
        ASSERT_NE(chip, nullptr);
    }

    void TearDown() override
    {
        board.Join();
        DestroyDevice(handle);
        SetChipType(0);
    }

    // Nothing may reach the board while the operation runs.
    void ExpectSilentLine(const std::function<void()>& operation)
    {
        board.Play([](PtyBoard& b) { b.Drain(300); });
        operation();
        board.Join();
        EXPECT_TRUE(board.Log().empty());
    }

    TempDir dir;
    PtyBoard board;
    MessageCapture messages;
    DeviceHandle handle = nullptr;
    BurnTypeSixChip* chip = nullptr;
};

TEST_F(TypeSixChipOverPty, PackageWithAnImagePastItsEndIsRefused)
{
    Bytes shortPackage = BuildPackage({{"ssb.bin", 0, 0, 0, Bytes(100, 1)}, {"app.bin", 20, 0, 0, Bytes(100, 2)}});
    shortPackage.pop_back();  // the table and its CRC stay intact
    const std::string cut = Saved(dir.File("short.fwpkg"), shortPackage);
    ExpectSilentLine([&] {
        EXPECT_EQ(DownloadAllinoneBin(handle, cut.c_str(), 0), 0);
        EXPECT_TRUE(chip->GetPartitionList().empty());
    });
    EXPECT_TRUE(messages.Has("image app.bin reaches past the end of the package")) << messages.Messages();
}

TEST_F(TypeSixChipOverPty, ImageThatCannotBeOpenedFailsAndIsResetOnlyWhenTheResetSettingIsOn)
{
    SetIsReady(handle, 0);
    const std::string missing = dir.File("missing.bin");
    ExpectSilentLine([&] {
        SetIsReset(handle, 0);
        EXPECT_EQ(DownloadToFlash(handle, missing.c_str(), 0, 0, 0x1000, 0x1000, 0, 100), 0);
    });
    EXPECT_TRUE(messages.Has("get file content failed: " + missing + "\n")) << messages.Messages();
    board.Play([](PtyBoard& b) { b.Drain(300); });
    SetIsReset(handle, 1);
    EXPECT_EQ(DownloadToFlash(handle, missing.c_str(), 0, 0, 0, 0x1000, 0, 100), 0);
    board.Join();
    EXPECT_EQ(board.Log(), Wire({0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C}));
}

}  // namespace
