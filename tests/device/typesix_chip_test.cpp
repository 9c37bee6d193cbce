// The TypeSix chip object and serial protocol against a scripted board on a
// pseudo-terminal: answers in pieces and with noise, negative answers, the
// ssb load and its exit frame, an ssb found running, refusals before anything
// is sent, the retry after a failed image, and the read-back.
#include <gtest/gtest.h>

#include <functional>

#include "device/device_library.h"
#include "device/typesix/burn_typesix_chip.h"
#include "typesix_test_support.h"

namespace {

using TypeSixTest::Answer;
using TypeSixTest::Be32;
using TypeSixTest::FrameReader;
using TypeSixTest::Le32;
using TypeSixTest::Wire;

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
    static bool AnswerNext(PtyBoard& b, FrameReader& reader, uint8_t code, Bytes* payload = nullptr,
                           uint8_t result = 0x01)
    {
        Bytes frame;
        if (!reader.Next(frame) || frame.size() < 3) {
            ADD_FAILURE() << "no frame with code " << static_cast<int>(code);
            return false;
        }
        EXPECT_EQ(frame[1], code);
        if (code != 0xFC) {  // a short ssb packet is padded after its check
            EXPECT_EQ(frame.back(), TypeSixTest::Xor(frame, frame.size() - 1)) << "check of code " << int(code);
        }
        if (payload != nullptr) {
            *payload = frame;
        }
        b.Write(Answer(frame[0], frame[1], result));
        return frame[1] == code;
    }

    std::string WriteFileNamed(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir.File(name);
        TypeSixTest::WriteFile(path, bytes);
        return path;
    }

    TypeSixTest::TempDir dir;
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
        FrameReader reader(b);
        if (!reader.Next(init)) {
            return;
        }
        const Bytes answer = Answer(init[0], init[1]);
        b.Write(Bytes{'x', 0x5C, 0x65, 'y'});  // text and a stray end mark before the answer
        b.Write(Bytes(answer.begin(), answer.begin() + 3));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        b.Write(Bytes(answer.begin() + 3, answer.end()));
        AnswerNext(b, reader, 0x25, &version);
    });
    EXPECT_TRUE(chip->InitBoard());
    board.Join();
    EXPECT_EQ(init, (Bytes{0x00, 0x01, 0x01}));
    EXPECT_EQ(version, (Bytes{0x01, 0x25, 0x24}));
}

TEST_F(TypeSixChipOverPty, NegativeAnswerFailsAtOnceWithoutSendingAgain)
{
    board.Play([&](PtyBoard& b) {
        FrameReader reader(b);
        AnswerNext(b, reader, 0x01, nullptr, 0x00);
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
        FrameReader reader(b);
        Bytes payload;
        Bytes wire;
        for (int i = 0; i < 2 && reader.Next(payload, &wire); ++i) {
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

TEST_F(TypeSixChipOverPty, SsbOfEightyThreePacketsEndsWithAnExitFrameWhoseCheckIsEscaped)
{
    constexpr uint32_t P = 16;
    const Bytes ssb = TypeSixTest::Pattern(83 * P - 5, 3);
    const Bytes digest = TypeSixTest::Sha256(ssb);
    const std::string spec = WriteFileNamed("ssb.bin", ssb) + "|" + WriteFileNamed("ssb.sha", digest) + "||||";
    SetPerPacketSize(handle, P);
    Bytes loaded;
    Bytes digestFrame;
    Bytes exitWire;
    board.Play([&](PtyBoard& b) {
        FrameReader reader(b);
        AnswerNext(b, reader, 0x01);
        AnswerNext(b, reader, 0x25);
        for (uint32_t k = 0; k < 83; ++k) {
            Bytes packet;
            if (!AnswerNext(b, reader, 0xFC, &packet)) {
                return;
            }
            ASSERT_EQ(packet.size(), P + 7);
            EXPECT_EQ(Le32(packet, 2), k);
            const size_t n = std::min<size_t>(P, ssb.size() - loaded.size());
            EXPECT_EQ(packet[6 + n], TypeSixTest::Xor(packet, 6 + n)) << "packet " << k;
            loaded.insert(loaded.end(), packet.begin() + 6, packet.begin() + 6 + static_cast<std::ptrdiff_t>(n));
        }
        AnswerNext(b, reader, 0xFD, &digestFrame);
        Bytes exitPayload;
        reader.Next(exitPayload, &exitWire);
    });
    ASSERT_TRUE(chip->FilePrepare(spec));
    EXPECT_TRUE(chip->InitBoard());
    EXPECT_TRUE(chip->DownloadBootData());
    board.Join();
    EXPECT_EQ(loaded, ssb);
    ASSERT_EQ(digestFrame.size(), 32u + 7u);
    EXPECT_EQ(Be32(digestFrame, 2), ssb.size());
    EXPECT_EQ(Bytes(digestFrame.begin() + 6, digestFrame.end() - 1), digest);
    EXPECT_EQ(exitWire, (Bytes{0x5C, 0x73, 0x56, 0x0A, 0x5C, 0x5C, 0x5C, 0x65}));
    EXPECT_TRUE(messages.Has("load ssb success.\n"));
}

TEST_F(TypeSixChipOverPty, KeyStoreAloneIsLoadedWhenOnlyTheThirdFieldIsGiven)
{
    const Bytes ssb(10, 0x22);
    const Bytes keyStore = {0x5C, 0x01, 0x02};
    const std::string spec = WriteFileNamed("ssb.bin", ssb) + "|" + WriteFileNamed("ssb.sha", Bytes(32, 1)) + "|" +
                             WriteFileNamed("key.bin", keyStore) + "||";
    Bytes keyFrame;
    board.Play([&](PtyBoard& b) {
        FrameReader reader(b);
        AnswerNext(b, reader, 0xFC);
        AnswerNext(b, reader, 0xFD);
        AnswerNext(b, reader, 0x13, &keyFrame);
        Bytes exitPayload;
        reader.Next(exitPayload);
        EXPECT_EQ(exitPayload.at(1), 0x0A) << "no certificate or signature before the exit frame";
    });
    ASSERT_TRUE(chip->FilePrepare(spec));
    EXPECT_TRUE(chip->DownloadBootData());
    board.Join();
    EXPECT_EQ(Bytes(keyFrame.begin() + 2, keyFrame.end() - 1), (Bytes{0x01, 0x00, 0x03, 0x5C, 0x01, 0x02}));
}

TEST_F(TypeSixChipOverPty, RunningSsbIsErasedBeforeTheHandshakeWaitsForTheRom)
{
    Bytes exitPayload;
    board.Play([&](PtyBoard& b) {
        FrameReader reader(b);
        b.Write(std::string("\r\nboot-ssb-codeloader\r\n"));
        Bytes initPayload;
        Bytes erasePayload;
        AnswerNext(b, reader, 0x01, &initPayload);
        AnswerNext(b, reader, 0x0F, &erasePayload);
        EXPECT_EQ(initPayload, (Bytes{0x00, 0x01, 0x01}));
        EXPECT_EQ(erasePayload, (Bytes{0x01, 0x0F, 0x0E}));
        reader.Next(exitPayload);
        b.Write(std::string("\r\nboot-rom"));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        b.Write(std::string("loader\r\n"));
    });
    EXPECT_TRUE(chip->ShakeHand());
    board.Join();
    ASSERT_EQ(exitPayload.size(), 3u);
    EXPECT_EQ(exitPayload[1], 0x0A);
}

TEST_F(TypeSixChipOverPty, SsbNeedingMoreThan65535PacketsIsRefusedBeforeAnythingIsSent)
{
    SetPerPacketSize(handle, 1);
    const std::string spec = WriteFileNamed("big.bin", Bytes(65536, 0x33)) + "|" + WriteFileNamed("big.sha", Bytes(32, 0));
    board.Play([](PtyBoard& b) { b.Drain(300); });
    EXPECT_FALSE(chip->FilePrepare(spec));
    EXPECT_FALSE(chip->DownloadSsb());
    EXPECT_FALSE(chip->FsbWritePage(Bytes(65536, 0).data(), 65536));
    board.Join();
    EXPECT_TRUE(board.Log().empty());
    EXPECT_TRUE(messages.Has("65535")) << messages.Get();

    // 65535 packets are fine as far as numbering goes.
    EXPECT_TRUE(chip->SsbPacketCountFits(65535, "ssb"));
}

TEST_F(TypeSixChipOverPty, ResetWritesTheResetFrame)
{
    board.Play([](PtyBoard& b) { b.Read(11); });
    EXPECT_TRUE(chip->Reset());
    board.Join();
    EXPECT_EQ(board.Log(), (Bytes{0x5C, 0x73, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x5C, 0x65}));
}

TEST_F(TypeSixChipOverPty, PackageWhoseImageRunsPastItsEndIsRefusedBeforeTheBoardIsTouched)
{
    Bytes package = TypeSixTest::BuildPackage({{"ssb.bin", 0, Bytes(100, 1)}, {"app.bin", 20, Bytes(100, 2)}});
    package.resize(package.size() - 1);  // the table and its CRC stay intact
    const std::string path = WriteFileNamed("short.fwpkg", package);
    board.Play([](PtyBoard& b) { b.Drain(300); });
    EXPECT_EQ(DownloadAllinoneBin(handle, path.c_str(), 0), 0);
    board.Join();
    EXPECT_TRUE(board.Log().empty());
    EXPECT_TRUE(messages.Has("image app.bin reaches past the end of the package")) << messages.Get();
    EXPECT_TRUE(chip->GetPartitionList().empty());
}

TEST_F(TypeSixChipOverPty, PackageOf256EntriesIsRefused)
{
    std::vector<TypeSixTest::PackageImage> images(256, {"x", 20, Bytes(1, 0)});
    const std::string path = WriteFileNamed("many.fwpkg", TypeSixTest::BuildPackage(images));
    EXPECT_EQ(DownloadAllinoneBin(handle, path.c_str(), 0), 0);
    EXPECT_TRUE(messages.Has("too many image!\n")) << messages.Get();
}

// --- image download ---------------------------------------------------------------------

TEST_F(TypeSixChipOverPty, FlashImageThatCannotBeOpenedFailsBeforeTheBoardIsTouched)
{
    SetIsReset(handle, 0);
    SetIsReady(handle, 0);
    board.Play([](PtyBoard& b) { b.Drain(300); });
    EXPECT_EQ(DownloadToFlash(handle, dir.File("missing.bin").c_str(), 0, 0, 0x1000, 0x1000, 0, 100), 0);
    board.Join();
    EXPECT_TRUE(board.Log().empty());
    EXPECT_TRUE(messages.Has("get file content failed: " + dir.File("missing.bin") + "\n")) << messages.Get();
}

TEST_F(TypeSixChipOverPty, FailedImageIsResetOnlyWhenTheResetSettingIsOn)
{
    const std::string image = dir.File("missing.bin");
    board.Play([](PtyBoard& b) { b.Drain(300); });
    SetIsReset(handle, 1);
    EXPECT_EQ(DownloadToFlash(handle, image.c_str(), 0, 0, 0, 0x1000, 0, 100), 0);
    board.Join();
    EXPECT_EQ(board.Log(), Wire({0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C}));
}

TEST_F(TypeSixChipOverPty, SecondAttemptAfterAFailedImageReachesTheRunningSsb)
{
    SetIsReset(handle, 0);
    SetIsReady(handle, 0);
    SetPerPacketSize(handle, 16);
    chip->SetPortBaudRate(230400);
    const Bytes image = {1, 2, 3, 0x5C, 5, 6, 7, 8, 9, 10};
    const Bytes digest(32, 0x5C);
    const std::string spec = WriteFileNamed("img.bin", image) + "|" + WriteFileNamed("img.sha", digest);
    Bytes speed;
    Bytes head;
    Bytes data;
    Bytes sha;
    board.Play([&](PtyBoard& b) {
        FrameReader reader(b);
        AnswerNext(b, reader, 0x01, nullptr, 0x00);  // first attempt refused
        AnswerNext(b, reader, 0x01);
        AnswerNext(b, reader, 0x0D, &speed);
        AnswerNext(b, reader, 0x36, &head);
        AnswerNext(b, reader, 0x04, &data);
        AnswerNext(b, reader, 0x05);
        AnswerNext(b, reader, 0x37, &sha);
        EXPECT_TRUE(b.Drain(300).empty()) << "no reset with the reset setting off";
    });
    EXPECT_EQ(DownloadToFlash(handle, spec.c_str(), 0, 0, 0x00200000, 0x1000, 0, 100), 0);
    EXPECT_EQ(DownloadToFlash(handle, spec.c_str(), 0, 0, 0x00200000, 0x1000, 0, 100), 1);
    board.Join();
    EXPECT_EQ(Be32(speed, 2), 230400u) << "the transfer runs at the rate asked for";
    EXPECT_EQ(head, (Bytes{0x02, 0x36, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                           TypeSixTest::Xor(head, 11)}));
    ASSERT_EQ(data.size(), 16u + 3u);
    EXPECT_EQ(Bytes(data.begin() + 2, data.begin() + 12), image);
    EXPECT_EQ(Bytes(data.begin() + 12, data.end() - 1), Bytes(6, 0xFF));
    ASSERT_EQ(sha.size(), 11u + 32u);
    EXPECT_EQ(Be32(sha, 2), 0x00200000u);
    EXPECT_EQ(Be32(sha, 6), image.size());
    EXPECT_EQ(Bytes(sha.begin() + 10, sha.end() - 1), digest);
}

TEST_F(TypeSixChipOverPty, SpecificationWithTwoBarsIsRefused)
{
    board.Play([](PtyBoard& b) { b.Drain(200); });
    SetIsReset(handle, 0);
    EXPECT_EQ(DownloadToFlash(handle, "a.bin|b.sha|c", 0, 0, 0, 0x1000, 0, 2), 0);
    board.Join();
    EXPECT_TRUE(messages.Has("invalid file format: a.bin|b.sha|c\n")) << messages.Get();
    EXPECT_TRUE(board.Log().empty());
}

// --- read-back ---------------------------------------------------------------------------

TEST_F(TypeSixChipOverPty, ReadBackAsksThreeTimesForTenThousandBytesAndAsksAgainAfterAWrongLength)
{
    const Bytes flash = TypeSixTest::Pattern(10000, 7);
    const uint32_t base = 0x00300000;
    std::vector<Bytes> requests;
    Bytes resetWire;
    board.Play([&](PtyBoard& b) {
        FrameReader reader(b);
        b.Write(std::string("\r\nboot-ssb-co"));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        b.Write(std::string("deloader\r\n"));
        AnswerNext(b, reader, 0x01);
        AnswerNext(b, reader, 0x0D);
        bool wrongSent = false;
        while (requests.size() < 4) {
            Bytes request;
            if (!reader.Next(request) || request.size() != 11 || request[1] != 0x21) {
                ADD_FAILURE() << "expected a data request";
                return;
            }
            requests.push_back(request);
            const uint32_t offset = Be32(request, 2) - base;
            const uint32_t length = Be32(request, 6);
            Bytes data(flash.begin() + offset, flash.begin() + offset + length);
            if (offset == 4096 && !wrongSent) {
                wrongSent = true;
                data.resize(100);
            }
            const Bytes answer = Answer(request[0], 0x21, 0x01, data);
            // In two pieces, the cut inside the data.
            b.Write(Bytes(answer.begin(), answer.begin() + 50));
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            b.Write(Bytes(answer.begin() + 50, answer.end()));
        }
        Bytes resetPayload;
        reader.Next(resetPayload, &resetWire);
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
    EXPECT_EQ(TypeSixTest::ReadFile(out), flash);
    ASSERT_GE(resetWire.size(), 4u);
    EXPECT_EQ(resetWire[3], 0x0C) << "the board is reset after the read";
}

TEST_F(TypeSixChipOverPty, ReadBackOfNothingWritesAnEmptyFile)
{
    SetIsReady(handle, 0);
    board.Play([&](PtyBoard& b) {
        FrameReader reader(b);
        AnswerNext(b, reader, 0x01);
        AnswerNext(b, reader, 0x0D);
        Bytes reset;
        reader.Next(reset);
        EXPECT_EQ(reset.at(1), 0x0C);
    });
    const std::string out = dir.File("empty.bin");
    TypeSixTest::WriteFile(out, Bytes(5, 1));
    EXPECT_EQ(UploadFile(handle, 0, 0, out.c_str()), 1);
    board.Join();
    EXPECT_TRUE(TypeSixTest::ReadFile(out).empty());
}

}  // namespace
