// Text commands to the loader: the answer's markers, its size and silence
// decide the command.
#include <gtest/gtest.h>

#include <future>

#include "pty_board.h"

namespace {

class BoardChannel : public ChipOnPty {};

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

TEST_F(BoardChannel, TextCommandsOfUpTo125CharactersReachTheBoard)
{
    std::string text(125, 'c');
    std::string received;  // no early exit before the board is joined
    board.Play([&received](PtyBoard& b) { received = AcceptCommand(b, 125); });
    EXPECT_EQ(chip.SendCmd(reinterpret_cast<unsigned char*>(&text[0]), 125, nullptr, 0, 5000), 1);
    board.Join();
    EXPECT_EQ(received, text);
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

} // namespace
