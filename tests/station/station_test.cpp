// The station's own decisions: what its command line accepts, what a board's
// event lines make of its live line, and what the run's exit code says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/station.h"

namespace {

using namespace Station;

class StationCommandLine : public ::testing::Test {
protected:
    int Parse(std::vector<std::string> args)
    {
        m_options = StationOptions{};
        args.insert(args.begin(), "tarnwick-station");
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        return ParseStationOptions(static_cast<int>(argv.size()), argv.data(), m_options, m_out, m_err);
    }

    StationOptions m_options;
    std::string m_out;
    std::string m_err;
};

TEST_F(StationCommandLine, ToolOptionsPassThroughInTheirOrder)
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
}

TEST_F(StationCommandLine, HelpAndVersionEndWithZero)
{
    EXPECT_EQ(Parse({"--help"}), 0);
    EXPECT_NE(m_out.find("--ports-glob"), std::string::npos);
    EXPECT_EQ(Parse({"-V"}), 0);
    EXPECT_EQ(m_out, std::string(STATION_VERSION) + "\n");
}

TEST_F(StationCommandLine, AWrongCommandLineIsOneLineAndTwo)
{
    const std::vector<std::vector<std::string>> wrong{
        {"--port", "/dev/ttyUSB0"},                         // no operation
        {"--burn"},                                         // no ports
        {"--burn", "--erase", "--port", "p"},               // two operations
        {"--burn", "--port", "p", "--jobs", "0"},           // no board at a time
        {"--burn", "--port", "p", "--summry", "s.json"},    // a mistyped option
        {"--burn", "--port", "p", "-m", "serial", "q"},     // the port is the station's
    };
    for (const std::vector<std::string>& args : wrong) {
        m_err.clear();
        EXPECT_EQ(Parse(args), USAGE_ERROR) << args.back();
        EXPECT_EQ(std::count(m_err.begin(), m_err.end(), '\n'), 1) << m_err;
        EXPECT_NE(m_err.find("see tarnwick-station --help"), std::string::npos) << m_err;
    }
}

TEST(StationFile, OnePortALineWithoutCommentsOrBlanks)
{
    EXPECT_EQ(ReadPortsFile("# fixture A\n/dev/ttyUSB0\n\n  socket://10.0.0.7:5000  # bench 2\r\n#/dev/ttyUSB9\n"),
              (std::vector<std::string>{"/dev/ttyUSB0", "socket://10.0.0.7:5000"}));
}

TEST(BoardEvents, StageProgressAndRateFollowTheEventLines)
{
    BoardRun board;
    board.port = "/dev/pts/7";
    EXPECT_EQ(board.OnEventLine(R"({"event":"waiting"})", 0.5), "waiting for the board");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageStarted","name":"loader.bin","type":0,"bytes":1000})", 1.0),
              "loader loader.bin started");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageEnded","ok":true})", 2.0), "loader loader.bin done");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":4000})", 2.0),
              "app.bin started");
    EXPECT_EQ(board.OnEventLine(R"({"event":"progress","percent":50})", 3.0), "");
    EXPECT_EQ(board.percent, 50);
    // 1000 bytes done and half of 4000 in flight, over 2 s since the first image.
    EXPECT_DOUBLE_EQ(board.BytesPerSecond(3.0), 1500.0);
    EXPECT_NE(board.LiveLine(3.0).find("app.bin"), std::string::npos);
    EXPECT_EQ(board.OnEventLine("not json", 3.0), "");
    EXPECT_EQ(board.OnEventLine(R"({"event":"error","text":"Wait ACK timeout."})", 4.0), "error: Wait ACK timeout.");
}

TEST(BoardEvents, AReadBackOfTheBurnCheckIsTheStageCheckName)
{
    BoardRun board;
    board.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":4000})", 1.0);
    board.OnEventLine(R"({"event":"imageEnded","ok":true})", 2.0);
    EXPECT_EQ(board.OnEventLine(R"({"event":"checkStarted","name":"app.bin","bytes":4000})", 2.0),
              "check app.bin started");
    EXPECT_EQ(board.stage, "check app.bin");
    EXPECT_EQ(board.percent, 0);
    board.OnEventLine(R"({"event":"progress","percent":50})", 3.0);
    EXPECT_NE(board.LiveLine(3.0).find("check app.bin"), std::string::npos) << board.LiveLine(3.0);
    EXPECT_EQ(board.OnEventLine(
                  R"({"event":"checkEnded","name":"app.bin","result":"failed","firstDifference":65541,"differingBytes":1})",
                  4.0),
              "check app.bin failed");
    // Burned and read back: both crossed the line in 3 s since the first image.
    EXPECT_DOUBLE_EQ(board.BytesPerSecond(4.0), 8000.0 / 3.0);
}

TEST(BoardEnd, TheReasonComesFromTheReportElseTheExitCode)
{
    BoardRun withReport;
    withReport.Finish(4, {{"lastError", "Shakehand failed"}, {"images", nlohmann::json::array()}}, 9.0);
    EXPECT_EQ(withReport.reason, "Shakehand failed");
    EXPECT_TRUE(withReport.NoBoardCame());
    BoardRun killed;
    killed.Finish(137, nullptr, 9.0);
    EXPECT_EQ(killed.reason, "ended by signal 9");
    EXPECT_FALSE(killed.NoBoardCame());
}

TEST(StationExit, ZeroOnlyWhenAllSucceededElseTheFailedCappedAt125)
{
    std::vector<BoardRun> boards(3);
    for (BoardRun& b : boards) {
        b.Finish(0, nullptr, 1.0);
    }
    EXPECT_EQ(StationExitCode(boards), 0);
    boards[1].Finish(5, nullptr, 1.0);
    EXPECT_EQ(StationExitCode(boards), 1);
    std::vector<BoardRun> many(130);
    for (BoardRun& b : many) {
        b.Finish(3, nullptr, 1.0);
    }
    EXPECT_EQ(StationExitCode(many), MAX_FAILED_EXIT);
    EXPECT_EQ(SummaryJson(many, 2.0)["totals"].value("failed", 0), 130);
}

}  // namespace
