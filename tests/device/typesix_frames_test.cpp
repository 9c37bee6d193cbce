// TypeSix frames byte for byte against the wire tables: command payloads,
// the escaped framing in both directions, the answer check, the board's
// start text and the erase-core windows.
#include <gtest/gtest.h>

#include "device/typesix/typesix_frames.h"
#include "pty_board.h"

namespace {

using namespace TypeSixFrames;

// --- command payloads ------------------------------------------------------------

TEST(TypeSixCommandPayload, BinHeadForAnEmmcImageCarriesFileCodeAddressAndLengthBigEndian)
{
    const Bytes payload = BinHead(0x07, EMMC_BIN_TYPE, 0x00200000, 0x1000);
    const Bytes body = {0x07, 0x36, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00};
    Bytes expected = body;
    expected.push_back(Xor(body, body.size()));
    EXPECT_EQ(payload, expected);
    EXPECT_EQ(payload.size(), 12u);
}

TEST(TypeSixCommandPayload, BinHeadMapsFileTypesToFileCodes)
{
    EXPECT_EQ(BinHead(0, FLASH_BIN_TYPE, 0, 0)[2], 0x00);
    EXPECT_EQ(BinHead(0, EMMC_BIN_TYPE, 0, 0)[2], 0x01);
    EXPECT_EQ(BinHead(0, OTP_BIN_TYPE, 0, 0)[2], 0x02);
    EXPECT_EQ(BinHead(0, 2, 0, 0)[2], 0x00);
}

TEST(TypeSixCommandPayload, FixedCommandsMatchTheTables)
{
    EXPECT_EQ(EraseSsbInit(), (Bytes{0x00, 0x01, 0x01}));
    EXPECT_EQ(EraseSsb(), (Bytes{0x01, 0x0F, 0x0E}));
    EXPECT_EQ(Init(0x05), (Bytes{0x05, 0x01, 0x04}));
    EXPECT_EQ(ReadVersion(0x01), (Bytes{0x01, 0x25, 0x24}));
    EXPECT_EQ(EraseAll(0x01), (Bytes{0x01, 0x10, 0x11}));
    EXPECT_EQ(ResetPayload(0x00), (Bytes{0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C}));
    EXPECT_EQ(FlashLimits(0x00),
              (Bytes{0x00, 0x11, 0x01, 0x10, 0x01, 0x30, 0x00, 0xA0, 0x00, 0x18, 0x01, 0x00,
                     static_cast<uint8_t>(0x11 ^ 0x01 ^ 0x10 ^ 0x01 ^ 0x30 ^ 0xA0 ^ 0x18 ^ 0x01)}));
    EXPECT_EQ(KvKey(0x00), (Bytes{0x00, 0x1E, 0x00, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00, 0x1B}));
    EXPECT_EQ(StartFlashing(0x03, 2), (Bytes{0x03, 0x03, 0x02, 0x00, 0x00, 0x02}));
    EXPECT_EQ(EraseCore(0x00, 4), (Bytes{0x00, 0x07, 0x04, 0x03}));
}

TEST(TypeSixCommandPayload, SetSpeedAnnouncesTheRateAndTheResetDelay)
{
    const Bytes payload = SetSpeed(0x01, 921600);
    const Bytes body = {0x01, 0x0D, 0x00, 0x0E, 0x10, 0x00, 0x00, 0x00, 0x70, 0x00};
    Bytes expected = body;
    expected.push_back(Xor(body, body.size()));
    EXPECT_EQ(payload, expected);
}

TEST(TypeSixCommandPayload, MemoryConfigAndDataRequestAreBigEndian)
{
    const Bytes memory = MemoryConfig(0x02, 2, 0x01020304);
    EXPECT_EQ(Bytes(memory.begin(), memory.end() - 1),
              (Bytes{0x02, 0x06, 0x02, 0x01, 0x02, 0x03, 0x04, 0x00, 0x04, 0x00, 0x00}));
    const Bytes request = DataRequest(0x09, 0x00123456, 4096);
    ASSERT_EQ(request.size(), DATA_REQUEST_CMD_LEN);
    EXPECT_EQ(Bytes(request.begin(), request.end() - 1),
              (Bytes{0x09, 0x21, 0x00, 0x12, 0x34, 0x56, 0x00, 0x00, 0x10, 0x00}));
    EXPECT_EQ(request.back(), Xor(request, 10));
}

TEST(TypeSixCommandPayload, DigestFramesCarryTheirLengthsAndTheCheckAfterTheDigest)
{
    const Bytes digest(32, 0xAB);
    const Bytes rom = SsbDigest(0x04, 10000, digest.data(), digest.size());
    ASSERT_EQ(rom.size(), 32u + SHA_HEAD_LEN);
    EXPECT_EQ(Bytes(rom.begin(), rom.begin() + 6), (Bytes{0x04, 0xFD, 0x00, 0x00, 0x27, 0x10}));
    EXPECT_EQ(rom[6 + 32], Xor(rom, 6 + 32));

    const Bytes sha = Sha(0x05, 0x00200000, 0, digest.data(), digest.size());
    ASSERT_EQ(sha.size(), 32u + 11u);
    EXPECT_EQ(Bytes(sha.begin(), sha.begin() + 10), (Bytes{0x05, 0x37, 0x00, 0x20, 0x00, 0x00, 0, 0, 0, 0}));

    const Bytes app = AppSha(0x06, 2, digest.data(), digest.size());
    ASSERT_EQ(app.size(), 32u + 4u);
    EXPECT_EQ(Bytes(app.begin(), app.begin() + 3), (Bytes{0x06, 0x02, 0x02}));

    const Bytes noDigest = Sha(0x05, 0, 0, nullptr, 0);
    EXPECT_EQ(noDigest.size(), 11u) << "the digest frame goes out even without a digest";
}

TEST(TypeSixCommandPayload, SecurityFramesCarryMarkersAndSixteenBitLengths)
{
    const Bytes data = {0xAA, 0xBB, 0xCC};
    const Bytes keyStore = KeyStore(1, data.data(), 3);
    EXPECT_EQ(keyStore, (Bytes{0x01, 0x13, 0x01, 0x00, 0x03, 0xAA, 0xBB, 0xCC, Xor(keyStore, 8)}));
    const Bytes certificate = Certificate(1, data.data(), 3);
    EXPECT_EQ(certificate, (Bytes{0x01, 0x14, 0x00, 0x03, 0xAA, 0xBB, 0xCC, Xor(certificate, 7)}));
    const Bytes signature = Signature(1, data.data(), 3);
    EXPECT_EQ(signature,
              (Bytes{0x01, 0x15, 0x02, 0x02, 0x00, 0x03, 0xAA, 0xBB, 0xCC, Xor(signature, 9)}));
    const Bytes tooLong(MAX_SECURITY_DATA + 1, 0x00);
    EXPECT_TRUE(KeyStore(1, tooLong.data(), tooLong.size()).empty()) << "a 16-bit length cannot carry it";
}

// --- ssb packets and data frames -------------------------------------------------------

TEST(TypeSixSsbPacket, ShortLastPacketPutsTheCheckAfterItsDataAndPadsWithFF)
{
    const Bytes image = Pattern(10000, 1);
    const size_t last = 10000 - 2 * 4096;  // 1808
    const Bytes packet = SsbPacket(0x2A, 2, image.data() + 8192, last, 4096);
    ASSERT_EQ(packet.size(), 4096u + 7u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 6), (Bytes{0x2A, 0xFC, 0x02, 0x00, 0x00, 0x00}))
        << "the packet number is little-endian";
    EXPECT_EQ(Bytes(packet.begin() + 6, packet.begin() + 6 + 1808), Bytes(image.begin() + 8192, image.end()));
    EXPECT_EQ(packet[1814], Xor(packet, 1814));
    for (size_t i = 1815; i <= 4102; ++i) {
        ASSERT_EQ(packet[i], 0xFF) << "at " << i;
    }
}

TEST(TypeSixSsbPacket, FullPacketEndsWithItsCheckAndNumbersAreSixteenBit)
{
    const Bytes data(16, 0x11);
    const Bytes packet = SsbPacket(0, 0xFFFF, data.data(), 16, 16);
    ASSERT_EQ(packet.size(), 23u);
    EXPECT_EQ(Bytes(packet.begin() + 2, packet.begin() + 6), (Bytes{0xFF, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(packet.back(), Xor(packet, 22));
    EXPECT_TRUE(SsbPacket(0, 0, data.data(), 16, 15).empty()) << "more data than a packet holds";
}

TEST(TypeSixDataFrame, LastChunkOfTenThousandBytesIsPaddedToThePacketSize)
{
    const Bytes image = Pattern(10000, 2);
    const Bytes frame = Data(0x10, image.data() + 8192, 1808, 4096);
    ASSERT_EQ(frame.size(), 4099u);
    EXPECT_EQ(frame[0], 0x10);
    EXPECT_EQ(frame[1], 0x04);
    EXPECT_EQ(Bytes(frame.begin() + 2, frame.begin() + 2 + 1808), Bytes(image.begin() + 8192, image.end()));
    EXPECT_EQ(Bytes(frame.begin() + 2 + 1808, frame.end() - 1), Bytes(2288, 0xFF));
    EXPECT_EQ(frame.back(), Xor(frame, 4098));
}

// --- framing ------------------------------------------------------------------------------

TEST(TypeSixFraming, A5CInThePayloadIsDoubledAndTheCheckCoversTheUndoubledPayload)
{
    const Bytes payload = Init(0x5D);  // check = 0x5D ^ 0x01 = 0x5C
    ASSERT_EQ(payload, (Bytes{0x5D, 0x01, 0x5C}));
    EXPECT_EQ(Wrap(payload), (Bytes{0x5C, 0x73, 0x5D, 0x01, 0x5C, 0x5C, 0x5C, 0x65}));
    EXPECT_EQ(Wrap(payload), Wire(payload));
}

TEST(TypeSixFraming, ExitFrameWhoseCheckIs5CIsWrappedLikeEveryOtherFrame)
{
    // After init, version and 83 packets the exit frame's sequence is 0x56: check 0x5C.
    EXPECT_EQ(Wrap(Exit(0x56)), (Bytes{0x5C, 0x73, 0x56, 0x0A, 0x5C, 0x5C, 0x5C, 0x65}));
    // After 89 packets the sequence byte itself is 0x5C.
    EXPECT_EQ(Wrap(Exit(0x5C)), (Bytes{0x5C, 0x73, 0x5C, 0x5C, 0x0A, 0x56, 0x5C, 0x65}));
    EXPECT_EQ(Wrap(EraseAllExit(0x54)), (Bytes{0x5C, 0x73, 0x54, 0x08, 0x5C, 0x5C, 0x5C, 0x65}));
    // Without a 5C the raw frames keep their listed bytes.
    EXPECT_EQ(Wrap(Exit(0x03)), (Bytes{0x5C, 0x73, 0x03, 0x0A, 0x09, 0x5C, 0x65}));
    EXPECT_EQ(Wrap(ResetPayload(0x00)), (Bytes{0x5C, 0x73, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x5C, 0x65}));
}

TEST(TypeSixFraming, UnwrapDropsBytesBeforeTheStartMarkAndUndoublesEscapes)
{
    const Bytes answer = AnswerPayload(0x5C, 0x21, 0x01, {0x5C, 0x65, 0x5C});
    Bytes received = {'b', 'o', 'o', 't', 0x5C, 0x65, 0x00};
    const Bytes wire = Wire(answer);
    received.insert(received.end(), wire.begin(), wire.end());
    Bytes payload;
    ASSERT_TRUE(UnwrapFirstFrame(received.data(), received.size(), payload));
    EXPECT_EQ(payload, answer) << "an escaped 5C 65 in the data is data, not an end mark";
}

TEST(TypeSixFraming, UnwrapWaitsForTheEndMarkAcrossPieces)
{
    const Bytes wire = Wire(AnswerPayload(0x01, 0x01));
    Bytes payload;
    for (size_t cut = 0; cut < wire.size(); ++cut) {
        EXPECT_FALSE(UnwrapFirstFrame(wire.data(), cut, payload)) << "complete after " << cut << " bytes";
    }
    EXPECT_TRUE(UnwrapFirstFrame(wire.data(), wire.size(), payload));
    // A lone escape at the end of what has arrived is not yet anything.
    const Bytes half = {0x5C, 0x73, 0x01, 0x5C};
    EXPECT_FALSE(UnwrapFirstFrame(half.data(), half.size(), payload));
}

TEST(TypeSixFraming, ANewStartMarkDropsAFrameThatLostItsEnd)
{
    Bytes received = {0x5C, 0x73, 0x01, 0x02, 0x03};
    const Bytes answer = AnswerPayload(0x07, 0x05);
    const Bytes wire = Wire(answer);
    received.insert(received.end(), wire.begin(), wire.end());
    Bytes payload;
    ASSERT_TRUE(UnwrapFirstFrame(received.data(), received.size(), payload));
    EXPECT_EQ(payload, answer);
}

// --- answers -----------------------------------------------------------------------------

TEST(TypeSixAnswer, PositiveNegativeAndBrokenAnswersAreToldApart)
{
    TypeSixFrames::Answer answer;
    const Bytes withData = AnswerPayload(1, 0x21, 0x01, {9, 8, 7});
    ASSERT_TRUE(ReadAnswer(withData, answer));
    EXPECT_TRUE(answer.Positive());
    EXPECT_EQ(Bytes(answer.data, answer.data + answer.dataLength), (Bytes{9, 8, 7}));

    ASSERT_TRUE(ReadAnswer(AnswerPayload(1, 0x01, 0x00), answer));
    EXPECT_FALSE(answer.Positive());
    EXPECT_EQ(answer.returnCode, 0x00);

    Bytes broken = AnswerPayload(1, 0x01);
    broken.back() ^= 0xFF;
    ASSERT_TRUE(ReadAnswer(broken, answer));
    EXPECT_FALSE(answer.CheckMatches());

    EXPECT_FALSE(ReadAnswer(Bytes{1, 2, 3, 1}, answer)) << "no room for a check byte after byte 3";
}

// --- start text and windows ------------------------------------------------------------

TEST(TypeSixBoardText, StartTextSplitAcrossReadsIsFound)
{
    std::string text;
    const std::string first = "\r\nboot-ssb-co";
    const std::string second = "deloader\r\n";
    AppendBoardText(text, reinterpret_cast<const uint8_t*>(first.data()), first.size());
    EXPECT_EQ(text.find(SSB_TEXT), std::string::npos);
    AppendBoardText(text, reinterpret_cast<const uint8_t*>(second.data()), second.size());
    EXPECT_NE(text.find(SSB_TEXT), std::string::npos);
}

TEST(TypeSixBoardText, UnprintableBytesBecomeSpacesAndLongTextKeepsItsTail)
{
    std::string text;
    const Bytes bytes = {0x00, 0x07, 0x08, 0x0D, 0x0E, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF};
    AppendBoardText(text, bytes.data(), bytes.size());
    EXPECT_EQ(text, std::string("  \x08\x0D  \x20\x7E   "));

    std::string log;
    const Bytes noise(5000, 'x');
    AppendBoardText(log, noise.data(), noise.size());
    const std::string start = "-rom";
    AppendBoardText(log, reinterpret_cast<const uint8_t*>(start.data()), start.size());
    const std::string rest = "loader";
    AppendBoardText(log, reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
    EXPECT_NE(log.find(ROM_TEXT), std::string::npos);
    EXPECT_LT(log.size(), 5000u) << "the text stays bounded";
}

TEST(TypeSixEraseCore, WindowsGrowWithEveryWholeTwoMebibytes)
{
    EXPECT_EQ(EraseCoreWindows(1u << 20).attempt, 30000u);
    EXPECT_EQ(EraseCoreWindows(1u << 20).total, 60000u);
    EXPECT_EQ(EraseCoreWindows(8u << 20).attempt, 120000u);
    EXPECT_EQ(EraseCoreWindows(8u << 20).total, 240000u);
    EXPECT_EQ(EraseCoreWindows(0).attempt, 30000u);
    EXPECT_EQ(EraseCoreWindows((4u << 20) - 1).attempt, 30000u);
}

}  // namespace
