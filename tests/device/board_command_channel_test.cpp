// The serial side of the chip object: the board frame receive, text commands to the loader, and transfers
// that fail before a byte leaves.
#include <gtest/gtest.h>

#include <future>

#include "pty_board.h"

namespace {

class BoardChannel : public ChipOnPty {};

// --- board text and frames ---------------------------------------------------------

TEST_F(BoardChannel, RecvFrameSkipsNoiseAndABrokenReplyAndMovesTheNextToTheFront)
{
    board.Play([](PtyBoard& b) {
        Bytes broken = BoardReply(0x05, 0x01020304);
        broken[6] ^= 0x40;
        broken.insert(broken.begin(), {0x13, 0x37});
        b.Write(broken);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.WriteSplit(BoardReply(0x06, 0x0A0B0C0D), 4, 20);
    });
    uint8_t buffer[11] = {};
    unsigned long count = 0;
    ASSERT_EQ(chip.RecvFrame(0xCE, 5000, buffer, sizeof(buffer), count), 1);
    EXPECT_EQ(Bytes(buffer, buffer + 11), BoardReply(0x06, 0x0A0B0C0D));
    EXPECT_EQ(count, 11u);
    board.Join();
    EXPECT_EQ(chip.RecvFrame(0xCE, 100, buffer, sizeof(buffer), count), 0) << "no reply: ends after its window";
}

// --- text commands ---------------------------------------------------------------

// The loader's side of a text command: head frame, data frame, each acked,
// then the answer text. Returns the command, empty when the frames were wrong.
std::string AcceptCommand(PtyBoard& b, size_t length, const std::string& answer = "")
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
    b.Write(Bytes(answer.begin(), answer.end()));
    return std::string(data.begin() + 1, data.end() - 2);
}

TEST_F(BoardChannel, TextCommandsOfUpTo125CharactersReachTheBoardOnceThePortIsOpen)
{
    PlainChip closed;
    uint8_t version[] = "version";
    EXPECT_EQ(closed.SendCmd(version, 7, nullptr, 0, 100), 0);
    EXPECT_EQ(messages.Take(), "frame format object is null.\n");

    std::string text(125, 'c');
    std::vector<std::string> commands;
    board.Play([&commands](PtyBoard& b) {
        commands.push_back(AcceptCommand(b, 7));
        commands.push_back(AcceptCommand(b, 125));
    });
    EXPECT_EQ(chip.SendCmd(version, 7, nullptr, 0, 5000), 1);
    EXPECT_EQ(chip.SendCmd(reinterpret_cast<unsigned char*>(&text[0]), 125, nullptr, 0, 5000), 1);
    board.Join();
    EXPECT_EQ(commands, (std::vector<std::string>{"version", text}));
    EXPECT_FALSE(messages.Has("frame format object is null.\n"));
}

TEST_F(BoardChannel, CommandOf126CharactersIsRefusedAfterTheHeadFrameWasAcked)
{
    board.Play([](PtyBoard& b) {
        if (!b.Read(5).empty()) {
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

TEST_F(BoardChannel, AnswerMarkersBufferAndSilenceDecideTheCommand)
{
    const struct {
        const char* what;
        std::function<void(PtyBoard&)> board;
        size_t replySize;
        int windowMs;
        int result;
        const char* printed;
    } cases[] = {
        {"OK marker split across chunks",
         [](PtyBoard& b) {
             if (!AcceptCommand(b, 2, "flash ok\r\n[EOT](O").empty()) {
                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
                 b.Write(Bytes{'K', ')', '\r', '\n'});
             }
         },
         256, 10000, 1, "[EOT](O"},
        // A window far longer than the bound: the marker alone must end it.
        {"error marker", [](PtyBoard& b) { AcceptCommand(b, 2, "bad\r\n[EOT](ERROR)"); }, 256, 120000, 0,
         "\nReceive board respond timeout: "},
        {"answer longer than the buffer", [](PtyBoard& b) { AcceptCommand(b, 2, std::string(40, 'x')); }, 16, 10000, 0,
         "A maximum of 16 characters can be received.\n"},
        {"unanswered head frame", [](PtyBoard&) {}, 256, 300, 0, "Failed to send the command head!\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ChipOnLine line;
        ASSERT_TRUE(line.Open());
        line.board.Play(c.board);
        uint8_t cmd[] = "go";
        std::vector<uint8_t> reply(c.replySize, 0);
        auto result = std::async(std::launch::async, [&] {
            return line.chip.SendCmd(cmd, 2, reply.data(), static_cast<int>(reply.size()), c.windowMs);
        });
        ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        EXPECT_EQ(result.get(), c.result);
        EXPECT_TRUE(messages.Has(c.printed)) << messages.Messages();
        if (c.result == 1) {
            EXPECT_NE(std::string(reply.begin(), reply.end()).find("flash ok\r\n[EOT](OK)"), std::string::npos);
        }
    }
}

// --- transfers without a protocol ---------------------------------------------------

TEST_F(BoardChannel, TransfersFailWithoutAProtocolBeforeAByteLeaves)
{
    const uint32_t savedChipType = BurnChipBase::m_chipType;
    BurnChipBase::m_chipType = 0x30004;
    uint8_t buffer[16] = {};
    const std::function<int()> operations[] = {
        [&] { return chip.DownloadFile("image.bin", 0, 16, 100); },
        [&] { return chip.DownloadToDdr("image.bin", buffer, sizeof(buffer), 0); },
        [&] { return chip.UploadFile(0, 16, "out.bin"); },
        [&] { return chip.EraseFlash(0, 4096); },
    };
    for (const auto& operation : operations) {
        EXPECT_EQ(operation(), 0);
        EXPECT_TRUE(messages.Has("no chipType is match.\n")) << messages.Messages();
        messages.Take();
    }
    BurnChipBase::m_chipType = 0x30002;
    PlainChip closed;
    EXPECT_EQ(closed.EraseFlash(0, 4096), 0);
    EXPECT_EQ(messages.Messages(), "no transmission mode is selected.\n");
    BurnChipBase::m_chipType = savedChipType;
    board.Play([](PtyBoard& b) { b.Drain(100); });
    board.Join();
    EXPECT_TRUE(board.Log().empty());
}

} // namespace
