// The station's command line: what it accepts, what it hands to every tool,
// and the one line it answers a wrong command line with.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "station/station.h"

namespace {

using namespace Station;

class StationCommandLine : public ::testing::Test {
protected:
    // What a parser makes of "tarnwick-station" and these arguments.
    template <typename Options>
    int Run(int (*parse)(int, char**, Options&, std::string&, std::string&), Options& options,
            std::vector<std::string> args)
    {
        m_out.clear();
        m_err.clear();
        args.insert(args.begin(), "tarnwick-station");
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        return parse(static_cast<int>(argv.size()), argv.data(), options, m_out, m_err);
    }

    int Parse(const std::vector<std::string>& args) { return Run(ParseStationOptions, m_options = {}, args); }

    StationOptions m_options;
    std::string m_out;
    std::string m_err;
};

TEST_F(StationCommandLine, ToolOptionsPassThroughInTheirOrderAndTheStationKeepsItsOwn)
{
    ASSERT_EQ(Parse({"--burn", "--port", "/dev/ttyUSB0", "-n", "vb27", "-f", "fw.fwpkg", "--port",
                     "rfc2217://10.0.0.5:4001", "-onlyburn:app.bin", "--jobs", "4", "--repeat"}),
              -1)
        << m_err;
    EXPECT_EQ(m_options.operation, "--burn");
    EXPECT_EQ(m_options.ports, (std::vector<std::string>{"/dev/ttyUSB0", "rfc2217://10.0.0.5:4001"}));
    EXPECT_EQ(m_options.toolArgs, (std::vector<std::string>{"-n", "vb27", "-f", "fw.fwpkg", "-onlyburn:app.bin"}));
    EXPECT_EQ(m_options.jobs, 4);
    EXPECT_TRUE(m_options.repeat);

    // A fraction of a second and no delay at all are times too; the history records the whole command line.
    const std::vector<std::string> erase{"--erase", "--port", "p", "--board-timeout", "90.5", "--retry-delay", "0"};
    ASSERT_EQ(Parse(erase), -1) << m_err;
    EXPECT_DOUBLE_EQ(m_options.boardTimeout, 90.5);
    EXPECT_DOUBLE_EQ(m_options.retryDelay, 0.0);
    EXPECT_EQ(m_options.commandLine, erase);
}

TEST_F(StationCommandLine, HelpNamesTheDefaultBoardTimeOutAndTheHistoryCommand)
{
    EXPECT_EQ(Parse({"--help"}), 0);
    for (const char* wanted : {"--ports-glob", "--ports-usb", "--board-timeout", "default 7200", "SIGKILL",
                               "--retries", "--retry-delay", "--http", "--history", "tarnwick-station history"}) {
        EXPECT_NE(m_out.find(wanted), std::string::npos) << wanted;
    }
}

TEST_F(StationCommandLine, AWrongCommandLineIsOneLineAndTwo)
{
    const std::vector<std::vector<std::string>> wrong{
        {"--port", "/dev/ttyUSB0"},                          // no operation
        {"--burn"},                                          // no ports
        {"--burn", "--erase", "--port", "p"},                // two operations
        {"--burn", "--port", "p", "--jobs", "0"},            // no board at a time
        {"--burn", "--port", "p", "--summry", "s.json"},     // a mistyped option
        {"--burn", "--port", "p", "-m", "serial", "q"},      // the port is the station's
        {"--burn", "--port", "p", "--board-timeout", "0"},   // no time at all
        {"--burn", "--port", "p", "--retries", "-1"},
        {"--burn", "--port", "p", "--retries", "101"},
        {"--burn", "--port", "p", "--retry-delay", "-1"},
        {"--burn", "--port", "p", "--http", "::1:80"},       // an IPv6 address goes in brackets
        {"--burn", "--ports-usb", "0403"},                   // no product
    };
    for (const std::vector<std::string>& args : wrong) {
        EXPECT_EQ(Parse(args), USAGE_ERROR) << args.back();
        EXPECT_EQ(std::count(m_err.begin(), m_err.end(), '\n'), 1) << m_err;
        EXPECT_NE(m_err.find("see tarnwick-station --help"), std::string::npos) << m_err;
    }
}

TEST_F(StationCommandLine, TheHistoryCommandWithoutAHistoryOrWithoutADateIsAWrongCommandLine)
{
    HistoryOptions history;
    EXPECT_EQ(Run(ParseHistoryOptions, history, {"history"}), USAGE_ERROR);
    EXPECT_EQ(Run(ParseHistoryOptions, history, {"history", "lot.db", "--since", "yesterday"}), USAGE_ERROR);
    EXPECT_NE(m_err.find("see tarnwick-station --help"), std::string::npos) << m_err;
    EXPECT_EQ(Run(ParseHistoryOptions, history, {"history", "--help"}), 0);
    EXPECT_NE(m_out.find("--since"), std::string::npos);
}

TEST(ListenAddress, APortAloneListensOnLoopbackAndAnAddressOrBracketedIpv6IsTaken)
{
    const std::tuple<const char*, const char*, int> good[] = {
        {"8080", "127.0.0.1", 8080}, {"0.0.0.0:0", "0.0.0.0", 0}, {"[::1]:65535", "::1", 65535}};
    std::string host;
    int port = -1;
    for (const auto& [text, expectedHost, expectedPort] : good) {
        ASSERT_TRUE(ParseListenAddress(text, host, port)) << text;
        EXPECT_EQ(std::make_pair(host, port), std::make_pair(std::string(expectedHost), expectedPort)) << text;
    }
    for (const char* wrong :
         {"", "http", "80x", "65536", "localhost:", "[::1]80", "[]:80", ":80", "1.2.3.4:123456"}) {
        EXPECT_FALSE(ParseListenAddress(wrong, host, port)) << wrong;
    }
}

TEST(SinceDate, DatesAndTimesInUtcBecomeOneSortableForm)
{
    EXPECT_EQ(NormaliseSince("2024-05-01"), "2024-05-01T00:00:00Z");
    EXPECT_EQ(NormaliseSince("2024-05-01T13:07"), "2024-05-01T13:07:00Z");
    EXPECT_EQ(NormaliseSince("2024-05-01 13:07:45"), "2024-05-01T13:07:45Z");
    EXPECT_EQ(NormaliseSince("2024-05-01T13:07:45Z"), "2024-05-01T13:07:45Z");
    for (const char* wrong : {"", "2024-5-01", "2024-05-01T", "2024-13-01", "2024-05-32", "2024-05-01T24:00",
                              "2024-05-01T12:60", "2024-05-01T12:00:61", "2024-05-01T12:00+02", "today"}) {
        EXPECT_EQ(NormaliseSince(wrong), "") << wrong;
    }
}

TEST(StationFile, OnePortALineWithoutCommentsOrBlanks)
{
    EXPECT_EQ(ReadPortsFile("# fixture A\n/dev/ttyUSB0\n\n  socket://10.0.0.7:5000  # bench 2\r\n#/dev/ttyUSB9\n"),
              (std::vector<std::string>{"/dev/ttyUSB0", "socket://10.0.0.7:5000"}));
}

// An unreadable package has no digest rather than a wrong one.
TEST_F(StationCommandLine, TheLastChipAndPackageCountAsForTheToolAndEveryRetryIsOneAttemptMore)
{
    ASSERT_EQ(Parse({"--burn", "--port", "p", "-n", "qn4180", "-f", "/nonexistent/old.fwpkg", "--name", "vb27",
                     "--file", "/nonexistent/a/../fw.fwpkg", "--retries", "2"}), -1) << m_err;
    const RunFacts facts = GatherRunFacts(m_options);
    EXPECT_EQ(std::tie(facts.chipName, facts.packagePath, facts.packageSha256, facts.maxAttempts),
              std::make_tuple("vb27", "/nonexistent/fw.fwpkg", "", 3));
}

}  // namespace
