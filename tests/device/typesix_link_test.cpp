// The TypeSix link, which the chip object's ROM stage and the loader protocol
// share, against a scripted line: what goes again and what does not, stale
// answers, the one sequence counter as the board sees it, rates the line
// will not take, and what the chip sends when an image or package is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "device/typesix/burn_typesix_chip.h"
#include "device/typesix/typesix_link.h"
#include "device/typesix/typesix_ser_cus_pro.h"
#include "pty_board.h"

namespace {

constexpr uint8_t CMD_EXIT = 0x0A;
constexpr uint8_t CMD_RESET = 0x0C;
constexpr uint8_t CMD_SPEED = 0x0D;
constexpr uint8_t CMD_DATA_REQUEST = 0x21;
constexpr uint32_t FAST_RATE = 921600;
const std::string PORT = "scripted0";

// seq | ack | code | return code | data | check
Bytes Answer(const Bytes& command, uint8_t ack = 0x02, const Bytes& data = {})
{
    return Wire(WithXor(Concat({{command[0], ack, command[1], 0x01}, data})));
}

// A line whose far end is a script: each frame the tool writes is handed to
// the board at once, and what the board writes back is pending at once.
// Nothing else ever arrives, so a wait with nothing pending lets its time pass.
class ScriptedLine : public TransportTypeBase {
public:
    using Board = std::function<void(ScriptedLine&, const Bytes& payload)>;

    bool Open(const Common::TRANSPORT_MODE_ATTR_U& attr) override
    {
        m_deviceName = attr.serial.portName;
        return true;
    }
    void Close() override {}
    unsigned long Send(const unsigned char* data, unsigned long length) override
    {
        payloads.push_back(Payloads(Bytes(data, data + length)).at(0));
        if (board) {
            board(*this, payloads.back());
        }
        return length;
    }
    unsigned long Receive(unsigned char* buffer, unsigned long length) override
    {
        const size_t n = std::min<size_t>(length, pending.size());
        std::copy_n(pending.begin(), n, buffer);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<unsigned long>(n);
    }
    bool WaitForData(uint32_t timeoutMs) override
    {
        if (pending.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        }
        return !pending.empty();
    }
    LineStatus CheckRate(uint32_t rate) const override
    {
        return rate == uncheckableRate ? LineStatus::Fail("the adapter does not reach it") : LineStatus();
    }
    LineStatus ApplyLineSettings(const LineSettings& settings) override
    {
        applied.push_back(settings.baudRate);
        return settings.baudRate == unappliableRate ? LineStatus::Fail("the driver refused it") : LineStatus();
    }

    void Write(const Bytes& bytes) { pending.insert(pending.end(), bytes.begin(), bytes.end()); }
    void Write(const std::string& text) { pending.insert(pending.end(), text.begin(), text.end()); }

    Board board;
    std::vector<Bytes> payloads;
    Bytes pending;
    std::vector<uint32_t> applied;
    uint32_t uncheckableRate = 0;
    uint32_t unappliableRate = 0;
};

// A board whose ROM and ssb take every command; after the exit and reset
// frames its ssb announces itself.
void AcceptingBoard(ScriptedLine& line, const Bytes& command)
{
    if (command[1] == CMD_EXIT || command[1] == CMD_RESET) {
        line.Write(std::string("boot -ssb-codeloader ready\r\n"));
    } else {
        line.Write(Answer(command));
    }
}

class TypeSixOnScriptedLine : public TypeSixChip {
protected:
    void SetUp() override
    {
        TypeSixChip::SetUp();
        auto owned = std::make_unique<ScriptedLine>();
        line = owned.get();
        chip.AttachLine(std::move(owned));
        ASSERT_EQ(chip.OpenSerialPort(PORT.c_str(), 115200, 0, 0), 1);
    }

    BurnTypeSixChip chip;
    ScriptedLine* line = nullptr;
    TypeSixLink link{chip};
};

// --- framed send ----------------------------------------------------------------------

// A negative answer fails at once. An unanswered frame goes again, with the
// same sequence byte. A whole answer that fails its check or is too short is
// as lost, and the frame goes again at once: there the attempt window is the
// whole window, so waiting it out would leave no time for a second send. A
// broken check on a positive answer and answers cut short are rows of the e2e
// reply faults (EveryReply).
TEST_F(TypeSixOnScriptedLine, NegativeAnswerFailsAtOnceUnansweredOrSpoiledOneSendsTheSameFrameAgain)
{
    const struct {
        const char* name;
        unsigned long attemptMs;
        std::function<Bytes(const Bytes&)> first;
        bool sentAgain;  // else refused at once
    } cases[] = {
        {"no answer", 50, [](const Bytes&) { return Bytes{}; }, true},
        {"broken check over a spoiled acknowledgement", 3000,
         [](const Bytes& c) {
             Bytes payload = WithXor({c[0], 0x03, c[1], 0x01});
             payload.back() ^= 0x01;
             return Wire(payload);
         },
         true},
        {"too short", 3000, [](const Bytes& c) { return Wire({c[0], 0x02}); }, true},
        {"negative", 50, [](const Bytes& c) { return Answer(c, 0x03); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        line->payloads.clear();
        line->board = [&c](ScriptedLine& l, const Bytes& command) {
            l.Write(l.payloads.size() == 1 ? c.first(command) : Answer(command));
        };
        messages.Take();
        EXPECT_EQ(link.SendCommand({0x07, 0x01, 0x06}, c.attemptMs, 3000), c.sentAgain) << messages.Messages();
        ASSERT_EQ(line->payloads.size(), c.sentAgain ? 2u : 1u);
        EXPECT_EQ(line->payloads[0], line->payloads.back());
        EXPECT_EQ(messages.Has(c.sentAgain ? "ack error1" : "ack error1:3\n"), !c.sentAgain) << messages.Messages();
        EXPECT_TRUE(!c.sentAgain || chip.Report().Failure().Ok()) << chip.Report().Failure().message;
    }
}

TEST_F(TypeSixOnScriptedLine, ReadBackDropsAnAnswerLeftFromAnEarlierRequest)
{
    const Bytes stale(16, 0xAA);
    const Bytes fresh(16, 0x55);
    line->Write(Answer({0x00, CMD_DATA_REQUEST}, 0x02, stale));
    line->board = [&fresh](ScriptedLine& l, const Bytes& request) { l.Write(Answer(request, 0x02, fresh)); };
    TypeSixSerCusPro protocol(chip, link);
    const std::string path = dir.File("block.bin");
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(protocol.RecvDataAndWriteFile(0x1000, 16, file));
    std::fclose(file);
    EXPECT_EQ(ReadFile(path), fresh);
}

// --- refusals --------------------------------------------------------------------------------

TEST_F(TypeSixOnScriptedLine, PackageWithAnImagePastItsEndIsRefusedBeforeAnythingIsSent)
{
    Bytes shortPackage = BuildPackage({{"ssb.bin", 0, 0, 0, Bytes(100, 1)}, {"app.bin", 20, 0, 0, Bytes(100, 2)}});
    shortPackage.pop_back();  // the table and its CRC stay intact
    EXPECT_FALSE(chip.DownloadAllinoneBin(Saved(dir.File("short.fwpkg"), shortPackage).c_str(), 0));
    EXPECT_TRUE(chip.GetPartitionList().empty());
    EXPECT_TRUE(line->payloads.empty());
    EXPECT_TRUE(messages.Has("image app.bin reaches past the end of the package")) << messages.Messages();
}

TEST_F(TypeSixOnScriptedLine, ImageThatCannotBeOpenedFailsAndIsResetOnlyWhenTheResetSettingIsOn)
{
    chip.GetSettings().isReady = false;
    const std::string missing = dir.File("missing.bin");
    const std::vector<Bytes> reset = {{0x00, CMD_RESET, 0x00, 0x00, 0x00, 0x00, CMD_RESET}};  // sequence 0, check
    for (const bool resets : {false, true}) {
        SCOPED_TRACE(resets);
        chip.GetSettings().isReset = resets;
        EXPECT_EQ(chip.DownloadFile(missing.c_str(), 0, 0x1000, 100), 0);
        EXPECT_EQ(line->payloads, resets ? reset : std::vector<Bytes>{});
    }
    EXPECT_TRUE(messages.Has("get file content failed: " + missing + "\n")) << messages.Messages();
}

// --- one sequence counter --------------------------------------------------------------

// The ROM stage numbers its frames from the init command on; the loader
// protocol numbers its own from 0 and runs on across the images of a package;
// the chip's own reset always carries 0.
TEST_F(TypeSixOnScriptedLine, OneCounterNumbersTheRomStageThenTheLoaderCommandsFromZero)
{
    const Bytes ssb = Pattern(100, 1);
    const std::string package = Saved(dir.File("fw.fwpkg"), BuildPackage({
                                                                 {"ssb.bin", 0, 0, 0, ssb},
                                                                 {"ssb.sha", 24, 0, 0, Sha256(ssb)},
                                                                 {"a.bin", 20, 0, 0x1000, Pattern(10, 2)},
                                                                 {"b.bin", 20, 0, 0x1000, Pattern(10, 3)},
                                                             }));
    line->Write(std::string("boot -romloader\r\n"));
    line->board = AcceptingBoard;
    ASSERT_TRUE(chip.DownloadAllinoneBin(package.c_str(), 0)) << messages.Messages();
    ASSERT_TRUE(chip.Reset());

    // init, version, one ssb packet, digest, exit
    const Bytes romStage = {0x01, 0x25, 0xFC, 0xFD, CMD_EXIT};
    // init, speed, flash limits, erase, start, data, end page, memory, key, reset
    const Bytes appImage = {0x01, CMD_SPEED, 0x11, 0x07, 0x03, 0x04, 0x05, 0x06, 0x1E, CMD_RESET};
    std::vector<std::pair<int, int>> expected;
    for (const Bytes& run : {romStage, Concat({appImage, appImage}), Bytes{CMD_RESET}}) {
        for (size_t seq = 0; seq < run.size(); ++seq) {
            expected.emplace_back(seq, run[seq]);
        }
    }
    std::vector<std::pair<int, int>> seen;
    for (const Bytes& p : line->payloads) {
        seen.emplace_back(p[0], p[1]);
    }
    EXPECT_EQ(seen, expected);
}

// --- rates the line will not take ----------------------------------------------------------

// A rate the line cannot reach is never offered to the board; a switch the
// line refuses after the board agreed ends the download. A refusal sends
// nothing, so the second download starts from where the first did.
TEST_F(TypeSixOnScriptedLine, RateTheLineRefusesEndsTheDownloadNamingRateAndPort)
{
    const Bytes image = Pattern(10, 4);
    const std::string spec = Saved(dir.File("app.bin"), image) + "|" + Saved(dir.File("app.sha"), Sha256(image));
    const auto downloadImage = [&] {  // as the TypeSix job asks for it, at the fast rate
        chip.SetTargetBaudRate(FAST_RATE);
        chip.GetSettings().isReady = false;
        chip.GetSettings().isReset = false;
        line->board = AcceptingBoard;
        return chip.DownloadFile(spec.c_str(), 0, 0x1000, 0) == 1;
    };
    const std::string naming = "error: the line " + PORT + " cannot run at 921600 baud";
    line->uncheckableRate = FAST_RATE;
    EXPECT_FALSE(downloadImage());
    EXPECT_TRUE(line->payloads.empty()) << "the board was spoken to";
    EXPECT_TRUE(messages.Has(naming)) << messages.Take();

    line->uncheckableRate = 0;
    line->unappliableRate = FAST_RATE;
    EXPECT_FALSE(downloadImage());
    ASSERT_EQ(line->payloads.size(), 2u) << "init and speed only";
    EXPECT_EQ(line->payloads[0][1], 0x01);
    EXPECT_EQ(line->payloads[1][1], CMD_SPEED);
    EXPECT_EQ(line->applied, std::vector<uint32_t>{FAST_RATE});
    EXPECT_TRUE(messages.Has(naming)) << messages.Messages();
}

}  // namespace
