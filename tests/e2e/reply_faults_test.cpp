// A reply the board sent but the tool could not use, against tarnwick-sim,
// after a clean burn whose run report (-report:PATH) lists every image (runs
// the board broke off or that were cancelled: the fault matrix):
//  - a negative closing ACK (the board could not program the image) fails the
//    image and the run at once, naming the image and the result byte;
//  - a reply garbled on the line, at any position of a small burn, is as lost
//    as a dropped one and answered at once: the burn succeeds, every image on
//    the board byte for byte, long before any reply window would have run out;
//  - a closing ACK that came garbled leaves its image unconfirmed in the
//    report and in the event lines, and the burn goes on;
//  - a YMODEM block the board asks for again, or whose ACK it lost, is sent
//    again and the transfer stays in step; so is a block or EOT of the burn
//    check's read-back whose ACK from the tool the board never got.
// Garbled replies and blocks asked for again are rows of the fault matrix,
// judged by its rules on top.
//
// The run limits are kill bounds well below the windows a garbled reply used
// to cost (30 s, 60 s): checks that a run ends, not measurements.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

using namespace E2e;

namespace {

using Args = std::vector<std::string>;

constexpr int QUICK_LIMIT_MS = 15000;
constexpr int BURN_BOOT_FAILED = 4;

const std::vector<PackageImage> VB27_PACKAGE{
    {"loader.bin", TYPE_LOADER, 0, 0, Pattern(3000, 51)},
    {"app.bin", TYPE_FLASH, 0x10000, 0x2000, Pattern(5000, 52)},
    {"nv.bin", TYPE_NV_KV, 0x30000, 0x1000, Pattern(700, 53)},
};
const std::vector<PackageImage> TYPESIX_PACKAGE{
    {"loader.bin", TYPE_LOADER, 0, 0, Pattern(3000, 61)},
    {"app.bin", TYPESIX_FLASH, 0x20000, 0x8000, Pattern(9000, 62)},
};
// Replies of a clean burn of these packages: handshake, two commands and three
// closing ACKs; and every TypeSix answer from the ROM's init to the last digest.
constexpr int VB27_REPLIES = 6;
constexpr int TYPESIX_REPLIES = 12;

const std::vector<PackageImage>& PackageOf(const std::string& family)
{
    return family == "typesix" ? TYPESIX_PACKAGE : VB27_PACKAGE;
}

// The reset ends a Vb27 / Qn4180 board's run.
Args ResetOption(const std::string& family)
{
    return family == "typesix" ? Args{} : Args{"-re", "1"};
}

class ReplyFaults : public E2eTest {
protected:
    BoardRun Burn(const std::string& family, const Args& faults)
    {
        return Reported(family, PackageOf(family), ResetOption(family), faults, QUICK_LIMIT_MS);
    }
};

// --- a burn's run report, an unconfirmed image, and the reply positions the garbled cases walk through ----

// Without the burn check (-c) nothing is read back and each image says so. The closing ACK of app.bin
// comes garbled: the image is unconfirmed in the report and in the event lines, and the burn goes on
// (its recovery and every image on the board: EveryReply's row for answer 4, this closing ACK).
TEST_F(ReplyFaults, ABurnReportsEveryImageWithItsBytesRateAndConfirmationAndHasTheRepliesTheCasesCover)
{
    const auto answers = [](const BoardRun& b) {
        const nlohmann::json report = nlohmann::json::parse(b.report.text, nullptr, false);
        return report.is_object() ? report["tally"]["answers"].get<int>() : -1;
    };
    EXPECT_EQ(answers(Burn("typesix", {})), TYPESIX_REPLIES);
    const std::string events = Path("events.jsonl");
    const BoardRun b = Reported("vb27", VB27_PACKAGE, {"-re", "1", "-events:" + events},
                                {"--corrupt-answer", "close@2"}, QUICK_LIMIT_MS);
    EXPECT_EQ(answers(b), VB27_REPLIES);
    ASSERT_EQ(b.run.exitCode, 0) << b.run.output;
    EXPECT_TRUE(Contains(b.run.output, "The closing ACK of app.bin arrived garbled: the image is unconfirmed.\n"))
        << b.run.output;
    EXPECT_EQ(CountOf(ReadText(events), "\"result\":\"unconfirmed\""), 1u) << ReadText(events);
    const nlohmann::json facts{{"toolVersion", "1.0.0"}, {"operation", "burn"}, {"chipName", "vb27"},
                               {"chipType", 0x30004}, {"family", "Vb27"}, {"resultCode", 0},
                               {"lineRates", nlohmann::json::array({115200})}, {"resultMeaning", "success"},
                               {"lastError", ""}, {"failure", nullptr}, {"cancelled", false}};
    EXPECT_EQ(Pick(m_report, facts), facts);
    EXPECT_FALSE(m_report.value("port", "").empty());
    const std::string start = m_report.value("startTime", "");
    EXPECT_EQ(start.size(), 20u) << start;
    EXPECT_EQ(start.back(), 'Z') << start;
    EXPECT_GT(m_report.value("totalSeconds", 0.0), 0.0);
    EXPECT_FALSE(Contains(b.run.output, "Burn check")) << b.run.output;
    EXPECT_FALSE(Contains(b.report.text, "\"upload 0x")) << b.report.text;
    ASSERT_EQ(Images().size(), VB27_PACKAGE.size()) << m_report.dump(2);
    for (size_t i = 0; i < VB27_PACKAGE.size(); ++i) {
        const PackageImage& e = VB27_PACKAGE[i];
        const nlohmann::json image = Images()[i];
        const nlohmann::json expected{{"name", e.name}, {"type", e.type}, {"address", e.burnAddress},
                                      {"bytes", e.data.size()}, {"attempts", 1}, {"result", "ok"},
                                      {"confirmed", e.name != "app.bin"}, {"check", "not checked"}};
        EXPECT_EQ(Pick(image, expected), expected);
        EXPECT_GT(image.value("seconds", 0.0), 0.0);
        EXPECT_NEAR(image.value("bytesPerSecond", 0.0),
                    static_cast<double>(e.data.size()) / image.value("seconds", 1.0), 1.0);
    }
}

// --- a negative closing ACK -----------------------------------------------------------------

TEST_F(ReplyFaults, ANegativeClosingAckFailsItsImageAndTheRunAtOnce)
{
    const struct {
        const char* family;
        const char* closing;
        const char* image;
    } cases[] = {{"vb27", "close@1", "loader.bin"}, {"vb27", "close@2", "app.bin"}, {"qn4180", "close@3", "nv.bin"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " " + c.closing);
        const BoardRun b = Burn(c.family, {"--nak-answer", c.closing});
        ASSERT_EQ(b.run.exitCode, BURN_BOOT_FAILED) << b.run.output;
        ExpectHolds(b.run.output,
                    {std::string("error: the board refused image ") + c.image + ": closing ACK result 0xA5.\n",
                     "\nBurned failed.\n"});
        EXPECT_FALSE(Contains(b.run.output, std::string("downloaded: ") + c.image + " successfully."))
            << b.run.output;
        EXPECT_FALSE(Contains(b.run.output, "Ack receiving timeout.")) << b.run.output;
        const nlohmann::json expected{{"resultMeaning", "the loader could not be burned"},
                                      {"failure", {{"kind", "commandRefused"}, {"image", c.image}}}};
        EXPECT_EQ(Pick(m_report, expected), expected) << b.run.output;
        ASSERT_FALSE(Images().empty());
        EXPECT_EQ(Images().back()["name"], c.image) << m_report.dump(2);
        EXPECT_EQ(Images().back()["result"], "failed") << m_report.dump(2);
    }
}

// --- a garbled reply anywhere; a block asked for again ---------------------------------------

std::vector<FaultCase> ReplyCases()
{
    std::vector<FaultCase> cases;
    const auto add = [&cases](const std::string& family, const std::string& fault, const std::string& which) {
        FaultCase c{family + fault + "_" + which, family, {fault, which}, Ending::RECOVERS, QUICK_LIMIT_MS, {}, ""};
        for (char& ch : c.name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        c.absent = "error:";  // a spoiled reply or block is no refusal
        c.package = PackageOf(family);
        c.toolOptions = ResetOption(family);
        c.firesOnce = true;
        cases.push_back(c);
    };
    for (int n = 1; n <= VB27_REPLIES; ++n) {
        add("vb27", "--corrupt-answer", std::to_string(n));
    }
    for (int n = 1; n <= TYPESIX_REPLIES; ++n) {
        add("typesix", "--corrupt-answer", std::to_string(n));
    }
    // Spoiled other ways: a flipped bit, a reply cut short (the board goes
    // quiet, or goes on with its start text), on the longest windows.
    for (const auto& [family, which] : std::vector<std::pair<std::string, std::string>>{
             {"vb27", "D2@1:bit"}, {"vb27", "D2@1:cut"}, {"vb27", "close@2:cut"}, {"qn4180", "D2@1:cut"},
             {"qn4180", "close@3:bit"}, {"typesix", "36@1:cut"}, {"typesix", "36@1:bit"}, {"typesix", "FC@1:cut"}}) {
        add(family, "--corrupt-answer", which);
    }
    // Loader blocks 1 and 3, the first block of app.bin, nv.bin's only block.
    for (const char* family : {"vb27", "qn4180"}) {
        for (const char* fault : {"--block-again", "--lose-block-ack"}) {
            for (const char* block : {"1:1", "1:3", "2:1", "3:1"}) {
                add(family, fault, block);
            }
        }
    }
    // Read back in 1 KiB blocks, the tool ACKs app.bin's 5 blocks and EOT, then
    // nv.bin's one: app.bin's 2nd and last block, its EOT, and the run's last EOT.
    for (const char* nth : {"2", "5", "6", "8"}) {
        add("vb27", "--lose-read-ack", nth);
        cases.back().toolOptions.insert(cases.back().toolOptions.end(), {"-c", "1"});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryReply, FaultMatrix, ::testing::ValuesIn(ReplyCases()), FaultCase::Name);

}  // namespace
