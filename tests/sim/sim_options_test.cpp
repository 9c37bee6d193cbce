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
    EXPECT_EQ(o.faults.corruptAnswer, 4);
    EXPECT_EQ(o.faults.dropAnswer, 5);
    EXPECT_EQ(o.faults.closeAfterBytes, 2u << 20);
    EXPECT_TRUE(o.faults.silent && o.faults.fallBackToRom && o.faults.ssbRunning);

    Sim::SimOptions plain;
    ASSERT_FALSE(Parse({"--family", "vb27"}, plain, err).has_value()) << err;
    EXPECT_FALSE(plain.flashSizeGiven);
    EXPECT_EQ(plain.flashSize, 8u << 20);
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
