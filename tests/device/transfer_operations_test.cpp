// Transfers go through the chip family's protocol: without an open port or
// for a chip type that has none, they fail before a byte leaves.
#include <gtest/gtest.h>

#include "pty_board.h"

namespace {

class TransferOperations : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedChipType = BurnChipBase::m_chipType;
        ASSERT_TRUE(board.Ok());
    }
    void TearDown() override { BurnChipBase::m_chipType = savedChipType; }

    void Open() { ASSERT_EQ(chip.OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0), 1); }

    // Nothing reached the board.
    void ExpectSilentLine()
    {
        board.Play([](PtyBoard& b) { b.Drain(100); });
        board.Join();
        EXPECT_TRUE(board.Log().empty());
    }

    uint32_t savedChipType = 0;
    PtyBoard board;
    MessageCapture messages;
    PlainChip chip;
};

TEST_F(TransferOperations, EveryTransferOnAnotherChipTypeFailsWithNoChipTypeMatch)
{
    BurnChipBase::m_chipType = 0x30004;
    Open();
    uint8_t buffer[16] = {};
    const std::function<int()> operations[] = {
        [&] { return chip.DownloadFile("image.bin", 0, 16, 100); },
        [&] { return chip.DownloadData("image.bin", nullptr, 0, 16); },
        [&] { return chip.DownloadData(nullptr, buffer, sizeof(buffer), 0); },
        [&] { return chip.DownloadToDdr("image.bin", buffer, sizeof(buffer), 0); },
        [&] { return chip.UploadFile(0, 16, "out.bin"); },
        [&] { return chip.EraseFlash(0, 4096); },
    };
    for (const auto& operation : operations) {
        messages.Clear();
        EXPECT_EQ(operation(), 0);
        EXPECT_TRUE(messages.Has("no chipType is match.\n")) << messages.Get();
    }
    ExpectSilentLine();
}

TEST_F(TransferOperations, DownloadFileSaysItStartedBeforeTheProtocolFails)
{
    BurnChipBase::m_chipType = 0x30005;
    Open();
    EXPECT_EQ(chip.DownloadFile("image.bin", 0, 16, 100), 0);
    EXPECT_EQ(messages.Get(), "DownloadFile1.\nno chipType is match.\n");
}

TEST_F(TransferOperations, ClosedPortHasNoTransmissionMode)
{
    BurnChipBase::m_chipType = 0x30002;
    EXPECT_EQ(chip.EraseFlash(0, 4096), 0);
    EXPECT_EQ(messages.Get(), "no transmission mode is selected.\n");
}

} // namespace
