// The TypeSix chip object and serial protocol against a scripted board on a
// pseudo-terminal, for what the end-to-end suite does not reach: answers in
// pieces and with noise, negative answers, the frame sent again after a silent
// wait, the key store, refusals before anything is sent, the reset after a
// failed image, and the read-back with a wrong-length answer.
#include <gtest/gtest.h>

#include "device/device_library.h"
#include "device/typesix/burn_typesix_chip.h"
#include "pty_board.h"

namespace {

class TypeSixChipOverPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(board.Ok());
        SetChipType(CHIP_TYPE_TYPESIX);
        handle = OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0);
        chip = dynamic_cast<BurnTypeSixChip*>(handle);
        ASSERT_NE(chip, nullptr);
        SetHandshakeTimeout(handle, 10000);
    }

    void TearDown() override
    {
        board.Join();
        DestroyDevice(handle);
        SetChipType(0);
    }

    // The next frame must carry this command code; the peer answers it.
    static bool AnswerNext(PtyBoard& b, uint8_t code, Bytes* payload = nullptr, uint8_t result = 0x01)
    {
        Bytes frame;
        if (!NextTypeSixFrame(b, frame) || frame.size() < 3) {
            ADD_FAILURE() << "no frame with code " << static_cast<int>(code);
            return false;
        }
        EXPECT_EQ(frame[1], code);
        if (code != 0xFC) {  // a short ssb packet is padded after its check
            EXPECT_EQ(frame.back(), Xor(frame, frame.size() - 1)) << "check of code " << int(code);
        }
        if (payload != nullptr) {
            *payload = frame;
        }
        b.Write(Answer(frame[0], frame[1], result));
        return frame[1] == code;
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

// --- command channel -----------------------------------------------------------------

TEST_F(TypeSixChipOverPty, AnswerInPiecesAfterNoiseIsAccepted)
{
    Bytes init;
    Bytes version;
    board.Play([&](PtyBoard& b) {
        if (!NextTypeSixFrame(b, init)) {
            return;
        }
        b.Write(Bytes{'x', 0x5C, 0x65, 'y'});  // text and a stray end mark before the answer
        b.WriteSplit(Answer(init[0], init[1]), 3, 40);
        AnswerNext(b, 0x25, &version);
    });
    EXPECT_TRUE(chip->InitBoard());
    board.Join();
    EXPECT_EQ(init, (Bytes{0x00, 0x01, 0x01}));
    EXPECT_EQ(version, (Bytes{0x01, 0x25, 0x24}));
}

TEST_F(TypeSixChipOverPty, NegativeAnswerFailsAtOnceWithoutSendingAgain)
{
    board.Play([&](PtyBoard& b) {
        AnswerNext(b, 0x01, nullptr, 0x00);
        EXPECT_TRUE(b.Drain(700).empty()) << "the refused frame must not go out again";
    });
    EXPECT_FALSE(chip->InitBoard());
    board.Join();
    EXPECT_TRUE(messages.Has("return code error:0\n")) << messages.Get();
    EXPECT_TRUE(messages.Has("send init cmd failed\n"));
}

TEST_F(TypeSixChipOverPty, SilentBoardGetsTheFrameAgainAfterEachAnswerWait)
{
    std::vector<Bytes> wires;
    board.Play([&](PtyBoard& b) {
        Bytes payload;
        Bytes wire;
        for (int i = 0; i < 2 && NextTypeSixFrame(b, payload, &wire); ++i) {
            wires.push_back(wire);
        }
        b.Write(Answer(payload[0], payload[1]));
    });
    uint8_t payload[] = {0x5D, 0x01, 0x5C};
    EXPECT_TRUE(chip->SendFrame(payload, sizeof(payload), 200, 10000, true));
    board.Join();
    ASSERT_EQ(wires.size(), 2u);
    EXPECT_EQ(wires[0], (Bytes{0x5C, 0x73, 0x5D, 0x01, 0x5C, 0x5C, 0x5C, 0x65}));
    EXPECT_EQ(wires[1], wires[0]);
}

// --- ssb load --------------------------------------------------------------------------

TEST_F(TypeSixChipOverPty, KeyStoreAloneIsLoadedWhenOnlyTheThirdFieldIsGiven)
{
    const std::string spec = WriteFile(dir.File("ssb.bin"), Bytes(10, 0x22)) + "|" +
                             WriteFile(dir.File("ssb.sha"), Bytes(32, 1)) + "|" +
                             WriteFile(dir.File("key.bin"), Bytes{0x5C, 0x01, 0x02}) + "||";
    Bytes keyFrame;
    board.Play([&](PtyBoard& b) {
        AnswerNext(b, 0xFC);
        AnswerNext(b, 0xFD);
        AnswerNext(b, 0x13, &keyFrame);
        Bytes exitPayload;
        NextTypeSixFrame(b, exitPayload);
        EXPECT_EQ(exitPayload.at(1), 0x0A) << "no certificate or signature before the exit frame";
    });
    ASSERT_TRUE(chip->FilePrepare(spec));
    EXPECT_TRUE(chip->DownloadBootData());
    board.Join();
    EXPECT_EQ(Bytes(keyFrame.begin() + 2, keyFrame.end() - 1), (Bytes{0x01, 0x00, 0x03, 0x5C, 0x01, 0x02}));
}

TEST_F(TypeSixChipOverPty, SsbNeedingMoreThan65535PacketsIsRefusedBeforeAnythingIsSent)
{
    SetPerPacketSize(handle, 1);
    const std::string spec =
        WriteFile(dir.File("big.bin"), Bytes(65536, 0x33)) + "|" + WriteFile(dir.File("big.sha"), Bytes(32, 0));
    ExpectSilentLine([&] {
        EXPECT_FALSE(chip->FilePrepare(spec));
        EXPECT_FALSE(chip->DownloadSsb());
        EXPECT_FALSE(chip->FsbWritePage(Bytes(65536, 0).data(), 65536));
    });
    EXPECT_TRUE(messages.Has("65535")) << messages.Get();
    EXPECT_TRUE(chip->SsbPacketCountFits(65535, "ssb")) << "65535 packets are fine as far as numbering goes";
}

// --- refusals before the board is touched ----------------------------------------------

TEST_F(TypeSixChipOverPty, PackagesWithAnImagePastTheirEndOr256EntriesAreRefused)
{
    Bytes shortPackage = BuildPackage({{"ssb.bin", 0, Bytes(100, 1)}, {"app.bin", 20, Bytes(100, 2)}});
    shortPackage.pop_back();  // the table and its CRC stay intact
    const std::string cut = WriteFile(dir.File("short.fwpkg"), shortPackage);
    const std::vector<PackageImage> many(256, {"x", 20, Bytes(1, 0)});
    const std::string tooMany = WriteFile(dir.File("many.fwpkg"), BuildPackage(many));
    ExpectSilentLine([&] {
        EXPECT_EQ(DownloadAllinoneBin(handle, cut.c_str(), 0), 0);
        EXPECT_TRUE(chip->GetPartitionList().empty());
        EXPECT_EQ(DownloadAllinoneBin(handle, tooMany.c_str(), 0), 0);
    });
    EXPECT_TRUE(messages.Has("image app.bin reaches past the end of the package")) << messages.Get();
    EXPECT_TRUE(messages.Has("too many image!\n")) << messages.Get();
}

TEST_F(TypeSixChipOverPty, ImageThatCannotBeOpenedOrIsMisspecifiedFails)
{
    SetIsReset(handle, 0);
    SetIsReady(handle, 0);
    const std::string missing = dir.File("missing.bin");
    ExpectSilentLine([&] {
        EXPECT_EQ(DownloadToFlash(handle, missing.c_str(), 0, 0, 0x1000, 0x1000, 0, 100), 0);
        EXPECT_EQ(DownloadToFlash(handle, "a.bin|b.sha|c", 0, 0, 0, 0x1000, 0, 2), 0);
    });
    EXPECT_TRUE(messages.Has("get file content failed: " + missing + "\n")) << messages.Get();
    EXPECT_TRUE(messages.Has("invalid file format: a.bin|b.sha|c\n")) << messages.Get();
}

TEST_F(TypeSixChipOverPty, FailedImageIsResetOnlyWhenTheResetSettingIsOn)
{
    board.Play([](PtyBoard& b) { b.Drain(300); });
    SetIsReset(handle, 1);
    EXPECT_EQ(DownloadToFlash(handle, dir.File("missing.bin").c_str(), 0, 0, 0, 0x1000, 0, 100), 0);
    board.Join();
    EXPECT_EQ(board.Log(), Wire({0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C}));
}

// --- read-back ---------------------------------------------------------------------------

TEST_F(TypeSixChipOverPty, ReadBackAsksThreeTimesForTenThousandBytesAndAsksAgainAfterAWrongLength)
{
    const Bytes flash = Pattern(10000, 7);
    const uint32_t base = 0x00300000;
    std::vector<Bytes> requests;
    Bytes resetWire;
    board.Play([&](PtyBoard& b) {
        const std::string ssbText = "\r\nboot-ssb-codeloader\r\n";
        b.WriteSplit(Bytes(ssbText.begin(), ssbText.end()), 13);
        AnswerNext(b, 0x01);
        AnswerNext(b, 0x0D);
        bool wrongSent = false;
        while (requests.size() < 4) {
            Bytes request;
            if (!NextTypeSixFrame(b, request) || request.size() != 11 || request[1] != 0x21) {
                ADD_FAILURE() << "expected a data request";
                return;
            }
            requests.push_back(request);
            const uint32_t offset = Be32(request, 2) - base;
            Bytes data(flash.begin() + offset, flash.begin() + offset + Be32(request, 6));
            if (offset == 4096 && !wrongSent) {
                wrongSent = true;
                data.resize(100);
            }
            b.WriteSplit(Answer(request[0], 0x21, 0x01, data), 50, 15);  // the cut inside the data
        }
        Bytes resetPayload;
        NextTypeSixFrame(b, resetPayload, &resetWire);
    });
    const std::string out = dir.File("read.bin");
    EXPECT_EQ(UploadFile(handle, base, 10000, out.c_str()), 1);
    board.Join();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(Be32(requests[0], 2), base);
    EXPECT_EQ(Be32(requests[0], 6), 4096u);
    EXPECT_EQ(Be32(requests[1], 2), base + 4096);
    EXPECT_EQ(requests[2], requests[1]) << "the same request goes out again, sequence byte included";
    EXPECT_EQ(Be32(requests[3], 2), base + 8192);
    EXPECT_EQ(Be32(requests[3], 6), 1808u);
    EXPECT_EQ(ReadFile(out), flash);
    ASSERT_GE(resetWire.size(), 4u);
    EXPECT_EQ(resetWire[3], 0x0C) << "the board is reset after the read";
}

TEST_F(TypeSixChipOverPty, ReadBackOfNothingWritesAnEmptyFile)
{
    SetIsReady(handle, 0);
    board.Play([&](PtyBoard& b) {
        AnswerNext(b, 0x01);
        AnswerNext(b, 0x0D);
        Bytes reset;
        NextTypeSixFrame(b, reset);
        EXPECT_EQ(reset.at(1), 0x0C);
    });
    const std::string out = WriteFile(dir.File("empty.bin"), Bytes(5, 1));
    EXPECT_EQ(UploadFile(handle, 0, 0, out.c_str()), 1);
    board.Join();
    EXPECT_TRUE(ReadFile(out).empty());
}

}  // namespace
