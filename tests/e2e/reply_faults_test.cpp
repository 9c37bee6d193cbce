// A reply the board sent but the tool could not use, against tarnwick-sim:
//  - a negative closing ACK (the board could not program the image) fails the
//    image and the run at once, naming the image and the result byte;
//  - a reply garbled on the line, at any position of a small burn, is as lost
//    as a dropped one and answered at once: the burn succeeds, every image on
//    the board byte for byte, long before any reply window would have run out;
//  - a closing ACK that came garbled leaves its image unconfirmed in the
//    report and in the event lines, and the burn goes on;
//  - a YMODEM block the board asks for again, or whose ACK it lost, is sent
//    again and the transfer stays in step.
//
// The run limits are kill bounds well below the windows a garbled reply used
// to cost (30 s, 60 s): checks that a run ends, not measurements.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

using namespace E2e;

namespace {

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

int Tally(const SimReport& report)
{
    const nlohmann::json json = nlohmann::json::parse(report.text, nullptr, false);
    return json.is_object() ? json["tally"]["answers"].get<int>() : -1;
}

// The fault's entry in the simulator's report fired exactly once.
bool FiredOnce(const SimReport& report)
{
    const nlohmann::json json = nlohmann::json::parse(report.text, nullptr, false);
    return json.is_object() && json["faults"].size() == 1 && json["faults"][0]["fired"] == 1;
}

class ReplyFaults : public E2eTest {
protected:
    BoardRun Burn(const std::string& family, const std::vector<std::string>& faults,
                  const std::vector<std::string>& toolExtra = {})
    {
        const std::vector<PackageImage>& images = family == "typesix" ? TYPESIX_PACKAGE : VB27_PACKAGE;
        std::vector<std::string> extra = toolExtra;
        if (family != "typesix") {
            extra.insert(extra.end(), {"-re", "1"});  // the reset ends the board's run
        }
        return OnBoard("--burn", family, Given(family + ".fwpkg", BuildPackage(images)), extra, faults,
                       QUICK_LIMIT_MS);
    }

    void ExpectBurned(const std::string& family, const BoardRun& b)
    {
        ASSERT_EQ(b.run.exitCode, 0) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, "\nBurned successfully.\n")) << b.run.output;
        if (family == "typesix") {
            EXPECT_TRUE(FlashHolds(b.flash, TYPESIX_PACKAGE[1].burnAddress, TYPESIX_PACKAGE[1].data))
                << b.report.text;
        } else {
            ExpectVb27Board(b.report, b.flash, VB27_PACKAGE);
        }
    }
};

// --- the reply positions the parametrised cases walk through -------------------------------

TEST_F(ReplyFaults, TheCasesCoverEveryReplyOfACleanBurn)
{
    EXPECT_EQ(Tally(Burn("vb27", {}).report), VB27_REPLIES);
    EXPECT_EQ(Tally(Burn("typesix", {}).report), TYPESIX_REPLIES);
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
        const std::string report = Path("run.json");
        const BoardRun b = Burn(c.family, {"--nak-answer", c.closing}, {"-report:" + report});
        ASSERT_EQ(b.run.exitCode, BURN_BOOT_FAILED) << b.run.output;
        const std::string message =
            std::string("error: the board refused image ") + c.image + ": closing ACK result 0xA5.\n";
        EXPECT_TRUE(Contains(b.run.output, message)) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, "\nBurned failed.\n")) << b.run.output;
        EXPECT_FALSE(Contains(b.run.output, std::string("downloaded: ") + c.image + " successfully."))
            << b.run.output;
        EXPECT_FALSE(Contains(b.run.output, "Ack receiving timeout.")) << b.run.output;

        const nlohmann::json json = nlohmann::json::parse(ReadText(report));
        EXPECT_EQ(json["failure"]["kind"], "commandRefused") << json.dump(2);
        EXPECT_EQ(json["failure"]["image"], c.image) << json.dump(2);
        EXPECT_EQ(json["images"].back()["name"], c.image) << json.dump(2);
        EXPECT_EQ(json["images"].back()["result"], "failed") << json.dump(2);
    }
}

// --- a garbled reply anywhere -----------------------------------------------------------------

struct Garbled {
    std::string family;
    std::string which;  // --corrupt-answer's ANSWER[:how]
};

void PrintTo(const Garbled& g, std::ostream* out)
{
    *out << g.family << " --corrupt-answer " << g.which;
}

std::string CaseName(const ::testing::TestParamInfo<Garbled>& info)
{
    std::string name = info.param.family + "_" + info.param.which;
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

std::vector<Garbled> GarbledCases()
{
    std::vector<Garbled> cases;
    for (int n = 1; n <= VB27_REPLIES; ++n) {
        cases.push_back({"vb27", std::to_string(n)});
    }
    for (int n = 1; n <= TYPESIX_REPLIES; ++n) {
        cases.push_back({"typesix", std::to_string(n)});
    }
    // Spoiled other ways: a flipped bit, a reply cut short (the board goes
    // quiet, or goes on with its start text), on the longest windows.
    const Garbled others[] = {
        {"vb27", "D2@1:bit"}, {"vb27", "D2@1:cut"}, {"vb27", "close@2:cut"}, {"qn4180", "D2@1:cut"},
        {"qn4180", "close@3:bit"}, {"typesix", "36@1:cut"}, {"typesix", "36@1:bit"}, {"typesix", "FC@1:cut"},
    };
    cases.insert(cases.end(), std::begin(others), std::end(others));
    return cases;
}

class GarbledReply : public ReplyFaults, public ::testing::WithParamInterface<Garbled> {};

TEST_P(GarbledReply, IsAnsweredAtOnceAndTheBurnSucceeds)
{
    const Garbled& g = GetParam();
    const BoardRun b = Burn(g.family, {"--corrupt-answer", g.which});
    EXPECT_TRUE(FiredOnce(b.report)) << b.report.text;
    ExpectBurned(g.family, b);
    // A spoiled reply is no refusal.
    EXPECT_FALSE(Contains(b.run.output, "error:")) << b.run.output;
}

INSTANTIATE_TEST_SUITE_P(EveryPosition, GarbledReply, ::testing::ValuesIn(GarbledCases()), CaseName);

// --- an unconfirmed image -----------------------------------------------------------------------

TEST_F(ReplyFaults, AGarbledClosingAckLeavesItsImageUnconfirmedInTheReportAndTheEventLines)
{
    const std::string report = Path("run.json");
    const std::string events = Path("events.jsonl");
    const BoardRun b = Burn("vb27", {"--corrupt-answer", "close@2"}, {"-report:" + report, "-events:" + events});
    ExpectBurned("vb27", b);
    EXPECT_TRUE(Contains(b.run.output, "The closing ACK of app.bin arrived garbled: the image is unconfirmed.\n"))
        << b.run.output;

    const nlohmann::json json = nlohmann::json::parse(ReadText(report));
    ASSERT_EQ(json["images"].size(), VB27_PACKAGE.size()) << json.dump(2);
    for (const nlohmann::json& image : json["images"]) {
        EXPECT_EQ(image["result"], "ok") << image.dump();
        EXPECT_EQ(image["confirmed"], image["name"] != "app.bin") << image.dump();
    }
    const std::string lines = ReadText(events);
    EXPECT_TRUE(Contains(lines, "\"result\":\"unconfirmed\"")) << lines;
    EXPECT_EQ(CountOf(lines, "\"result\":\"unconfirmed\""), 1u) << lines;
}

// --- YMODEM blocks asked for again ----------------------------------------------------------------

TEST_F(ReplyFaults, ABlockAskedForAgainOrWhoseAckWasLostIsSentAgainInStep)
{
    // Loader blocks 1 and 3, the first block of app.bin, nv.bin's only block.
    const char* const blocks[] = {"1:1", "1:3", "2:1", "3:1"};
    for (const char* family : {"vb27", "qn4180"}) {
        for (const char* fault : {"--block-again", "--lose-block-ack"}) {
            for (const char* block : blocks) {
                SCOPED_TRACE(std::string(family) + " " + fault + " " + block);
                const BoardRun b = Burn(family, {fault, block});
                EXPECT_TRUE(FiredOnce(b.report)) << b.report.text;
                ExpectBurned(family, b);
            }
        }
    }
}

}  // namespace
