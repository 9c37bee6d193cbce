// The device library's own checks: bad handles and arguments are refused with
// their messages before any chip operation runs, and OpenSerialPort creates
// the chip object of the selected chip type.
#include <gtest/gtest.h>

#include <string>

#include "device/burn_qn4180_chip.h"
#include "device/burn_vb27_chip.h"
#include "device/device_library.h"
#include "vb27_board_peer.h"

namespace {

std::string g_log;

void CapturePrint(long long, const char*, const char* message, const char*, int)
{
    g_log += message;
}

class DeviceLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        RegisterCallback(CapturePrint, nullptr, nullptr);
    }
    void TearDown() override
    {
        DestroyDevice(m_handle);
        RegisterCallback(nullptr, nullptr, nullptr);
        SetChipType(0);
    }

    std::string Take()
    {
        std::string text;
        text.swap(g_log);
        return text;
    }

    DeviceHandle m_handle = nullptr;
};

TEST_F(DeviceLibrary, ChipTypeGivesTheDepartment)
{
    SetChipType(0x30004);
    EXPECT_EQ(BurnChipBase::m_chipType, 0x30004u);
    EXPECT_EQ(BurnChipBase::m_department, 3u);
    SetChipType(0x20004);
    EXPECT_EQ(BurnChipBase::m_department, 2u);
}

TEST_F(DeviceLibrary, LibraryWideSettingsAreStored)
{
    SetPacketSize(8192);
    EXPECT_EQ(BurnChipBase::m_packetSize, 8192u);
    SetPacketSize(1024);
    SetIsOnlyBurnLoader(7);
    EXPECT_TRUE(BurnChipBase::m_isOnlyBurnLoader);
    SetIsOnlyBurnLoader(0);
    EXPECT_FALSE(BurnChipBase::m_isOnlyBurnLoader);
    SetIsEraseBeforeBurn(0);
    EXPECT_FALSE(BurnChipBase::m_isEraseBeforeBurn);
    SetIsEraseBeforeBurn(1);
    SetIsBurnDeviceInfo(1);
    EXPECT_TRUE(BurnChipBase::m_isBurnDeviceInfo);
    SetIsBurnDeviceInfo(0);
}

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
    EXPECT_EQ(Take(), expected);
    EXPECT_EQ(DestroyDevice(nullptr), 1);
    EXPECT_EQ(GetSerialPortList(nullptr, 10), -1);
}

TEST_F(DeviceLibrary, OpenFailsWithoutAChipClass)
{
    Vb27Peer::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    EXPECT_EQ(OpenSerialPort(nullptr, 115200, 0, 0), nullptr);
    EXPECT_EQ(Take(), "com name is null\n");

    SetChipType(0x20004);  // department 2
    EXPECT_EQ(OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0), nullptr);
    EXPECT_EQ(Take(), "new transport failed\n");

    SetChipType(0x30001);  // department 3, no chip class
    EXPECT_EQ(OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0), nullptr);
    EXPECT_EQ(Take(), "new transport failed\n");
}

TEST_F(DeviceLibrary, OpenFailsForAPortThatDoesNotExist)
{
    SetChipType(CHIP_TYPE_VB27);
    EXPECT_EQ(OpenSerialPort("/dev/tarnwick-no-such-port", 115200, 0, 0), nullptr);
}

TEST_F(DeviceLibrary, OpenCreatesTheChipOfTheTypeAndKeepsTheRequestedRate)
{
    Vb27Peer::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    SetChipType(CHIP_TYPE_VB27);
    m_handle = OpenSerialPort(pty.SlavePath().c_str(), 921600, 0, 0);
    ASSERT_NE(m_handle, nullptr);
    EXPECT_NE(dynamic_cast<BurnVb27ChipSp::BurnVb27Chip*>(m_handle), nullptr);
    EXPECT_EQ(dynamic_cast<BurnQn4180ChipSp::BurnQn4180Chip*>(m_handle), nullptr);
    EXPECT_EQ(m_handle->GetBaudRate(), 921600u);
    EXPECT_EQ(m_handle->GetComName(), pty.SlavePath());
    EXPECT_TRUE(m_handle->IsSerialOpened());
    DestroyDevice(m_handle);

    SetChipType(CHIP_TYPE_QN4180);
    m_handle = OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0);
    ASSERT_NE(m_handle, nullptr);
    EXPECT_NE(dynamic_cast<BurnQn4180ChipSp::BurnQn4180Chip*>(m_handle), nullptr);
}

TEST_F(DeviceLibrary, ArgumentsAreCheckedBeforeTheBoardIsTouched)
{
    Vb27Peer::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    SetChipType(CHIP_TYPE_VB27);
    m_handle = OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0);
    ASSERT_NE(m_handle, nullptr);
    unsigned char byte = 0;

    EXPECT_EQ(DownloadAllinoneBin(m_handle, "", 0), 0);
    EXPECT_EQ(Take(), "burn file path is null.\n");
    EXPECT_EQ(UploadFile(m_handle, 0, 16, ""), 0);
    EXPECT_EQ(UploadFile(m_handle, 0, 16, nullptr), 0);
    EXPECT_EQ(Take(), "upload file path is null.\nupload file path is null.\n");
    EXPECT_EQ(SendCmd(m_handle, nullptr, 1, nullptr, 0, 0), 0);
    EXPECT_EQ(SendCmd(m_handle, &byte, 0, nullptr, 0, 0), 0);
    EXPECT_EQ(Take(), "send cmd data is null.\nsend cmd data length equals 0.\n");
    EXPECT_EQ(SendBytes(m_handle, nullptr, 1), 0);
    EXPECT_EQ(SendBytes(m_handle, &byte, 0), 0);
    EXPECT_EQ(Take(), "send bytes is null.\nsend bytes length equals 0.\n");
    EXPECT_EQ(ReceiveBytes(m_handle, nullptr, 1), 0);
    EXPECT_EQ(ReceiveBytes(m_handle, &byte, 0), 0);
    EXPECT_EQ(Take(), "recevie data is null.\nrecevie length equals 0.\n");

    Vb27Peer::BoardPeer board(pty.Master());
    EXPECT_TRUE(board.Drain(50).empty()) << "nothing reached the board";
    EXPECT_EQ(SendBytes(m_handle, &byte, 1), 1);
}

TEST_F(DeviceLibrary, HandleSettersReachTheChip)
{
    Vb27Peer::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    SetChipType(CHIP_TYPE_VB27);
    m_handle = OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0);
    ASSERT_NE(m_handle, nullptr);
    EXPECT_EQ(SetHandshakeTimeout(m_handle, 1234), 1);
    EXPECT_EQ(m_handle->GetHandshakeTimeout(), 1234u);
    EXPECT_EQ(SetPerPacketSize(m_handle, 512), 1);
    EXPECT_EQ(m_handle->GetPerPacketSize(), 512u);
    EXPECT_EQ(SetIsReset(m_handle, 0), 1);
    EXPECT_FALSE(m_handle->GetIsReset());
    EXPECT_EQ(SetIsReady(m_handle, 0), 1);
    EXPECT_FALSE(m_handle->GetIsReady());
}

TEST_F(DeviceLibrary, TypeSixHasNoChipObjectYet)
{
    Vb27Peer::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    SetChipType(CHIP_TYPE_TYPESIX);
    m_handle = OpenSerialPort(pty.SlavePath().c_str(), 115200, 0, 0);
    if (m_handle != nullptr) {
        GTEST_SKIP() << "the TypeSix chip object is built in";
    }
    EXPECT_EQ(Take(), "new transport failed\n");
}

} // namespace
