// The simulator's command line: what it takes, what it refuses, and the exit
// codes the built program gives for help, version and a wrong command line.
#include "sim/sim_options.h"
#include "support/child_process.h"
#include "support/sim_launcher.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

std::optional<int> Parse(const std::vector<std::string>& arguments, Sim::SimOptions& options, std::string& err)
{
    std::ostringstream out;
    std::ostringstream errors;
    const std::optional<int> done = Sim::ParseSimOptions(arguments, options, out, errors);
    err = errors.str();
    return done;
}

TEST(SimOptionsParse, EveryOptionReachesItsSettingInTheNumberSyntax)
{
    Sim::SimOptions o;
    std::string err;
    ASSERT_FALSE(Parse({"--family", "typesix", "--link", "/tmp/b", "--flash", "f.bin", "--report", "r.json",
                        "--flash-size", "0x100000", "--line-baud=115200", "--noise", "1k", "--nak-frame", "3",
                        "--corrupt-answer", "0x4", "--drop-answer", "5", "--close-after", "2m", "--silent",
                        "--fall-back-to-rom", "--ssb-running"},
                       o, err)
                     .has_value())
        << err;
    EXPECT_EQ(o.family, "typesix");
    EXPECT_EQ(o.link, "/tmp/b");
    EXPECT_EQ(o.flashFile, "f.bin");
    EXPECT_EQ(o.reportFile, "r.json");
    EXPECT_EQ(o.flashSize, 0x100000u);
    EXPECT_TRUE(o.flashSizeGiven);
    EXPECT_EQ(o.lineBaud, 115200u);
    EXPECT_EQ(o.faults.noiseBeforeAnswers, 1024u);
    EXPECT_EQ(o.faults.nakFrame, 3);
    ASSERT_EQ(o.faults.answers.size(), 2u);
    EXPECT_EQ(o.faults.answers[0].kind, Sim::AnswerFault::Kind::GARBLED);
    EXPECT_EQ(o.faults.answers[0].garble, Sim::Garble::CHECK);  // what --corrupt-answer N always meant
    EXPECT_EQ(o.faults.answers[0].which.nth, 4u);
    EXPECT_EQ(o.faults.answers[1].kind, Sim::AnswerFault::Kind::DROPPED);
    EXPECT_EQ(o.faults.answers[1].which.nth, 5u);
    EXPECT_EQ(o.faults.closeAfterBytes, 2u << 20);
    EXPECT_TRUE(o.faults.silent && o.faults.fallBackToRom && o.faults.ssbRunning);

    Sim::SimOptions plain;
    ASSERT_FALSE(Parse({"--family", "vb27"}, plain, err).has_value()) << err;
    EXPECT_FALSE(plain.flashSizeGiven);
    EXPECT_EQ(plain.flashSize, 8u << 20);
}

TEST(SimOptionsParse, FaultOptionsGivenAgainAllReachThePlanInTheirOwnSyntax)
{
    Sim::SimOptions o;
    std::string err;
    ASSERT_FALSE(Parse({"--family", "vb27", "--nak-answer", "close@2", "--nak-answer", "7", "--corrupt-answer",
                        "D2@3:cut", "--drop-answer", "0xF0@1", "--block-again", "12", "--lose-block-ack=2:5",
                        "--bad-cell", "0x10010:7", "--bad-cell", "0x20000"},
                       o, err)
                     .has_value())
        << err;
    const auto& answers = o.faults.answers;
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[0].kind, Sim::AnswerFault::Kind::NEGATIVE);
    EXPECT_EQ(answers[0].which.by, Sim::AnswerSelector::By::CLOSING_ACK);
    EXPECT_EQ(answers[1].which.by, Sim::AnswerSelector::By::POSITION);
    EXPECT_EQ(answers[2].garble, Sim::Garble::CUT);
    EXPECT_EQ(answers[2].which.code, 0xD2);
    EXPECT_EQ(answers[3].kind, Sim::AnswerFault::Kind::DROPPED);
    EXPECT_EQ(answers[3].which.code, 0xF0);
    ASSERT_EQ(o.faults.blocks.size(), 2u);
    EXPECT_EQ(o.faults.blocks[0].kind, Sim::BlockFault::Kind::ASK_AGAIN);
    EXPECT_EQ(o.faults.blocks[1].kind, Sim::BlockFault::Kind::ACK_LOST);
    EXPECT_EQ(o.faults.blocks[1].which.transfer, 2u);
    ASSERT_EQ(o.faults.badCells.size(), 2u);
    EXPECT_EQ(o.faults.badCells[0].bit, 7);
    EXPECT_EQ(o.faults.badCells[1].address, 0x20000u);
}

TEST(SimOptionsParse, WhatItRefusesIsNamedWithExitCodeTwo)
{
    const std::vector<std::vector<std::string>> bad = {
        {},                                    // no family
        {"--family", "other"},                 // unknown family
        {"--family"},                          // missing value
        {"--family", "vb27", "--bogus", "1"},  // unknown option
        {"--family", "vb27", "--line-baud", "0"},
        {"--family", "vb27", "--line-baud", "4294967296"},
        {"--family", "vb27", "--nak-frame", "0"},
        {"--family", "vb27", "--noise", "12q"},
        {"--family", "vb27", "--flash-size", "257m"},  // above the largest flash
        {"--family", "vb27", "--silent=yes"},
        {"--family", "vb27", "stray"},
        {"--family", "vb27", "--drop-answer", "0"},
        {"--family", "vb27", "--nak-answer", "D2@"},
        {"--family", "vb27", "--corrupt-answer", "3:smudge"},
        {"--family", "vb27", "--block-again", "0:1"},
        {"--family", "vb27", "--bad-cell", "0x100:8"},
        // A TypeSix board has neither closing ACKs nor YMODEM blocks.
        {"--family", "typesix", "--drop-answer", "close@1"},
        {"--family", "typesix", "--lose-block-ack", "3"},
    };
    for (const auto& args : bad) {
        Sim::SimOptions o;
        std::string err;
        EXPECT_EQ(Parse(args, o, err), 2) << testing::PrintToString(args);
        EXPECT_NE(err.find("tarnwick-sim: "), std::string::npos) << err;
        EXPECT_NE(err.find("tarnwick-sim --help"), std::string::npos) << err;
    }
    Sim::SimOptions o;
    std::string err;
    EXPECT_FALSE(Parse({"--family", "vb27", "--flash-size", "256m"}, o, err).has_value()) << err;
}

TEST(SimProgram, HelpAndVersionExitWithZeroAndAWrongLineWithTwo)
{
    const TestSupport::RunResult help = TestSupport::RunProgram(TestSupport::SimPath(), {"--help"}, 15000);
    EXPECT_EQ(help.exitCode, 0) << help.output;
    EXPECT_NE(help.output.find("--fall-back-to-rom"), std::string::npos) << help.output;
    const TestSupport::RunResult version = TestSupport::RunProgram(TestSupport::SimPath(), {"-V"}, 15000);
    EXPECT_EQ(version.exitCode, 0) << version.output;
    EXPECT_NE(version.output.find("tarnwick-sim 1."), std::string::npos) << version.output;
    const TestSupport::RunResult wrong = TestSupport::RunProgram(TestSupport::SimPath(), {"--family", "nope"}, 15000);
    EXPECT_EQ(wrong.exitCode, 2) << wrong.output;
}

}  // namespace
