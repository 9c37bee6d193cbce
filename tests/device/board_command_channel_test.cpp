// The serial side of the chip object: opening the port (long device paths
// too), board text, the board frame exchange and text commands to the loader.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <set>

#include "pty_board.h"

namespace {

class BoardChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.Ok());
        ASSERT_EQ(chip.OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0), 1);
    }

    PtyBoard board;
    MessageCapture messages;
    PlainChip chip;
};

// --- opening ------------------------------------------------------------------

TEST(PortOpening, DevicePathLongerThan32CharactersOpens)
{
    PtyBoard board;
    ASSERT_TRUE(board.Ok());
    char dirTemplate[] = "/tmp/tarnwick-device-path-longer-than-a-com-name-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string link = std::string(dirTemplate) + "/board-serial-console";
    ASSERT_EQ(symlink(board.SlavePath().c_str(), link.c_str()), 0);
    ASSERT_GT(link.size(), 32u);
    {
        PlainChip chip;
        EXPECT_EQ(chip.OpenSerialPort(link.c_str(), 115200, 0, 0), 1);
        EXPECT_TRUE(chip.IsSerialOpened());
        EXPECT_EQ(chip.GetCurOperation(), BurnChipBase::OPEN_SERIAL_COM);
        Bytes ping = {0x01};
        EXPECT_EQ(chip.Send(ping.data(), 1), 1u);
    }
    unlink(link.c_str());
    rmdir(dirTemplate);
}

TEST(PortOpening, MissingDeviceFailsAndLeavesThePortClosed)
{
    MessageCapture messages;
    PlainChip chip;
    EXPECT_EQ(chip.OpenSerialPort("/dev/tarnwick-no-such-port", 115200, 0, 0), 0);
    EXPECT_FALSE(chip.IsSerialOpened());
    EXPECT_EQ(chip.OpenSerialPort(nullptr, 115200, 0, 0), 0);
}

TEST(PortOpening, OpeningSetsTheFrameFrequencyOfTheBaudRate)
{
    PtyBoard board;
    ASSERT_TRUE(board.Ok());
    PlainChip chip;
    ASSERT_EQ(chip.OpenSerialPort(board.SlavePath().c_str(), 57600, 0, 0), 1);
    EXPECT_EQ(BurnChipBase::m_typeframeFrequency, 300u);
    BurnChipBase::SetFrameFrequency(115200);
}

TEST_F(BoardChannel, ResettingTheLineKeepsThePortWorking)
{
    chip.ReSettingSerialParameters(921600, 0, 0);
    EXPECT_FALSE(messages.Has("SetCommState failed.\n"));
    board.Play([](PtyBoard& b) {
        if (!b.Read(3).empty()) {
            b.Write(Bytes{0xAA});
        }
    });
    Bytes frame = {7, 8, 9};
    EXPECT_EQ(chip.SendFrameBySerial(frame.data(), frame.size(), 5000, 20000), 1);
}

// --- board text ------------------------------------------------------------------

TEST_F(BoardChannel, PrintedBoardTextKeepsPrintablesAndLineFeedsOnly)
{
    board.Play([](PtyBoard& b) { b.Write(Bytes{0x41, 0x0A, 0x80, 0x42}); });
    board.Join();
    for (int i = 0; i < 100 && chip.GetRecvText().size() < 4; ++i) {
        chip.WaitForData(100);
        chip.ClearRecvBuff();
    }
    ASSERT_EQ(chip.GetRecvText(), std::string("A\n\x80" "B"));
    chip.PrintCurRecv();
    EXPECT_EQ(messages.Get(), "\nA\r\nB\n");
    EXPECT_TRUE(chip.GetRecvText().empty());
}

// --- board frame -------------------------------------------------------------------

TEST_F(BoardChannel, RecvFrameSkipsNoiseAndMovesTheReplyToTheFront)
{
    board.Play([](PtyBoard& b) {
        b.Write(Bytes{0x13, 0x37});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Bytes reply = BoardReply(0x05, 0x01020304);
        b.Write(Bytes(reply.begin(), reply.begin() + 4));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.Write(Bytes(reply.begin() + 4, reply.end()));
    });
    uint8_t buffer[11] = {};
    unsigned long count = 0;
    ASSERT_EQ(chip.RecvFrame(0xCE, 5000, buffer, sizeof(buffer), count), 1);
    EXPECT_EQ(Bytes(buffer, buffer + 11), BoardReply(0x05, 0x01020304));
    EXPECT_EQ(count, 11u);
}

TEST_F(BoardChannel, RecvFrameDropsABrokenReplyAndTakesTheNextOne)
{
    board.Play([](PtyBoard& b) {
        Bytes broken = BoardReply(0x05, 0x01020304);
        broken[6] ^= 0x40;
        b.Write(broken);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.Write(BoardReply(0x06, 0x0A0B0C0D));
    });
    uint8_t buffer[11] = {};
    unsigned long count = 0;
    ASSERT_EQ(chip.RecvFrame(0xCE, 5000, buffer, sizeof(buffer), count), 1);
    EXPECT_EQ(buffer[1], 0x06);
}

TEST_F(BoardChannel, RecvFrameWithoutAReplyEndsAfterItsWindow)
{
    uint8_t buffer[11] = {};
    unsigned long count = 0;
    EXPECT_EQ(chip.RecvFrame(0xCE, 100, buffer, sizeof(buffer), count), 0);
}

TEST_F(BoardChannel, BoardFrameExchangeHandsBackBothValues)
{
    Bytes seen;
    board.Play([&seen](PtyBoard& b) {
        seen = b.Read(14);
        if (!seen.empty()) {
            b.Write(Bytes{0x0D, 0x0A});  // a line of board text first
            b.Write(BoardReply(0x42, 0x89ABCDEF));
        }
    });
    unsigned long a = 0;
    unsigned long b = 0;
    ASSERT_EQ(chip.SendBoardFrame(a, b), 1);
    board.Join();
    EXPECT_EQ(a, 0x89ABCDEFul);
    EXPECT_EQ(b, 0x42ul);
    EXPECT_EQ(chip.GetCurOperation(), BurnChipBase::SEND_BOARD_FRAME);
    ASSERT_EQ(seen.size(), 14u);
    EXPECT_EQ(Bytes(seen.begin(), seen.begin() + 4), (Bytes{0xCE, 0x00, 0xFF, 0x01}));
    EXPECT_EQ(Bytes(seen.begin() + 4, seen.begin() + 8), Bytes(seen.begin() + 8, seen.begin() + 12));
    EXPECT_TRUE(CrcBeOk(seen));
}

// --- text commands ---------------------------------------------------------------

// The loader's side of a text command: head frame, data frame, each acked.
// Returns the command text, empty when the frames were not right.
std::string AcceptCommand(PtyBoard& b, size_t length)
{
    const Bytes head = b.Read(5);
    if (head.empty() || head[0] != 0xAB || ((head[1] << 8) | head[2]) != static_cast<int>(length) || !CrcBeOk(head)) {
        return {};
    }
    b.Write(Bytes{0xAA});
    const Bytes data = b.Read(length + 3);
    if (data.empty() || data[0] != 0xCD || !CrcBeOk(data)) {
        return {};
    }
    b.Write(Bytes{0xAA});
    return std::string(data.begin() + 1, data.end() - 2);
}

TEST_F(BoardChannel, TextCommandReachesTheBoardOnceThePortIsOpen)
{
    std::string command;
    board.Play([&command](PtyBoard& b) { command = AcceptCommand(b, 7); });
    uint8_t cmd[] = "version";
    EXPECT_EQ(chip.SendCmd(cmd, 7, nullptr, 0, 5000), 1);
    board.Join();
    EXPECT_EQ(command, "version");
    EXPECT_FALSE(messages.Has("frame format object is null.\n"));
}

TEST_F(BoardChannel, AnswerWithTheOkMarkerSplitAcrossChunksIsRecognised)
{
    board.Play([](PtyBoard& b) {
        if (AcceptCommand(b, 2).empty()) {
            return;
        }
        b.Write(std::string("flash ok\r\n[EOT](O"));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        b.Write(std::string("K)\r\n"));
    });
    uint8_t cmd[] = "go";
    uint8_t reply[256] = {};
    EXPECT_EQ(chip.SendCmd(cmd, 2, reply, sizeof(reply), 10000), 1);
    EXPECT_NE(std::string(reinterpret_cast<char*>(reply)).find("flash ok\r\n[EOT](OK)"), std::string::npos);
    EXPECT_TRUE(messages.Has("[EOT](O"));
}

TEST_F(BoardChannel, AnswerWithTheErrorMarkerFailsWithoutWaitingOut)
{
    board.Play([](PtyBoard& b) {
        if (!AcceptCommand(b, 2).empty()) {
            b.Write(std::string("bad\r\n[EOT](ERROR)"));
        }
    });
    uint8_t cmd[] = "go";
    uint8_t reply[256] = {};
    auto result = std::async(std::launch::async,
                             [&] { return chip.SendCmd(cmd, 2, reply, sizeof(reply), 120000); });
    ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    EXPECT_TRUE(messages.Has("\nReceive board respond timeout: "));
}

TEST_F(BoardChannel, AnswerLongerThanTheReplyBufferFails)
{
    board.Play([](PtyBoard& b) {
        if (!AcceptCommand(b, 2).empty()) {
            b.Write(std::string(40, 'x'));
        }
    });
    uint8_t cmd[] = "go";
    uint8_t reply[16] = {};
    EXPECT_EQ(chip.SendCmd(cmd, 2, reply, sizeof(reply), 10000), 0);
    EXPECT_TRUE(messages.Has("A maximum of 16 characters can be received.\n"));
}

TEST_F(BoardChannel, CommandOf125BytesIsSentAs128ByteDataFrame)
{
    std::string command;
    board.Play([&command](PtyBoard& b) { command = AcceptCommand(b, 125); });
    std::string text(125, 'c');
    EXPECT_EQ(chip.SendCmd(reinterpret_cast<unsigned char*>(&text[0]), 125, nullptr, 0, 5000), 1);
    board.Join();
    EXPECT_EQ(command, text);
}

TEST_F(BoardChannel, CommandOf126BytesIsRefusedAfterTheHeadFrameWasAcked)
{
    board.Play([](PtyBoard& b) {
        const Bytes head = b.Read(5);
        if (!head.empty()) {
            b.Write(Bytes{0xAA});
        }
        b.Drain(200);
    });
    std::string text(126, 'c');
    EXPECT_EQ(chip.SendCmd(reinterpret_cast<unsigned char*>(&text[0]), 126, nullptr, 0, 5000), 0);
    board.Join();
    EXPECT_TRUE(messages.Has("The command contains a maximum of 125 characters.!\n"));
    EXPECT_EQ(board.Log(), WithCrcBe({0xAB, 0x00, 126}));
}

TEST_F(BoardChannel, UnansweredHeadFrameFailsTheCommand)
{
    uint8_t cmd[] = "go";
    EXPECT_EQ(chip.SendCmd(cmd, 2, nullptr, 0, 300), 0);
    EXPECT_TRUE(messages.Has("Failed to send the command head!\n"));
}

// --- port list -------------------------------------------------------------------

TEST(PortList, TextIsSemicolonSeparatedWithoutDuplicatesOrTrailingSeparator)
{
    EXPECT_EQ(BurnChipBase::InitSerialPortList(nullptr, 100), -1);
    char buffer[8192];
    ASSERT_EQ(BurnChipBase::InitSerialPortList(buffer, sizeof(buffer)), 0);
    const std::string text = buffer;
    if (text.empty()) {
        GTEST_SKIP() << "this machine has no serial ports";
    }
    EXPECT_NE(text.back(), ';');
    std::set<std::string> names;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(';', start), text.size());
        const std::string name = text.substr(start, end - start);
        EXPECT_FALSE(name.empty());
        EXPECT_TRUE(names.insert(name).second) << "twice: " << name;
        start = end + 1;
    }
}

TEST(PortList, EntryIsAddedOnceAndOnlyAnExactNameCountsAsPresent)
{
    char buffer[64] = {};
    int count = 0;
    count = BurnChipBase::GetUart(count, buffer, sizeof(buffer), "/dev/ttyS11");
    count = BurnChipBase::GetUart(count, buffer, sizeof(buffer), "/dev/ttyS1");
    count = BurnChipBase::GetUart(count, buffer, sizeof(buffer), "/dev/ttyS11");
    count = BurnChipBase::GetUart(count, buffer, sizeof(buffer), "S1");
    EXPECT_EQ(std::string(buffer), "/dev/ttyS11;/dev/ttyS1;S1;");
    EXPECT_EQ(count, static_cast<int>(strlen(buffer)));
}

TEST(PortList, NameThatDoesNotFitShowsInTheCount)
{
    char buffer[16] = {};
    int count = BurnChipBase::GetUart(0, buffer, sizeof(buffer), "/dev/ttyUSB0");
    count = BurnChipBase::GetUart(count, buffer, sizeof(buffer), "/dev/ttyUSB1");
    EXPECT_EQ(std::string(buffer), "/dev/ttyUSB0;");
    EXPECT_GT(count, static_cast<int>(strlen(buffer)));
}

} // namespace
