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
// Negative closing ACKs, garbled replies and blocks asked for again are rows
// of the fault matrix, judged by its rules on top.
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

constexpr int QUICK_LIMIT_MS = 15000;

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

class ReplyFaults : public E2eTest {};

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
    EXPECT_EQ(answers(Reported("typesix", TYPESIX_PACKAGE, {}, {}, QUICK_LIMIT_MS)), TYPESIX_REPLIES);
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
    EXPECT_TRUE(start.size() == 20 && start.back() == 'Z') << start;  // 2026-12-08T16:54:43Z
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

// --- a garbled reply anywhere; a block asked for again; a negative closing ACK ---------------

std::vector<FaultCase> ReplyCases()
{
    std::vector<FaultCase> cases;
    const auto add = [&cases](const std::string& family, const std::string& fault, const std::string& which) {
        FaultCase c{family + fault + "_" + which, family, {fault, which}, Ending::RECOVERS, QUICK_LIMIT_MS, {}, ""};
        for (char& ch : c.name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        c.absent = "error:";  // a spoiled reply or block is no refusal
        c.package = family == "typesix" ? TYPESIX_PACKAGE : VB27_PACKAGE;
        // The reset ends a Vb27 / Qn4180 board's run.
        c.toolOptions = family == "typesix" ? std::vector<std::string>{} : std::vector<std::string>{"-re", "1"};
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
    // The board could not program the image: its run fails at once, no reply window waited out.
    const std::vector<std::string> names{"loader.bin", "app.bin", "nv.bin"};
    for (size_t n = 1; n <= names.size(); ++n) {
        add(n == names.size() ? "qn4180" : "vb27", "--nak-answer", "close@" + std::to_string(n));
        FaultCase& c = cases.back();
        c.ending = Ending::FAILS;
        c.messages = {"error: the board refused image " + names[n - 1] + ": closing ACK result 0xA5.\n"};
        c.injected = "its closing ACK is negative";
        c.absent = "downloaded: " + names[n - 1] + " successfully.";
        c.firesOnce = false;
        c.report = {{"resultMeaning", "the loader could not be burned"},
                    {"failure", {{"kind", "commandRefused"}, {"image", names[n - 1]}}},
                    {"images", nlohmann::json::array()}};
        for (size_t i = 0; i < n; ++i) {
            c.report["images"].push_back({{"name", names[i]}, {"result", i + 1 < n ? "ok" : "failed"}});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryReply, FaultMatrix, ::testing::ValuesIn(ReplyCases()), FaultCase::Name);

}  // namespace
