// The TypeSix chip object and serial protocol against a scripted board on a
// pseudo-terminal, for what the end-to-end suite does not reach: the key
// store, refusals before anything is sent, the reset after a failed image, and
// the read-back with a wrong-length answer.
#include <gtest/gtest.h>

#include "device/typesix/burn_typesix_chip.h"
#include "pty_board.h"

namespace {

// The payload (un-escaped) of the next complete frame off the line.
bool NextFrame(PtyBoard& board, Bytes& payload)
{
    bool inFrame = false;
    for (;;) {
        const Bytes one = board.Read(1);
        const Bytes next = (!one.empty() && one[0] == 0x5C) ? board.Read(1) : Bytes{};
        if (one.empty() || (one[0] == 0x5C && next.empty())) {
            return false;
        }
        if (one[0] == 0x5C && next[0] == 0x73) {
            inFrame = true;
            payload.clear();
        } else if (one[0] == 0x5C && next[0] == 0x65 && inFrame) {
            return true;
        } else if (inFrame) {
            payload.push_back(next.empty() ? one[0] : next[0]);
        }
    }
}

class TypeSixChipOverPty : public LibraryChipOnPty {
protected:
    void SetUp() override
    {
        chip = Open<BurnTypeSixChip>(CHIP_TYPE_TYPESIX);
        ASSERT_NE(chip, nullptr);
        SetHandshakeTimeout(handle, 10000);
    }

    // The next frame must carry this command code; the peer answers it.
    static void AnswerNext(PtyBoard& b, uint8_t code, Bytes* payload = nullptr)
    {
        Bytes frame;
        if (!NextFrame(b, frame) || frame.size() < 3) {
            ADD_FAILURE() << "no frame with code " << static_cast<int>(code);
            return;
        }
        EXPECT_EQ(frame[1], code);
        if (code != 0xFC) {  // a short ssb packet is padded after its check
            EXPECT_EQ(frame.back(), Xor(frame, frame.size() - 1)) << "check of code " << int(code);
        }
        if (payload != nullptr) {
            *payload = frame;
        }
        b.Write(Answer(frame[0], frame[1]));
    }

    // Nothing may reach the board while the operation runs.
    void ExpectSilentLine(const std::function<void()>& operation)
    {
        board.Play([](PtyBoard& b) { b.Drain(300); });
        operation();
        board.Join();
        EXPECT_TRUE(board.Log().empty());
    }

    BurnTypeSixChip* chip = nullptr;
};

// --- ssb load --------------------------------------------------------------------------

TEST_F(TypeSixChipOverPty, KeyStoreAloneIsLoadedWhenOnlyTheThirdFieldIsGiven)
{
    const std::string spec = Saved(dir.File("ssb.bin"), Bytes(10, 0x22)) + "|" +
                             Saved(dir.File("ssb.sha"), Bytes(32, 1)) + "|" +
                             Saved(dir.File("key.bin"), Bytes{0x5C, 0x01, 0x02}) + "||";
    Bytes keyFrame;
    board.Play([&](PtyBoard& b) {
        AnswerNext(b, 0xFC);
        AnswerNext(b, 0xFD);
        AnswerNext(b, 0x13, &keyFrame);
        Bytes exitPayload;
        NextFrame(b, exitPayload);
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
        Saved(dir.File("big.bin"), Bytes(65536, 0x33)) + "|" + Saved(dir.File("big.sha"), Bytes(32, 0));
    ExpectSilentLine([&] {
        EXPECT_FALSE(chip->FilePrepare(spec));
        EXPECT_FALSE(chip->DownloadSsb());
        EXPECT_FALSE(chip->FsbWritePage(Bytes(65536, 0).data(), 65536));
    });
    EXPECT_TRUE(messages.Has("65535")) << messages.Messages();
    EXPECT_TRUE(chip->SsbPacketCountFits(65535, "ssb")) << "65535 packets are fine as far as numbering goes";
}

// --- refusals before the board is touched ----------------------------------------------

TEST_F(TypeSixChipOverPty, PackagesWithAnImagePastTheirEndOr256EntriesAreRefused)
{
    Bytes shortPackage = BuildPackage({{"ssb.bin", 0, 0, 0, Bytes(100, 1)}, {"app.bin", 20, 0, 0, Bytes(100, 2)}});
    shortPackage.pop_back();  // the table and its CRC stay intact
    const std::string cut = Saved(dir.File("short.fwpkg"), shortPackage);
    const std::vector<PackageImage> many(256, {"x", 20, 0, 0, Bytes(1, 0)});
    const std::string tooMany = Saved(dir.File("many.fwpkg"), BuildPackage(many));
    ExpectSilentLine([&] {
        EXPECT_EQ(DownloadAllinoneBin(handle, cut.c_str(), 0), 0);
        EXPECT_TRUE(chip->GetPartitionList().empty());
        EXPECT_EQ(DownloadAllinoneBin(handle, tooMany.c_str(), 0), 0);
    });
    EXPECT_TRUE(messages.Has("image app.bin reaches past the end of the package")) << messages.Messages();
    EXPECT_TRUE(messages.Has("too many image!\n")) << messages.Messages();
}

TEST_F(TypeSixChipOverPty, ImageThatCannotBeOpenedOrIsMisspecifiedFailsAndIsResetOnlyWhenTheResetSettingIsOn)
{
    SetIsReady(handle, 0);
    const std::string missing = dir.File("missing.bin");
    ExpectSilentLine([&] {
        SetIsReset(handle, 0);
        EXPECT_EQ(DownloadToFlash(handle, missing.c_str(), 0, 0, 0x1000, 0x1000, 0, 100), 0);
        EXPECT_EQ(DownloadToFlash(handle, "a.bin|b.sha|c", 0, 0, 0, 0x1000, 0, 2), 0);
    });
    EXPECT_TRUE(messages.Has("get file content failed: " + missing + "\n")) << messages.Messages();
    EXPECT_TRUE(messages.Has("invalid file format: a.bin|b.sha|c\n")) << messages.Messages();
    board.Play([](PtyBoard& b) { b.Drain(300); });
    SetIsReset(handle, 1);
    EXPECT_EQ(DownloadToFlash(handle, missing.c_str(), 0, 0, 0, 0x1000, 0, 100), 0);
    board.Join();
    EXPECT_EQ(board.Log(), Wire({0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C}));
}

// --- read-back ---------------------------------------------------------------------------

TEST_F(TypeSixChipOverPty, ReadBackAsksThreeTimesForTenThousandBytesUnescapesAndAsksAgainAfterAWrongLength)
{
    Bytes flash = Pattern(10000, 7);
    flash[4095] = 0x5C;  // the last byte of the first block, escaped on the wire
    flash[4096] = 0x5C;  // the first of the second
    const uint32_t base = 0x00300000;
    std::vector<Bytes> requests;
    Bytes reset;
    board.Play([&](PtyBoard& b) {
        const std::string ssbText = "\r\nboot-ssb-codeloader\r\n";
        b.WriteSplit(Bytes(ssbText.begin(), ssbText.end()), 13);
        AnswerNext(b, 0x01);
        AnswerNext(b, 0x0D);
        bool wrongSent = false;
        while (requests.size() < 4) {
            Bytes request;
            if (!NextFrame(b, request) || request.size() != 11 || request[1] != 0x21) {
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
        NextFrame(b, reset);
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
    ASSERT_GE(reset.size(), 2u);
    EXPECT_EQ(reset[1], 0x0C) << "the board is reset after the read";
}

}  // namespace
