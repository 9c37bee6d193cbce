// The acknowledged serial transfer against a scripted board: single-byte
// ACK/NAK answers, board text between them, and whole files cut into frames.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/boot_frames.h"
#include "pty_board.h"

namespace {

class SerialAck : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.Ok());
        ASSERT_EQ(chip.OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0), 1);
    }

    PtyBoard board;
    MessageCapture messages;
    PlainChip chip;
    Bytes frame = {0x31, 0x32, 0x33};
};

TEST_F(SerialAck, NakThenSilenceEndsWithTheNackMessage)
{
    board.Play([](PtyBoard& b) {
        if (!b.Read(3).empty()) {
            b.Write(Bytes{0x55});
        }
        b.Drain(1500);
    });
    EXPECT_EQ(chip.SendFrameBySerial(frame.data(), frame.size(), 100, 400), 0);
    EXPECT_TRUE(messages.Has("Nack error(The serial port transmission may be unstable.).\n"));
    EXPECT_FALSE(messages.Has("Timeout error.\n"));
}

TEST_F(SerialAck, SilenceEndsWithTheThreeTimeoutLines)
{
    EXPECT_EQ(chip.SendFrameBySerial(frame.data(), frame.size(), 100, 300), 0);
    EXPECT_TRUE(messages.Has("Timeout error.\n1. Check whether the serial port connection is normal.\n"
                             "2. The U-Boot is faulty.\n"));
    EXPECT_FALSE(messages.Has("Nack error"));
}

TEST_F(SerialAck, NakThenAckSucceeds)
{
    board.Play([](PtyBoard& b) {
        if (b.Read(3).empty()) {
            return;
        }
        b.Write(Bytes{0x55});
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        b.Write(Bytes{0xAA});
    });
    EXPECT_EQ(chip.SendFrameBySerial(frame.data(), frame.size(), 5000, 20000), 1);
    board.Join();
    EXPECT_EQ(board.Log(), frame);
}

TEST_F(SerialAck, FrameIsSentAgainAfterEachSilentWindow)
{
    board.Play([](PtyBoard& b) {
        b.Read(3);
        b.Read(3);
        if (!b.Read(3).empty()) {
            b.Write(Bytes{0xAA});
        }
    });
    EXPECT_EQ(chip.SendFrameBySerial(frame.data(), frame.size(), 50, 20000), 1);
    board.Join();
    Bytes threeTimes = frame;
    threeTimes.insert(threeTimes.end(), frame.begin(), frame.end());
    threeTimes.insert(threeTimes.end(), frame.begin(), frame.end());
    EXPECT_EQ(board.Log(), threeTimes);
}

TEST_F(SerialAck, AckRightBehindBoardTextIsTakenAndTheTextKept)
{
    board.Play([](PtyBoard& b) {
        if (!b.Read(3).empty()) {
            b.Write(std::string("boot> \xAA" "C"));
        }
        b.Drain(300);
    });
    EXPECT_EQ(chip.SendFrameBySerial(frame.data(), frame.size(), 5000, 20000), 1);
    board.Join();
    EXPECT_EQ(board.Log(), frame) << "an accepted frame must not be sent again";
    EXPECT_NE(chip.GetRecvText().find("boot> "), std::string::npos);
    // What follows the ACK belongs to the next reader.
    uint8_t next = 0;
    ASSERT_TRUE(chip.WaitForData(5000));
    EXPECT_EQ(chip.Receive(&next, 1), 1u);
    EXPECT_EQ(next, 'C');
}

TEST_F(SerialAck, CancelEndsTheWaitAtOnce)
{
    chip.SetIsCancel();
    EXPECT_EQ(chip.SendFrameBySerial(frame.data(), frame.size(), 100, 20000), 0);
    EXPECT_EQ(messages.Get(), "\nUser Cancelled!\n");
}

// --- whole files -------------------------------------------------------------

// What the board saw of one file transfer.
struct ReceivedFile {
    bool headOk = false;
    uint32_t length = 0;
    uint32_t target = 0;
    std::vector<uint8_t> sequences;
    std::vector<size_t> payloadSizes;
    Bytes content;
    int tailCount = -1;
    bool framesOk = true;
};

uint32_t Be32(const Bytes& b, size_t at)
{
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

// The board's side of the transfer, from the frame tables: the head frame
// tells the length, data frames carry 1024 bytes except the last, the tail
// frame ends it. Every frame is checked and acknowledged.
void PlayFileReceiver(PtyBoard& b, ReceivedFile& file)
{
    Bytes head = b.Read(14);
    if (head.empty()) {
        return;
    }
    file.headOk = head[0] == 0xFE && head[1] == 0x00 && head[2] == 0xFF && head[3] == 0x01 && CrcBeOk(head);
    file.length = Be32(head, 4);
    file.target = Be32(head, 8);
    b.Write(Bytes{0xAA});
    while (true) {
        Bytes id = b.Read(3);
        if (id.empty()) {
            file.framesOk = false;
            return;
        }
        if (id[0] == 0xED) {
            Bytes crc = b.Read(2);
            id.insert(id.end(), crc.begin(), crc.end());
            file.framesOk = file.framesOk && CrcBeOk(id) && uint8_t(id[1] + id[2]) == 0xFF;
            file.tailCount = id[1];
            b.Write(Bytes{0xAA});
            return;
        }
        const size_t left = file.length - file.content.size();
        const size_t n = std::min<size_t>(left, 1024);
        Bytes rest = b.Read(n + 2);
        Bytes whole = id;
        whole.insert(whole.end(), rest.begin(), rest.end());
        file.framesOk = file.framesOk && id[0] == 0xDA && uint8_t(id[1] + id[2]) == 0xFF && CrcBeOk(whole);
        file.sequences.push_back(id[1]);
        file.payloadSizes.push_back(n);
        file.content.insert(file.content.end(), rest.begin(), rest.end() - 2);
        b.Write(Bytes{0xAA});
    }
}

class SerialFile : public SerialAck {
protected:
    int SendFile(const Bytes& content, uint32_t target)
    {
        board.Play([this](PtyBoard& b) { PlayFileReceiver(b, received); });
        BurnChipBase::DataInfo info;
        info.target = target;
        info.length = static_cast<uint32_t>(content.size());
        info.data = content.data();
        const int result = chip.SendDataInfo(info, false);
        board.Join();
        return result;
    }

    static Bytes Pattern(size_t n)
    {
        Bytes bytes(n);
        for (size_t i = 0; i < n; ++i) {
            bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
        }
        return bytes;
    }

    size_t Marks() const
    {
        const std::string text = messages.Get();
        return static_cast<size_t>(std::count(text.begin(), text.end(), '#'));
    }

    ReceivedFile received;
};

TEST_F(SerialFile, EmptyFileIsHeadAndTailCarryingOne)
{
    ASSERT_EQ(SendFile({}, 0x80000000), 1);
    EXPECT_TRUE(received.headOk);
    EXPECT_EQ(received.length, 0u);
    EXPECT_EQ(received.target, 0x80000000u);
    EXPECT_TRUE(received.sequences.empty());
    EXPECT_EQ(received.tailCount, 1);
    EXPECT_TRUE(received.framesOk);
    EXPECT_EQ(Marks(), 0u);
}

TEST_F(SerialFile, ExactMultipleOf1024IsFullFramesAndTailCountKPlusOne)
{
    const Bytes content = Pattern(3 * 1024);
    ASSERT_EQ(SendFile(content, 0x1234), 1);
    EXPECT_TRUE(received.headOk);
    EXPECT_EQ(received.sequences, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(received.payloadSizes, (std::vector<size_t>{1024, 1024, 1024}));
    EXPECT_EQ(received.tailCount, 4);
    EXPECT_TRUE(received.framesOk);
    EXPECT_EQ(received.content, content);
    EXPECT_EQ(Marks(), 3u);
}

TEST_F(SerialFile, RemainderTravelsInAShortLastFrame)
{
    const Bytes content = Pattern(1025);
    ASSERT_EQ(SendFile(content, 0), 1);
    EXPECT_EQ(received.payloadSizes, (std::vector<size_t>{1024, 1}));
    EXPECT_EQ(received.tailCount, 3);
    EXPECT_EQ(received.content, content);
}

TEST_F(SerialFile, SequenceAndTailCountWrapAt256)
{
    const Bytes content = Pattern(257 * 1024);
    ASSERT_EQ(SendFile(content, 0), 1);
    ASSERT_EQ(received.sequences.size(), 257u);
    EXPECT_EQ(received.sequences[254], 255);
    EXPECT_EQ(received.sequences[255], 0);
    EXPECT_EQ(received.sequences[256], 1);
    EXPECT_EQ(received.tailCount, 258 % 256);
    EXPECT_TRUE(received.framesOk);
    EXPECT_EQ(received.content, content);
}

TEST_F(SerialFile, LineLostAfterTheHeadFrameFailsIt)
{
    BurnChipBase::DataInfo info;
    const Bytes content = Pattern(10);
    info.length = 10;
    info.data = content.data();
    board.Play([](PtyBoard& b) {
        b.Read(14);
        b.CloseLine();
    });
    EXPECT_EQ(chip.SendFileBySerial(info), 0);
    EXPECT_TRUE(messages.Has("Failed to send the head frame.\n"));
}

TEST(SerialFileClosedPort, DataInfoNeedsAnOpenPort)
{
    PlainChip chip;
    BurnChipBase::DataInfo info;
    EXPECT_EQ(chip.SendDataInfo(info, true), 0);
}

} // namespace
