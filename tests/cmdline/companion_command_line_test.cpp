// The companion programs' shared command line: the number syntax, with its
// limits, and a value out of them ending the run as a usage error. Help and
// version are checked through the programs themselves (tests/pkg, tests/station).
#include "cmdline/companion_command_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using CompanionCli::EXIT_USAGE;

TEST(CompanionNumber, DecimalHexAndMultipliersAreReadAndAnythingElseRefused)
{
    const std::pair<const char*, uint64_t> good[] = {{"4096", 4096},   {"0x1F000", 0x1F000}, {"8m", 8u << 20},
                                                     {"64K", 64u << 10}, {"1g", 1u << 30},   {"0", 0},
                                                     {"0XfF", 255},    {"18446744073709551615", UINT64_MAX}};
    for (const auto& [text, value] : good) {
        uint64_t v = 0;
        EXPECT_TRUE(CompanionCli::ParseNumber(text, v)) << text;
        EXPECT_EQ(v, value) << text;
    }
    uint64_t v = 7;
    for (const char* bad : {"", "0x", "12q", "1kk", "-3", " 5", "5 ", "0x10k", "1.5m", "k", "18446744073709551616",
                            "17179869184g"}) {
        EXPECT_FALSE(CompanionCli::ParseNumber(bad, v)) << bad;
    }
    EXPECT_EQ(v, 7u);
}

// A repeated option takes the last value.
TEST(CompanionParse, NumbersInTheProjectSyntaxReachTheTargetWithinTheirRangeAndTheLastOneWins)
{
    CLI::App app{"A program.", "prog"};
    CompanionCli::Configure(app);
    uint32_t size = 0;
    app.add_option("--size", size)->transform(CompanionCli::NumberIn(1, 0xFFFF));
    std::ostringstream out;
    std::ostringstream err;
    const std::pair<std::vector<std::string>, uint32_t> good[] = {
        {{"--size", "0x10"}, 16u}, {{"--size=1k"}, 1024u}, {{"--size", "0xFFFF"}, 0xFFFFu},
        {{"--size", "1", "--size", "0x20"}, 32u}};
    for (const auto& [arguments, value] : good) {
        EXPECT_FALSE(CompanionCli::Parse(app, arguments, out, err).has_value()) << err.str();
        EXPECT_EQ(size, value) << arguments.back();
    }
    for (const char* bad : {"0", "0x10000", "64k", "twelve", "0b101"}) {
        err.str("");
        EXPECT_EQ(CompanionCli::Parse(app, {"--size", bad}, out, err), EXIT_USAGE) << bad;
        EXPECT_NE(err.str().find(std::string("\"") + bad + "\""), std::string::npos) << err.str();
    }
}

}  // namespace
