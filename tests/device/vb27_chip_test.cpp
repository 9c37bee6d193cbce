// The device library's own checks (bad handles and arguments refused with
// their messages before any chip operation runs, the chip object of the
// selected type), and the Vb27 chip object against a scripted boot ROM on a
// pseudo-terminal for what the end-to-end suite does not reach: the loader's
// frame size, a package burned without its loader, a missing final ACK, cancel.
#include <gtest/gtest.h>

#include "device/burn_qn4180_chip.h"
#include "device/burn_vb27_chip.h"
#include "device/device_library.h"
#include "pty_board.h"

namespace {

class DeviceLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.Ok());
        SetPacketSize(1024);
    }
    void TearDown() override
    {
        board.Join();
        DestroyDevice(handle);
        SetChipType(0);
        SetPacketSize(1024);
    }

    BurnVb27ChipSp::BurnVb27Chip* Open(uint32_t chipType, uint32_t baud = 115200)
    {
        SetChipType(chipType);
        handle = OpenSerialPort(board.SlavePath().c_str(), baud, 0, 0);
        return dynamic_cast<BurnVb27ChipSp::BurnVb27Chip*>(handle);
    }

    PtyBoard board;
    MessageCapture messages;
    DeviceHandle handle = nullptr;
    TempDir dir;
};

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
        SetPerPacketSize(nullptr, 1),
        SetIsReset(nullptr, 1),
        SetIsReady(nullptr, 1),
        SetCtrlPeriod(nullptr, 1),
        SetEraseMode(nullptr, 1),
        SetIsOnlyEraseAll(nullptr, 1),
        SetSwitchAfterLoader(nullptr, 1),
        SetBeforeReset(nullptr, 1),
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
    ASSERT_NE(Open(CHIP_TYPE_VB27), nullptr);
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

const Bytes ACK_OK = Vb27Ack(0x5A);
const Bytes ACK_THEN_C = [] {
    Bytes bytes = Vb27Ack(0x5A);
    bytes.push_back('C');  // the loader's YMODEM request right behind the ACK
    return bytes;
}();
const Bytes LOADER = Pattern(1500, 1);
const Bytes APP = Pattern(5000, 2);
const std::vector<PackageImage> PACKAGE = {{"loader.bin", 0, 0, 0x10000, LOADER}, {"app.bin", 1, 0x10000, 4097, APP}};

using Vb27Chip = DeviceLibrary;

TEST_F(Vb27Chip, LoaderGoesInKilobyteFramesAndImagesInThePacketSizeBehindTheirCommand)
{
    SetPacketSize(4096);
    ASSERT_NE(Open(CHIP_TYPE_VB27, 921600), nullptr);
    board.Play([](PtyBoard& b) {
        Vb27Command command;
        YmodemFile loader;
        YmodemFile app;
        if (!NextVb27Command(b, command, false)) {
            return;
        }
        EXPECT_EQ(command.code, 0xF0);
        EXPECT_EQ(command.U32(0), 921600u);
        EXPECT_EQ(Bytes(command.params.begin() + 4, command.params.end()), (Bytes{0x08, 0x01, 0x00, 0x00}));
        b.Write(ACK_THEN_C);
        if (!ReceiveYmodemFile(b, loader)) {
            return;
        }
        EXPECT_EQ(loader.name, "loader.bin");
        EXPECT_EQ(loader.frameDataSize, 1024u) << "the loader always goes in 1 KiB frames";
        EXPECT_EQ(loader.data, LOADER);
        b.Write(ACK_OK);
        if (!NextVb27Command(b, command)) {
            return;
        }
        EXPECT_EQ(command.code, 0xD2);
        EXPECT_EQ(command.raw.size(), 24u);
        EXPECT_EQ(command.U32(0), 0x10000u);
        EXPECT_EQ(command.U32(4), 5000u);
        EXPECT_EQ(command.U32(8), 8192u) << "region size rounded up to 4 KiB";
        EXPECT_EQ(command.params[12], 0x00);
        EXPECT_EQ(command.params[13], 0xFF);
        b.Write(ACK_THEN_C);
        if (ReceiveYmodemFile(b, app)) {
            EXPECT_EQ(app.name, "app.bin");
            EXPECT_EQ(app.frameDataSize, 4096u) << "images after the loader use the packet size";
            EXPECT_EQ(app.data, APP);
            b.Write(ACK_OK);
        }
    });
    const std::string package = WriteFile(dir.File("pkg.fwpkg"), BuildPackage(PACKAGE));
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Messages();
    board.Join();
    EXPECT_TRUE(messages.Has("downloaded: loader.bin successfully.\n"));
    EXPECT_TRUE(messages.Has("downloaded: app.bin successfully.\n"));
    EXPECT_FALSE(messages.Has("timeout")) << messages.Messages();
}

TEST_F(Vb27Chip, MissingFinalAckIsReportedAndTheBurnGoesOn)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open(CHIP_TYPE_VB27);
    ASSERT_NE(chip, nullptr);
    BurnVb27ChipSp::Vb27Windows windows;
    windows.imageAck = 300;
    chip->SetWindows(windows);
    board.Play([](PtyBoard& b) {
        Vb27Command handshake;
        YmodemFile loader;
        if (NextVb27Command(b, handshake, false)) {
            b.Write(ACK_THEN_C);
            ReceiveYmodemFile(b, loader);
        }
    });
    const std::string package = WriteFile(dir.File("pkg.fwpkg"), BuildPackage({PACKAGE[0]}));
    EXPECT_EQ(DownloadAllinoneBin(handle, package.c_str(), 0), 1) << messages.Messages();
    EXPECT_TRUE(messages.Has("Ack receiving timeout.\ndownloaded: loader.bin successfully.\n")) << messages.Messages();
}

TEST_F(Vb27Chip, CancelEndsTheRunningCommand)
{
    ASSERT_NE(Open(CHIP_TYPE_VB27), nullptr);
    EXPECT_EQ(Cancel(handle), 1);
    EXPECT_EQ(EraseAllFlash(handle, nullptr), 0);
    EXPECT_TRUE(messages.Has("\nUser Cancelled!\n"));
}

} // namespace
