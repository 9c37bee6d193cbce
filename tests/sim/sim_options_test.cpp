// The simulator's command line: numbers with their multipliers and what it
// refuses, with the exit code the built program gives for it.
#include "sim/sim_options.h"
#include "support/child_process.h"
#include "support/sim_launcher.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

bool Parse(std::vector<const char*> args, Sim::SimOptions& options, std::string& error)
{
    args.insert(args.begin(), "tarnwick-sim");
    return Sim::ParseSimOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(SimNumber, DecimalHexAndMultipliersAreReadAndAnythingElseRefused)
{
    const std::pair<const char*, uint64_t> good[] = {
        {"4096", 4096}, {"0x1F000", 0x1F000}, {"8m", 8u << 20}, {"64K", 64u << 10}, {"1g", 1u << 30}};
    for (const auto& [text, value] : good) {
        uint64_t v = 0;
        EXPECT_TRUE(Sim::ParseSimNumber(text, v)) << text;
        EXPECT_EQ(v, value) << text;
    }
    uint64_t v = 7;
    for (const char* bad : {"", "0x", "12q", "1kk", "-3", "0x10k", "99999999999999999999", "18446744073709551615g"}) {
        EXPECT_FALSE(Sim::ParseSimNumber(bad, v)) << bad;
    }
    EXPECT_EQ(v, 7u);
}

TEST(SimOptionsParse, WhatItRefusesIsExplained)
{
    const std::vector<std::vector<const char*>> bad = {
        {},                                      // no family
        {"--family", "other"},                   // unknown family
        {"--family"},                            // missing value
        {"--family", "vb27", "--bogus", "1"},    // unknown option
        {"--family", "vb27", "--line-baud", "0"},
        {"--family", "vb27", "--nak-frame", "0"},
        {"--family", "vb27", "--flash-size", "1g"},  // above the largest flash
        {"--family", "vb27", "--silent=yes"},
    };
    for (const auto& args : bad) {
        Sim::SimOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
    const TestSupport::RunResult run = TestSupport::RunProgram(TestSupport::SimPath(), {"--family", "nope"}, 15000);
    EXPECT_EQ(run.exitCode, 2) << run.output;
}

}  // namespace
