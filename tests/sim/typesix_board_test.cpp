// The simulated TypeSix board driven in-process by a small tool side written
// here from the wire tables: ROM handshake and ssb load, image transfers,
// read-back, reset, injected faults and frames no board could parse.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/sim_sha256.h"

namespace {

using Bytes = std::vector<uint8_t>;

class FakeLine : public Sim::Line {
public:
    void Write(const uint8_t* data, size_t length) override
    {
        out.insert(out.end(), data, data + length);
        log.push_back("write");
    }
    void SetBaud(uint32_t value) override
    {
        baud = value;
        log.push_back("baud " + std::to_string(value));
    }
    uint32_t GetBaud() const override { return baud; }

    Bytes out;
    uint32_t baud = 115200;
    std::vector<std::string> log;
};

// ---- the tool side, from the wire tables ----

uint8_t Xor(const Bytes& bytes, size_t count)
{
    uint8_t x = 0;
    for (size_t i = 0; i < count; ++i) {
        x = static_cast<uint8_t>(x ^ bytes[i]);
    }
    return x;
}

// 5C 73, payload with 5C doubled, 5C 65.
Bytes Wrap(const Bytes& payload)
{
    Bytes wire{0x5C, 0x73};
    for (uint8_t b : payload) {
        wire.push_back(b);
        if (b == 0x5C) {
            wire.push_back(0x5C);
        }
    }
    wire.push_back(0x5C);
    wire.push_back(0x65);
    return wire;
}

struct Heard {
    std::vector<Bytes> answers;  // un-escaped payloads
    std::string text;            // bytes outside frames
};

Heard Unwrap(const Bytes& wire)
{
    Heard heard;
    Bytes current;
    bool inFrame = false;
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == 0x5C && i + 1 < wire.size()) {
            uint8_t next = wire[++i];
            if (next == 0x73) {
                inFrame = true;
                current.clear();
            } else if (next == 0x65 && inFrame) {
                heard.answers.push_back(current);
                inFrame = false;
            } else if (inFrame) {
                current.push_back(next);
            }
        } else if (inFrame) {
            current.push_back(wire[i]);
        } else {
            heard.text.push_back(static_cast<char>(wire[i]));
        }
    }
    return heard;
}

void PutBe32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

void PutLe32(Bytes& out, uint32_t v)
{
    for (int shift = 0; shift <= 24; shift += 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

Bytes Digest(const Bytes& data)
{
    Sim::Sha256::Digest d = Sim::Sha256::Of(data.data(), data.size());
    return Bytes(d.begin(), d.end());
}

std::string HexDigest(const Bytes& data)
{
    return Sim::Sha256::Hex(Sim::Sha256::Of(data.data(), data.size()));
}

bool Positive(const Bytes& answer)
{
    return answer.size() >= 5 && answer[1] == 0x02 && answer[3] == 0x01 &&
           Xor(answer, answer.size() - 1) == answer.back();
}

bool Negative(const Bytes& answer)
{
    return answer.size() >= 5 && answer[1] == 0x02 && answer[3] != 0x01 &&
           Xor(answer, answer.size() - 1) == answer.back();
}

Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes data(length);
    uint32_t x = seed;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return data;
}

constexpr uint32_t FLASH_SIZE = 256 * 1024;

class TypeSixBoardTest : public ::testing::Test {
protected:
    void PowerOn() { board = Sim::MakeTypeSixBoard(Sim::BoardEnv{line, flash, report, faults}); }

    // Everything the board says in return to these bytes.
    Heard Feed(const Bytes& wire)
    {
        line.out.clear();
        board->OnBytes(wire.data(), wire.size());
        return Unwrap(line.out);
    }

    std::string Tick(int64_t nowMs)
    {
        line.out.clear();
        board->OnTick(nowMs);
        return Unwrap(line.out).text;
    }

    Bytes Payload(uint8_t code, const Bytes& params)
    {
        Bytes p{seq++, code};
        p.insert(p.end(), params.begin(), params.end());
        p.push_back(Xor(p, p.size()));
        return p;
    }

    // A command that must get exactly one answer.
    Bytes Command(uint8_t code, const Bytes& params = {})
    {
        return Exchange(Payload(code, params));
    }

    Bytes Exchange(const Bytes& payload)
    {
        Heard heard = Feed(Wrap(payload));
        EXPECT_EQ(heard.answers.size(), 1u) << "command 0x" << std::hex << int(payload[1]);
        return heard.answers.empty() ? Bytes{} : heard.answers.front();
    }

    // ssb packet: seq, FC, number (LE), data, check right after the data, 0xFF up to P + 7.
    Bytes SsbPacket(uint32_t number, const uint8_t* data, size_t n, size_t packetSize)
    {
        Bytes p{seq++, 0xFC};
        PutLe32(p, number);
        p.insert(p.end(), data, data + n);
        p.push_back(Xor(p, p.size()));
        p.resize(packetSize + 7, 0xFF);
        return p;
    }

    bool SendSsb(const Bytes& image, size_t packetSize, const Bytes& digest)
    {
        bool ok = true;
        size_t count = (image.size() + packetSize - 1) / packetSize;
        for (size_t k = 0; k < count; ++k) {
            size_t n = std::min(packetSize, image.size() - k * packetSize);
            ok = Positive(Exchange(SsbPacket(static_cast<uint32_t>(k), image.data() + k * packetSize, n, packetSize))) && ok;
        }
        Bytes params;
        PutBe32(params, static_cast<uint32_t>(image.size()));
        params.insert(params.end(), digest.begin(), digest.end());
        return Positive(Command(0xFD, params)) && ok;
    }

    Bytes ExitFrame() { return Wrap(Payload(0x0A, {})); }

    void RomInit()
    {
        seq = 0;
        ASSERT_TRUE(Positive(Command(0x01)));
        ASSERT_TRUE(Positive(Command(0x25)));
    }

    // Power-on to a running ssb, as the tool's first steps.
    void BootSsb()
    {
        PowerOn();
        ASSERT_NE(Tick(0).find("-romloader"), std::string::npos);
        RomInit();
        Bytes ssb = Pattern(100, 1);
        ASSERT_TRUE(SendSsb(ssb, 4096, Digest(ssb)));
        Heard heard = Feed(ExitFrame());
        ASSERT_TRUE(heard.answers.empty());
        ASSERT_NE(heard.text.find("-ssb-codeloader"), std::string::npos);
    }

    Bytes DataFrame(const uint8_t* data, size_t n, size_t packetSize)
    {
        Bytes p{seq++, 0x04};
        p.insert(p.end(), data, data + n);
        p.resize(2 + packetSize, 0xFF);
        p.push_back(Xor(p, p.size()));
        return p;
    }

    bool SendData(const Bytes& image, size_t packetSize)
    {
        bool ok = true;
        for (size_t at = 0; at < image.size(); at += packetSize) {
            size_t n = std::min(packetSize, image.size() - at);
            ok = Positive(Exchange(DataFrame(image.data() + at, n, packetSize))) && ok;
        }
        return ok;
    }

    Bytes SetSpeedParams(uint32_t baud)
    {
        Bytes params;
        PutBe32(params, baud);
        PutBe32(params, 28672);
        return params;
    }

    // init, set speed, bin head, data, end page, digest: returns the digest answer.
    Bytes SendOtherImage(uint8_t fileCode, uint32_t address, uint32_t region, const Bytes& image, size_t packetSize,
                         const Bytes& digest, uint32_t lengthField)
    {
        seq = 0;
        EXPECT_TRUE(Positive(Command(0x01)));
        EXPECT_TRUE(Positive(Command(0x0D, SetSpeedParams(115200))));
        Bytes head{fileCode};
        PutBe32(head, address);
        PutBe32(head, region);
        EXPECT_TRUE(Positive(Command(0x36, head)));
        EXPECT_TRUE(SendData(image, packetSize));
        EXPECT_TRUE(Positive(Command(0x05)));
        Bytes sha;
        PutBe32(sha, address);
        PutBe32(sha, lengthField);
        sha.insert(sha.end(), digest.begin(), digest.end());
        return Command(0x37, sha);
    }

    // init, set speed, limits, erase core, start, data, end page, memory config, [digest], kv key.
    Bytes SendAppImage(uint8_t fileType, const Bytes& image, size_t packetSize, const Bytes& digest)
    {
        seq = 0;
        EXPECT_TRUE(Positive(Command(0x01)));
        EXPECT_TRUE(Positive(Command(0x0D, SetSpeedParams(115200))));
        EXPECT_TRUE(Positive(Command(0x11, {0x01, 0x10, 0x01, 0x30, 0x00, 0xA0, 0x00, 0x18, 0x01, 0x00})));
        EXPECT_TRUE(Positive(Command(0x07, {fileType})));
        EXPECT_TRUE(Positive(Command(0x03, {fileType, 0x00, 0x00})));
        EXPECT_TRUE(SendData(image, packetSize));
        EXPECT_TRUE(Positive(Command(0x05)));
        Bytes config{fileType};
        PutBe32(config, static_cast<uint32_t>(image.size()));
        PutBe32(config, 262144);
        EXPECT_TRUE(Positive(Command(0x06, config)));
        Bytes shaAnswer;
        if (!digest.empty()) {
            Bytes sha{fileType};
            sha.insert(sha.end(), digest.begin(), digest.end());
            shaAnswer = Command(0x02, sha);
        }
        EXPECT_TRUE(Positive(Command(0x1E, {0x00, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00})));
        return shaAnswer;
    }

    const Sim::ImageRecord* LastImage() const
    {
        return report.Images().empty() ? nullptr : &report.Images().back();
    }

    bool ErrorMentions(const std::string& text) const
    {
        for (const auto& e : report.ProtocolErrors()) {
            if (e.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    FakeLine line;
    Sim::Flash flash{FLASH_SIZE};
    Sim::Report report;
    Sim::FaultPlan faults;
    std::unique_ptr<Sim::Board> board;
    uint8_t seq = 0;
};

// ---- boot ROM and ssb load ----

using TypeSixRomTest = TypeSixBoardTest;

TEST_F(TypeSixRomTest, AnnouncesTheRomUntilSpokenTo)
{
    PowerOn();
    EXPECT_NE(Tick(1000).find("-romloader"), std::string::npos);
    EXPECT_EQ(Tick(1050), "");
    EXPECT_NE(Tick(1100).find("-romloader"), std::string::npos);
    RomInit();
    EXPECT_EQ(Tick(5000), "");
    EXPECT_EQ(Tick(9000), "");
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

TEST_F(TypeSixRomTest, LoadsAnSsbOfThreePacketsAndStartsIt)
{
    PowerOn();
    Tick(0);
    RomInit();
    // 10000 bytes in 4096-byte packets: the last carries 1808 bytes, its check at offset 1814.
    Bytes ssb = Pattern(10000, 7);
    ASSERT_TRUE(SendSsb(ssb, 4096, Digest(ssb)));
    Heard heard = Feed(ExitFrame());
    EXPECT_TRUE(heard.answers.empty());
    EXPECT_NE(heard.text.find("-ssb-codeloader"), std::string::npos);
    EXPECT_EQ(heard.text.find("-romloader"), std::string::npos);

    ASSERT_NE(LastImage(), nullptr);
    EXPECT_EQ(LastImage()->kind, "ssb");
    EXPECT_EQ(LastImage()->length, 10000u);
    EXPECT_EQ(LastImage()->sha256, HexDigest(ssb));
    EXPECT_EQ(LastImage()->digestMatched, 1);
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

TEST_F(TypeSixRomTest, AnSsbEndingInPaddingBytesIsCutAtItsAnnouncedLength)
{
    PowerOn();
    RomInit();
    Bytes ssb = Pattern(5000, 3);
    std::fill(ssb.end() - 6, ssb.end(), 0xFF);
    ASSERT_TRUE(SendSsb(ssb, 1024, Digest(ssb)));
    ASSERT_NE(LastImage(), nullptr);
    EXPECT_EQ(LastImage()->length, 5000u);
    EXPECT_EQ(LastImage()->digestMatched, 1);
}

TEST_F(TypeSixRomTest, AnExactMultipleOfThePacketSizeNeedsNoShortPacket)
{
    PowerOn();
    RomInit();
    Bytes ssb = Pattern(4096, 4);
    ASSERT_TRUE(SendSsb(ssb, 4096, Digest(ssb)));
    EXPECT_EQ(LastImage()->length, 4096u);
    EXPECT_EQ(LastImage()->digestMatched, 1);
}

TEST_F(TypeSixRomTest, AWrongSsbDigestIsRefusedAndTheRomStays)
{
    PowerOn();
    RomInit();
    Bytes ssb = Pattern(3000, 5);
    Bytes wrong = Digest(ssb);
    wrong[31] ^= 1;
    EXPECT_FALSE(SendSsb(ssb, 4096, wrong));
    ASSERT_NE(LastImage(), nullptr);
    EXPECT_EQ(LastImage()->kind, "ssb");
    EXPECT_EQ(LastImage()->digestMatched, 0);

    Heard heard = Feed(ExitFrame());
    EXPECT_EQ(heard.text.find("-ssb-codeloader"), std::string::npos);
    EXPECT_NE(heard.text.find("-romloader"), std::string::npos);
    EXPECT_TRUE(ErrorMentions("exit frame without a verified ssb"));
}

TEST_F(TypeSixRomTest, ABoardThatFallsBackToTheRomTalksAgainAfterTheExit)
{
    faults.fallBackToRom = true;
    PowerOn();
    RomInit();
    Bytes ssb = Pattern(500, 6);
    ASSERT_TRUE(SendSsb(ssb, 4096, Digest(ssb)));
    Heard heard = Feed(ExitFrame());
    EXPECT_EQ(heard.text.find("-ssb-codeloader"), std::string::npos);
    EXPECT_NE(heard.text.find("-romloader"), std::string::npos);
    // It keeps talking until spoken to, like at power-on.
    EXPECT_NE(Tick(100000).find("-romloader"), std::string::npos);
    EXPECT_EQ(LastImage()->digestMatched, 1);
}

TEST_F(TypeSixRomTest, AnSsbRunningAtPowerOnIsErasedAndTheRomReturns)
{
    faults.ssbRunning = true;
    PowerOn();
    std::string text = Tick(0);
    EXPECT_NE(text.find("-ssb-codeloader"), std::string::npos);
    EXPECT_EQ(text.find("-romloader"), std::string::npos);
    // The erase-ssb commands are fixed payloads, not numbered by the counter.
    EXPECT_TRUE(Positive(Exchange({0x00, 0x01, 0x01})));
    EXPECT_TRUE(Positive(Exchange({0x01, 0x0F, 0x0E})));
    EXPECT_EQ(Tick(5000), "") << "an erased ssb must not announce itself again";
    seq = 2;
    Heard heard = Feed(ExitFrame());
    EXPECT_TRUE(heard.answers.empty());
    EXPECT_NE(heard.text.find("-romloader"), std::string::npos);

    // Now the ROM takes an ssb as usual.
    RomInit();
    Bytes ssb = Pattern(200, 8);
    ASSERT_TRUE(SendSsb(ssb, 4096, Digest(ssb)));
    EXPECT_NE(Feed(ExitFrame()).text.find("-ssb-codeloader"), std::string::npos);
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

TEST_F(TypeSixRomTest, AnSsbThatIsNotErasedStartsAgainAfterTheExit)
{
    faults.ssbRunning = true;
    PowerOn();
    Tick(0);
    EXPECT_TRUE(Positive(Exchange({0x00, 0x01, 0x01})));
    Heard heard = Feed(ExitFrame());
    EXPECT_NE(heard.text.find("-ssb-codeloader"), std::string::npos);
    EXPECT_EQ(heard.text.find("-romloader"), std::string::npos);
}

TEST_F(TypeSixRomTest, SecurityFramesAfterTheDigestAreRecorded)
{
    PowerOn();
    RomInit();
    Bytes ssb = Pattern(300, 9);
    ASSERT_TRUE(SendSsb(ssb, 4096, Digest(ssb)));
    Bytes keyStore = Pattern(40, 10), certificate = Pattern(70, 11), signature = Pattern(64, 12);
    Bytes p{0x01, 0x00, 40};
    p.insert(p.end(), keyStore.begin(), keyStore.end());
    EXPECT_TRUE(Positive(Command(0x13, p)));
    p = {0x00, 70};
    p.insert(p.end(), certificate.begin(), certificate.end());
    EXPECT_TRUE(Positive(Command(0x14, p)));
    p = {0x02, 0x02, 0x00, 64};
    p.insert(p.end(), signature.begin(), signature.end());
    EXPECT_TRUE(Positive(Command(0x15, p)));
    // A length field that does not fit the frame is refused.
    p = {0x02, 0x02, 0x00, 65};
    p.insert(p.end(), signature.begin(), signature.end());
    EXPECT_TRUE(Negative(Command(0x15, p)));

    const auto& images = report.Images();
    ASSERT_EQ(images.size(), 4u);
    EXPECT_EQ(images[1].kind, "keystore");
    EXPECT_EQ(images[1].sha256, HexDigest(keyStore));
    EXPECT_EQ(images[2].kind, "certificate");
    EXPECT_EQ(images[2].length, 70u);
    EXPECT_EQ(images[3].kind, "signature");
    EXPECT_EQ(images[3].sha256, HexDigest(signature));
    EXPECT_NE(Feed(ExitFrame()).text.find("-ssb-codeloader"), std::string::npos);
}

TEST_F(TypeSixRomTest, PacketsOutOfOrderOrOfChangingSizeAreRefused)
{
    PowerOn();
    RomInit();
    Bytes data = Pattern(4096, 13);
    EXPECT_TRUE(Positive(Exchange(SsbPacket(0, data.data(), 4096, 4096))));
    EXPECT_TRUE(Negative(Exchange(SsbPacket(2, data.data(), 4096, 4096))));
    EXPECT_TRUE(Negative(Exchange(SsbPacket(1, data.data(), 1024, 1024))));
    EXPECT_TRUE(ErrorMentions("out of order"));
    EXPECT_TRUE(ErrorMentions("data bytes after packets of 4096"));
}

TEST_F(TypeSixRomTest, AnExitFrameWithAnUndoubledEscapeNeverEndsAndTheSsbDoesNotStart)
{
    PowerOn();
    RomInit();
    Bytes ssb = Pattern(100, 14);
    ASSERT_TRUE(SendSsb(ssb, 4096, Digest(ssb)));
    // Sequence 0x56 makes the check 0x56 ^ 0x0A = 0x5C; written raw, the end marker is lost.
    Heard heard = Feed({0x5C, 0x73, 0x56, 0x0A, 0x5C, 0x5C, 0x65});
    EXPECT_TRUE(heard.answers.empty());
    EXPECT_EQ(heard.text.find("-ssb-codeloader"), std::string::npos);
    // The next frame shows the board was still waiting inside the broken one.
    seq = 0;
    EXPECT_TRUE(Positive(Command(0x01)));
    EXPECT_TRUE(ErrorMentions("without end marker"));

    // The same frame with the escape doubled starts the ssb.
    ASSERT_TRUE(SendSsb(ssb, 4096, Digest(ssb)));
    heard = Feed(Wrap({0x56, 0x0A, 0x5C}));
    EXPECT_NE(heard.text.find("-ssb-codeloader"), std::string::npos);
}

// ---- images through the running ssb ----

class TypeSixLoaderTest : public TypeSixBoardTest {
protected:
    void SetUp() override { BootSsb(); }
};

TEST_F(TypeSixLoaderTest, TheLoaderRepeatsItsStartTextOnlyWhileTheLineIsQuiet)
{
    // BootSsb announced the loader at time 0.
    EXPECT_EQ(Tick(50), "");
    EXPECT_NE(Tick(1000).find("-ssb-codeloader"), std::string::npos);
    EXPECT_EQ(Tick(1050), "");
    seq = 0;
    EXPECT_TRUE(Positive(Command(0x01)));  // arrives at 1050
    EXPECT_EQ(Tick(1100), "");
    EXPECT_NE(Tick(1150).find("-ssb-codeloader"), std::string::npos);
}

TEST_F(TypeSixLoaderTest, AFlashImageLandsAtItsAddressAndItsDigestIsChecked)
{
    Bytes image = Pattern(10000, 20);
    Bytes answer = SendOtherImage(0, 0x8000, 0x4000, image, 4096, Digest(image), 10000);
    EXPECT_TRUE(Positive(answer));

    EXPECT_EQ(flash.Read(0x8000, 10000), image);
    // The padding of the last frame fills the rest of the erased region only.
    EXPECT_EQ(flash.Read(0x8000 + 10000, 0x4000 - 10000), Bytes(0x4000 - 10000, 0xFF));
    ASSERT_NE(LastImage(), nullptr);
    EXPECT_EQ(LastImage()->kind, "flash");
    EXPECT_EQ(LastImage()->address, 0x8000u);
    EXPECT_EQ(LastImage()->length, 10000u);
    EXPECT_EQ(LastImage()->regionSize, 0x4000u);
    EXPECT_EQ(LastImage()->sha256, HexDigest(image));
    EXPECT_EQ(LastImage()->digestMatched, 1);
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

TEST_F(TypeSixLoaderTest, TheRegionIsErasedBeforeTheImageIsWritten)
{
    Bytes old(0x2000, 0x00);
    flash.Write(0x10000, old.data(), old.size());
    Bytes image = Pattern(100, 21);
    EXPECT_TRUE(Positive(SendOtherImage(0, 0x10000, 0x2000, image, 4096, Digest(image), 100)));
    EXPECT_EQ(flash.Read(0x10000, 100), image);
    EXPECT_EQ(flash.Read(0x10000 + 100, 0x2000 - 100), Bytes(0x2000 - 100, 0xFF));
}

TEST_F(TypeSixLoaderTest, AFlashImageWhoseDigestDoesNotMatchIsRefusedAndReported)
{
    Bytes image = Pattern(5000, 22);
    Bytes wrong = Digest(Pattern(5000, 23));
    EXPECT_TRUE(Negative(SendOtherImage(0, 0, 0x10000, image, 4096, wrong, 5000)));
    ASSERT_NE(LastImage(), nullptr);
    EXPECT_EQ(LastImage()->digestMatched, 0);
    EXPECT_EQ(LastImage()->sha256, HexDigest(image));
}

TEST_F(TypeSixLoaderTest, AnImageSentFromMemoryIsMeasuredByItsDigest)
{
    // No length on the digest frame; the image ends in bytes that look like padding.
    Bytes image = Pattern(6000, 24);
    std::fill(image.end() - 3, image.end(), 0xFF);
    EXPECT_TRUE(Positive(SendOtherImage(0, 0x20000, 0x10000, image, 4096, Digest(image), 0)));
    EXPECT_EQ(LastImage()->length, 6000u);
    EXPECT_EQ(LastImage()->digestMatched, 1);
}

TEST_F(TypeSixLoaderTest, ADigestFrameWithoutDigestLeavesTheImageUnchecked)
{
    Bytes image = Pattern(300, 25);
    EXPECT_TRUE(Positive(SendOtherImage(0, 0x1000, 0x1000, image, 256, {}, 300)));
    EXPECT_EQ(LastImage()->digestMatched, -1);
    EXPECT_EQ(LastImage()->length, 300u);
}

TEST_F(TypeSixLoaderTest, ALengthThatDisagreesWithTheDataIsRefused)
{
    Bytes image = Pattern(5000, 26);
    EXPECT_TRUE(Negative(SendOtherImage(0, 0, 0x10000, image, 4096, Digest(image), 9000)));
    EXPECT_EQ(LastImage()->digestMatched, 0);
    EXPECT_TRUE(ErrorMentions("announces 9000 bytes"));
}

TEST_F(TypeSixLoaderTest, PayloadsFullOfEscapeBytesArriveIntact)
{
    // 120 frames: the sequence byte passes 0x5C, data and checks are all escapes.
    Bytes image(120 * 64, 0x5C);
    for (size_t i = 0; i < image.size(); i += 3) {
        image[i] = 0x73;
    }
    Bytes answer = SendOtherImage(0, 0x5C5C, 0x5C5C, image, 64, Digest(image), static_cast<uint32_t>(image.size()));
    EXPECT_TRUE(Positive(answer));
    EXPECT_EQ(flash.Read(0x5C5C, image.size()), image);
    EXPECT_EQ(LastImage()->digestMatched, 1);
    EXPECT_TRUE(report.ProtocolErrors().empty());
}

TEST_F(TypeSixLoaderTest, EmmcAndOtpImagesAreRecordedWithoutTouchingFlash)
{
    Bytes image = Pattern(3000, 27);
    EXPECT_TRUE(Positive(SendOtherImage(1, 0x00200000, 0x1000, image, 4096, Digest(image), 3000)));
    EXPECT_EQ(LastImage()->kind, "emmc");
    EXPECT_EQ(LastImage()->address, 0x00200000u);
    EXPECT_TRUE(Positive(SendOtherImage(2, 0x40, 0x100, Bytes(16, 0xA5), 4096, Digest(Bytes(16, 0xA5)), 16)));
    EXPECT_EQ(LastImage()->kind, "otp");
    EXPECT_EQ(flash.Read(0, 0x1000), Bytes(0x1000, 0xFF));
}

TEST_F(TypeSixLoaderTest, ApplicationImagesAreRecordedByFileType)
{
    Bytes app = Pattern(9000, 28);
    EXPECT_TRUE(Positive(SendAppImage(2, app, 4096, Digest(app))));
    Bytes plain = Pattern(100, 29);
    EXPECT_TRUE(SendAppImage(104, plain, 4096, {}).empty());

    const auto& images = report.Images();
    ASSERT_EQ(images.size(), 3u);  // the ssb, then both applications
    EXPECT_EQ(images[1].kind, "app");
    EXPECT_EQ(images[1].fileType, 2);
    EXPECT_EQ(images[1].length, 9000u);
    EXPECT_EQ(images[1].sha256, HexDigest(app));
    EXPECT_EQ(images[1].digestMatched, 1);
    EXPECT_EQ(images[2].fileType, 104);
    EXPECT_EQ(images[2].digestMatched, -1);
    EXPECT_EQ(flash.Read(0, 0x4000), Bytes(0x4000, 0xFF));
}

TEST_F(TypeSixLoaderTest, AnApplicationDigestThatDoesNotMatchIsRefused)
{
    Bytes app = Pattern(4000, 30);
    Bytes wrong = Digest(app);
    wrong[0] ^= 0x80;
    EXPECT_TRUE(Negative(SendAppImage(0, app, 4096, wrong)));
    EXPECT_EQ(LastImage()->kind, "app");
    EXPECT_EQ(LastImage()->digestMatched, 0);
}

TEST_F(TypeSixLoaderTest, SetSpeedIsAnsweredAtTheOldSpeedThenTheLineFollows)
{
    seq = 0;
    line.log.clear();
    EXPECT_TRUE(Positive(Command(0x0D, SetSpeedParams(921600))));
    EXPECT_EQ(line.log, (std::vector<std::string>{"write", "baud 921600"}));
    // The same speed again changes nothing.
    line.log.clear();
    EXPECT_TRUE(Positive(Command(0x0D, SetSpeedParams(921600))));
    EXPECT_EQ(line.log, (std::vector<std::string>{"write"}));
    EXPECT_TRUE(Negative(Command(0x0D, SetSpeedParams(0))));
    EXPECT_EQ(line.baud, 921600u);
}

TEST_F(TypeSixLoaderTest, ReadBackAnswersFromFlashInBlocks)
{
    Bytes content = Pattern(10000, 31);
    content[5] = 0x5C;
    content[4096] = 0x5C;
    flash.Write(0x3000, content.data(), content.size());
    Bytes read;
    seq = 0;
    for (uint32_t at = 0; at < 10000; at += 4096) {
        uint32_t n = std::min<uint32_t>(4096, 10000 - at);
        Bytes params;
        PutBe32(params, 0x3000 + at);
        PutBe32(params, n);
        Bytes answer = Command(0x21, params);
        ASSERT_TRUE(Positive(answer));
        ASSERT_EQ(answer.size(), n + 5);
        read.insert(read.end(), answer.begin() + 4, answer.end() - 1);
    }
    EXPECT_EQ(read, content);

    Bytes tooLong;
    PutBe32(tooLong, 0);
    PutBe32(tooLong, 1u << 20);
    EXPECT_TRUE(Negative(Command(0x21, tooLong)));
    Bytes pastThePart;
    PutBe32(pastThePart, 0xFFFFF000u);
    PutBe32(pastThePart, 4096);
    EXPECT_TRUE(Negative(Command(0x21, pastThePart)));
}

TEST_F(TypeSixLoaderTest, TheResetFrameEndsTheRunAndReturnsTheLineToTheRomSpeed)
{
    seq = 0;
    EXPECT_TRUE(Positive(Command(0x0D, SetSpeedParams(3000000))));
    EXPECT_FALSE(board->WasReset());
    const Bytes reset{0x5C, 0x73, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x5C, 0x65};
    Heard heard = Feed(reset);
    EXPECT_TRUE(heard.answers.empty());
    EXPECT_TRUE(board->WasReset());
    EXPECT_EQ(report.Resets(), 1);
    EXPECT_EQ(line.baud, 115200u);
    EXPECT_NE(heard.text.find("-romloader"), std::string::npos);
}

TEST_F(TypeSixLoaderTest, EraseAllClearsTheFlashAndItsExitRestartsTheBoard)
{
    Bytes data = Pattern(64, 32);
    flash.Write(0x100, data.data(), data.size());
    seq = 0;
    EXPECT_TRUE(Positive(Command(0x01)));
    EXPECT_TRUE(Positive(Command(0x10)));
    EXPECT_EQ(flash.Read(0x100, 64), Bytes(64, 0xFF));
    Heard heard = Feed(Wrap(Payload(0x08, {})));
    EXPECT_TRUE(heard.answers.empty());
    EXPECT_TRUE(board->WasReset());
    EXPECT_NE(heard.text.find("-romloader"), std::string::npos);
}

TEST_F(TypeSixLoaderTest, CommandsOutOfPlaceGetANegativeAnswer)
{
    seq = 0;
    Bytes data(16, 0x11);
    EXPECT_TRUE(Negative(Exchange(DataFrame(data.data(), 16, 16))));
    EXPECT_TRUE(Negative(Command(0x05)));
    EXPECT_TRUE(Negative(Command(0x06, {0, 0, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_TRUE(Negative(Command(0xFC, {0, 0, 0, 0, 1})));  // a ROM command
    EXPECT_TRUE(Negative(Command(0x99)));
    EXPECT_TRUE(Negative(Command(0x01, {0x00})));  // init with a parameter
    EXPECT_EQ(report.ProtocolErrors().size(), 6u);
}

// ---- injected faults ----

using TypeSixFaultTest = TypeSixLoaderTest;

TEST_F(TypeSixFaultTest, TheNamedFrameGetsANegativeAnswerAndIsNotApplied)
{
    // Frames so far: init, version, one ssb packet, digest, exit = 5.
    faults.nakFrame = 9;  // init, set speed, bin head, then the first data frame
    Bytes image = Pattern(8192, 40);
    seq = 0;
    EXPECT_TRUE(Positive(Command(0x01)));
    EXPECT_TRUE(Positive(Command(0x0D, SetSpeedParams(115200))));
    Bytes head{0};
    PutBe32(head, 0);
    PutBe32(head, 0x4000);
    EXPECT_TRUE(Positive(Command(0x36, head)));
    EXPECT_TRUE(Negative(Exchange(DataFrame(image.data(), 4096, 4096))));

    // The tool starts the transfer over; this time it goes through.
    EXPECT_TRUE(Positive(SendOtherImage(0, 0, 0x4000, image, 4096, Digest(image), 8192)));
    EXPECT_EQ(LastImage()->digestMatched, 1);
    EXPECT_EQ(flash.Read(0, 8192), image);
}

TEST_F(TypeSixFaultTest, ADroppedAnswerIsRepeatedWithoutApplyingTheFrameTwice)
{
    // Answers so far: init, version, one ssb packet, digest = 4.
    faults.dropAnswer = 8;  // init, set speed, bin head, then the first data frame
    Bytes image = Pattern(8192, 41);
    seq = 0;
    EXPECT_TRUE(Positive(Command(0x01)));
    EXPECT_TRUE(Positive(Command(0x0D, SetSpeedParams(115200))));
    Bytes head{0};
    PutBe32(head, 0x1000);
    PutBe32(head, 0x4000);
    EXPECT_TRUE(Positive(Command(0x36, head)));
    Bytes first = DataFrame(image.data(), 4096, 4096);
    EXPECT_TRUE(Feed(Wrap(first)).answers.empty());
    EXPECT_TRUE(Positive(Exchange(first)));  // sent again after the answer wait
    EXPECT_TRUE(Positive(Exchange(DataFrame(image.data() + 4096, 4096, 4096))));
    EXPECT_TRUE(Positive(Command(0x05)));
    Bytes sha;
    PutBe32(sha, 0x1000);
    PutBe32(sha, 8192);
    Bytes digest = Digest(image);
    sha.insert(sha.end(), digest.begin(), digest.end());
    EXPECT_TRUE(Positive(Command(0x37, sha)));
    EXPECT_EQ(LastImage()->length, 8192u);
    EXPECT_EQ(LastImage()->digestMatched, 1);
    EXPECT_EQ(flash.Read(0x1000, 8192), image);
}

TEST_F(TypeSixFaultTest, TheNamedAnswerCarriesABrokenCheck)
{
    faults.corruptAnswer = 5;
    seq = 0;
    Bytes answer = Command(0x01);
    ASSERT_GE(answer.size(), 5u);
    EXPECT_EQ(answer[1], 0x02);
    EXPECT_EQ(answer[3], 0x01);
    EXPECT_NE(Xor(answer, answer.size() - 1), answer.back());
    EXPECT_TRUE(Positive(Command(0x25)));
}

TEST(TypeSixSilentBoard, SaysNothingAtAllButStillTakesTheImage)
{
    FakeLine line;
    Sim::Flash flash(FLASH_SIZE);
    Sim::Report report;
    Sim::FaultPlan faults;
    faults.silent = true;
    auto board = Sim::MakeTypeSixBoard(Sim::BoardEnv{line, flash, report, faults});
    board->OnTick(0);
    board->OnTick(1000);
    Bytes ssb = Pattern(50, 42);
    Bytes packet{0x00, 0xFC, 0, 0, 0, 0};
    packet.insert(packet.end(), ssb.begin(), ssb.end());
    packet.push_back(Xor(packet, packet.size()));
    packet.resize(4096 + 7, 0xFF);
    Bytes wire = Wrap(packet);
    board->OnBytes(wire.data(), wire.size());
    Bytes digest{0x01, 0xFD, 0, 0, 0, 50};
    Bytes d = Digest(ssb);
    digest.insert(digest.end(), d.begin(), d.end());
    digest.push_back(Xor(digest, digest.size()));
    wire = Wrap(digest);
    board->OnBytes(wire.data(), wire.size());
    EXPECT_TRUE(line.out.empty());
    ASSERT_EQ(report.Images().size(), 1u);
    EXPECT_EQ(report.Images()[0].digestMatched, 1);
}

// ---- frames no board could parse ----

using TypeSixMalformedTest = TypeSixLoaderTest;

TEST_F(TypeSixMalformedTest, AWrongCheckByteIsReportedAndLeftUnanswered)
{
    seq = 0;
    Bytes p = Payload(0x01, {});
    p.back() ^= 0x01;
    Heard heard = Feed(Wrap(p));
    EXPECT_TRUE(heard.answers.empty());
    EXPECT_TRUE(ErrorMentions("wrong check byte"));
    // The tool's resend with a good check is answered.
    p.back() ^= 0x01;
    EXPECT_TRUE(Positive(Exchange(p)));
}

TEST_F(TypeSixMalformedTest, TooShortAndUnterminatedFramesAreReportedAndLeftUnanswered)
{
    EXPECT_TRUE(Feed({0x5C, 0x73, 0x01, 0x01, 0x5C, 0x65}).answers.empty());
    EXPECT_TRUE(Feed({0x5C, 0x73, 0x00, 0x01}).answers.empty());
    EXPECT_TRUE(Feed(Wrap({0x00, 0x01, 0x01})).answers.size() == 1);
    EXPECT_TRUE(ErrorMentions("payload of 2 bytes"));
    EXPECT_TRUE(ErrorMentions("without end marker"));
}

TEST_F(TypeSixMalformedTest, ArbitraryBytesNeverStopTheBoard)
{
    uint32_t x = 12345;
    for (int round = 0; round < 2000; ++round) {
        Bytes chunk(1 + round % 97);
        for (auto& b : chunk) {
            x = x * 1664525u + 1013904223u;
            uint8_t r = static_cast<uint8_t>(x >> 24);
            // Plenty of markers so that many frames start and end.
            b = (r % 5 == 0) ? 0x5C : (r % 7 == 0) ? 0x73 : (r % 11 == 0) ? 0x65 : r;
        }
        board->OnBytes(chunk.data(), chunk.size());
    }
    EXPECT_FALSE(report.ProtocolErrors().empty());
    // Whatever state the noise left, a fresh init is answered.
    Feed(Wrap({0x00, 0x01, 0x01}));
    Feed({0x5C, 0x65});
    Heard heard = Feed(Wrap({0x07, 0x25, 0x22}));
    ASSERT_EQ(heard.answers.size(), 1u);
    EXPECT_EQ(heard.answers[0][1], 0x02);
}

TEST_F(TypeSixMalformedTest, WellCheckedFramesWithNonsenseParametersNeverStopTheBoard)
{
    // Every code both stages know, with any length and parameters; the bin
    // head is left out so that no random address grows the flash.
    const uint8_t codes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0A, 0x0D, 0x0F, 0x10, 0x11,
                             0x13, 0x14, 0x15, 0x1E, 0x21, 0x25, 0x37, 0xFC, 0xFD, 0x08};
    uint32_t x = 777;
    auto next = [&x]() {
        x = x * 1664525u + 1013904223u;
        return static_cast<uint8_t>(x >> 24);
    };
    for (int round = 0; round < 3000; ++round) {
        Bytes p{next(), codes[next() % sizeof(codes)]};
        size_t length = next() % 48;
        for (size_t i = 0; i < length; ++i) {
            uint8_t r = next();
            p.push_back(r % 3 == 0 ? 0x00 : r % 3 == 1 ? 0x5C : next());
        }
        p.push_back(Xor(p, p.size()));
        Feed(Wrap(p));
    }
    Heard heard = Feed(Wrap({0x00, 0x01, 0x01}));
    ASSERT_FALSE(heard.answers.empty());
    EXPECT_EQ(heard.answers.back()[1], 0x02);
}

}  // namespace
