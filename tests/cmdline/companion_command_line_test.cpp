// The companion programs' shared command line: the number syntax, with its
// limits, and how help, version and a wrong command line end a run.
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

class CompanionParse : public ::testing::Test {
protected:
    CompanionParse()
    {
        CompanionCli::Configure(m_app);
        m_app.add_option("--size", m_size)->transform(CompanionCli::NumberIn(1, 0xFFFF));
        m_app.add_option("--name", m_name);
        CLI::App* sub = m_app.add_subcommand("show");
        sub->add_option("WHAT", m_name)->required();
    }

    std::optional<int> Parse(const std::vector<std::string>& arguments)
    {
        m_out.str("");
        m_err.str("");
        return CompanionCli::Parse(m_app, arguments, m_out, m_err);
    }

    CLI::App m_app{"A program.", "prog"};
    uint32_t m_size = 0;
    std::string m_name;
    std::ostringstream m_out;
    std::ostringstream m_err;
};

TEST_F(CompanionParse, NumbersInTheProjectSyntaxReachTheTargetWithinTheirRange)
{
    EXPECT_FALSE(Parse({"--size", "0x10"}).has_value()) << m_err.str();
    EXPECT_EQ(m_size, 16u);
    EXPECT_FALSE(Parse({"--size=1k"}).has_value()) << m_err.str();
    EXPECT_EQ(m_size, 1024u);
    EXPECT_FALSE(Parse({"--size", "0xFFFF"}).has_value()) << m_err.str();
    EXPECT_EQ(m_size, 0xFFFFu);
    for (const char* bad : {"0", "0x10000", "64k", "twelve", "0b101"}) {
        EXPECT_EQ(Parse({"--size", bad}), EXIT_USAGE) << bad;
        EXPECT_NE(m_err.str().find(std::string("\"") + bad + "\""), std::string::npos) << m_err.str();
    }
}

TEST_F(CompanionParse, ARepeatedOptionTakesTheLastValue)
{
    EXPECT_FALSE(Parse({"--name", "a", "--name", "b"}).has_value()) << m_err.str();
    EXPECT_EQ(m_name, "b");
}

}  // namespace
