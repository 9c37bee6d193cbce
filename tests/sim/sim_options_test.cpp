// The simulator's command line: what it takes and what it refuses. Each fault
// selector's own syntax is pinned in fault_plan_test.cpp.
#include "sim/sim_options.h"

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

// The options the end-to-end runs give (family, link, flash, report, line rate,
// noise, a cut line, every answer, block and bad-cell fault) are judged there
// by what the board did and where each fault fired. The flash size is not.
// The number syntax itself is pinned in tests/cmdline/companion_command_line_test.cpp.
TEST(SimOptionsParse, AGivenFlashSizeUpToTheLargestFlashIsTakenAndNoneIsEightMebibytes)
{
    Sim::SimOptions o;
    std::string err;
    ASSERT_FALSE(Parse({"--family", "typesix", "--flash-size", "256m", "--noise", "1k"}, o, err).has_value()) << err;
    EXPECT_EQ(o.flashSize, 256u << 20);
    EXPECT_TRUE(o.flashSizeGiven);
    EXPECT_EQ(o.faults.noiseBeforeAnswers, 1024u);

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
        {"--family", "vb27", "--lose-read-ack", "0"},  // counted from 1
        {"--family", "vb27", "--noise", "12q"},
        {"--family", "vb27", "--flash-size", "257m"},  // above the largest flash
        {"--family", "vb27", "--silent=yes"},
        {"--family", "vb27", "stray"},
        {"--family", "vb27", "--nak-answer", "D2@"},  // a selector's refusal reaches the command line
        // A TypeSix board has neither closing ACKs nor YMODEM blocks.
        {"--family", "typesix", "--drop-answer", "close@1"},
        {"--family", "typesix", "--lose-block-ack", "3"},
        {"--family", "typesix", "--lose-read-ack", "1"},
    };
    for (const auto& args : bad) {
        Sim::SimOptions o;
        std::string err;
        EXPECT_EQ(Parse(args, o, err), 2) << testing::PrintToString(args);
        EXPECT_NE(err.find("tarnwick-sim: "), std::string::npos) << err;
        EXPECT_NE(err.find("tarnwick-sim --help"), std::string::npos) << err;
    }
}

}  // namespace
