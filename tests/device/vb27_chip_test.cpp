// The device library's own checks (bad handles and arguments refused with
// their messages before any chip operation runs, the chip object of the
// selected type), and the Vb27 chip object against a scripted boot ROM on a
// pseudo-terminal for what the end-to-end suite does not reach: the frame
// sizes of the loader and the images, a missing final ACK, cancel.
#include <gtest/gtest.h>

#include "device/burn_vb27_chip.h"
#include "pty_board.h"

namespace {

using DeviceLibrary = LibraryChipOnPty;

TEST_F(DeviceLibrary, EveryHandleFunctionRefusesANullHandle)
{
    unsigned char byte = 0;
    const int results[] = {
        Reset(nullptr),
        Cancel(nullptr),
        BootDownload(nullptr, "boot.bin", 0, 0, nullptr, nullptr),
        DownloadAllinoneBin(nullptr, "pkg.fwpkg", 0),
        EraseAllFlash(nullptr, nullptr),
        EraseFlash(nullptr, 0, 0),
        DownloadToFlash(nullptr, "a.bin", 0, 0, 0, 0, 0, 0),
        DownloadToDdr(nullptr, "a.bin", nullptr, 0, 0),
        UploadFile(nullptr, 0, 1, "out.bin"),
        SendCmd(nullptr, &byte, 1, nullptr, 0, 0),
        SendBytes(nullptr, &byte, 1),
        ReceiveBytes(nullptr, &byte, 1),
        SetHandshakeTimeout(nullptr, 1),
        SetAtResetCommand(nullptr, "AT"),
    };
    std::string expected;
    for (int result : results) {
        EXPECT_EQ(result, 0);
        expected += "invalid handle.\n";
    }
    EXPECT_EQ(messages.Take(), expected);
    EXPECT_EQ(DestroyDevice(nullptr), 1);
    EXPECT_EQ(GetSerialPortList(nullptr, 10), -1);
}

TEST_F(DeviceLibrary, OpenFailsWithoutAPortOrAChipClass)
{
    EXPECT_EQ(OpenSerialPort(nullptr, 115200, 0, 0), nullptr);
    EXPECT_EQ(messages.Take(), "com name is null\n");
    for (uint32_t chipType : {0x20004u, 0x30001u}) {  // department 2; department 3 without a chip class
        SetChipType(chipType);
        EXPECT_EQ(BurnChipBase::m_department, chipType >> 16);
        EXPECT_EQ(OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0), nullptr);
        EXPECT_EQ(messages.Take(), "new transport failed\n");
    }
    SetChipType(CHIP_TYPE_VB27);
    EXPECT_EQ(OpenSerialPort("/dev/tarnwick-no-such-port", 115200, 0, 0), nullptr);
}

TEST_F(DeviceLibrary, ArgumentsAreCheckedBeforeTheBoardIsTouched)
{
    ASSERT_NE(Open<BurnVb27ChipSp::BurnVb27Chip>(CHIP_TYPE_VB27), nullptr);
    unsigned char byte = 0;
    EXPECT_EQ(DownloadAllinoneBin(handle, "", 0), 0);
    EXPECT_EQ(messages.Take(), "burn file path is null.\n");
    EXPECT_EQ(UploadFile(handle, 0, 16, ""), 0);
    EXPECT_EQ(UploadFile(handle, 0, 16, nullptr), 0);
    EXPECT_EQ(messages.Take(), "upload file path is null.\nupload file path is null.\n");
    EXPECT_EQ(SendCmd(handle, nullptr, 1, nullptr, 0, 0), 0);
    EXPECT_EQ(SendCmd(handle, &byte, 0, nullptr, 0, 0), 0);
    EXPECT_EQ(messages.Take(), "send cmd data is null.\nsend cmd data length equals 0.\n");
    EXPECT_EQ(SendBytes(handle, nullptr, 1), 0);
    EXPECT_EQ(SendBytes(handle, &byte, 0), 0);
    EXPECT_EQ(messages.Take(), "send bytes is null.\nsend bytes length equals 0.\n");
    EXPECT_EQ(ReceiveBytes(handle, nullptr, 1), 0);
    EXPECT_EQ(ReceiveBytes(handle, &byte, 0), 0);
    EXPECT_EQ(messages.Take(), "recevie data is null.\nrecevie length equals 0.\n");
    EXPECT_TRUE(board.Drain(50).empty()) << "nothing reached the board";
    EXPECT_EQ(SendBytes(handle, &byte, 1), 1);
}

// --- the Vb27 chip over a pseudo-terminal ---------------------------------------------

// The boot ROM and its loader as far as these tests need them: each command
// frame gets a positive ACK and the loader's 'C' (handshakes still on their way
// are passed over), each image comes by YMODEM and gets a positive ACK frame at
// its end, except the last one when `lastAck` is off. What the images hold,
// the CRCs and the block numbers are checked end to end against the simulator.
struct Vb27Rom {
    size_t images;
    bool lastAck = true;
    std::vector<size_t> frameSizes;  // data bytes of each image's first data frame

    void Play(PtyBoard& b)
    {
        bool commandDue = true;
        for (size_t done = 0; done < images;) {
            const Bytes head = b.Read(1);
            const Bytes fixed = !head.empty() && head[0] == 0xEF ? b.Read(5) : Bytes{};
            if (head.empty()) {
                ADD_FAILURE() << "the tool stopped before image " << done + 1;
                return;
            }
            if (head[0] == 0xEF) {
                if (fixed.empty() || b.Read(static_cast<size_t>(fixed[3] | fixed[4] << 8) - 6).empty()) {
                    return;
                }
                if (commandDue) {
                    b.Write(Concat({ShakeReply(12, 0x5A), {'C'}}));
                    commandDue = false;
                }
            } else if (head[0] == 0x01) {  // block 0: name and size, or the empty one that ends the file
                const Bytes block = b.Read(132);
                if (block.empty()) {
                    return;
                }
                b.Write(Bytes{0x06});
                if (block[2] != 0) {
                    frameSizes.push_back(0);
                    continue;
                }
                if (++done < images || lastAck) {
                    b.Write(ShakeReply(12, 0x5A));
                }
                commandDue = true;
            } else if (head[0] == 0x04) {
                b.Write(Bytes{0x06});
            } else {
                const size_t size = head[0] == 0x02 ? 1024 : head[0] == 0x0A ? 2048 : head[0] == 0x0B ? 4096 : 8192;
                const Bytes rest = b.Read(size + 4);
                if (rest.empty() || frameSizes.empty()) {
                    return;
                }
                frameSizes.back() = frameSizes.back() == 0 ? size : frameSizes.back();
                b.Write(Bytes{0x06});
            }
        }
    }
};

const std::vector<PackageImage> PACKAGE = {{"loader.bin", 0, 0, 0x10000, Pattern(1500, 1)},
                                           {"app.bin", 1, 0x10000, 4097, Pattern(5000, 2)}};

using Vb27Chip = LibraryChipOnPty;

TEST_F(Vb27Chip, LoaderGoesInKilobyteFramesAndImagesInThePacketSize)
{
    SetPacketSize(4096);
    ASSERT_NE(Open<BurnVb27ChipSp::BurnVb27Chip>(CHIP_TYPE_VB27, 921600), nullptr);
    Vb27Rom rom{2, true, {}};
    board.Play([&rom](PtyBoard& b) { rom.Play(b); });
    const std::string package = Saved(dir.File("pkg.fwpkg"), BuildPackage(PACKAGE));
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Messages();
    board.Join();
    EXPECT_EQ(rom.frameSizes, (std::vector<size_t>{1024, 4096}));
    EXPECT_TRUE(messages.Has("downloaded: app.bin successfully.\n"));
    EXPECT_FALSE(messages.Has("timeout")) << messages.Messages();
}

TEST_F(Vb27Chip, MissingFinalAckIsReportedAndTheBurnGoesOn)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open<BurnVb27ChipSp::BurnVb27Chip>(CHIP_TYPE_VB27);
    ASSERT_NE(chip, nullptr);
    BurnVb27ChipSp::Vb27Windows windows;
    windows.imageAck = 300;
    chip->SetWindows(windows);
    Vb27Rom rom{1, false, {}};
    board.Play([&rom](PtyBoard& b) { rom.Play(b); });
    const std::string package = Saved(dir.File("pkg.fwpkg"), BuildPackage({PACKAGE[0]}));
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Messages();
    board.Join();  // the script lives on this stack
    EXPECT_TRUE(messages.Has("Ack receiving timeout.\ndownloaded: loader.bin successfully.\n")) << messages.Messages();
}

TEST_F(Vb27Chip, CancelEndsTheRunningCommand)
{
    ASSERT_NE(Open<BurnVb27ChipSp::BurnVb27Chip>(CHIP_TYPE_VB27), nullptr);
    EXPECT_EQ(Cancel(handle), 1);
    EXPECT_EQ(EraseAllFlash(handle, nullptr), 0);
    EXPECT_TRUE(messages.Has("\nUser Cancelled!\n"));
}

} // namespace
