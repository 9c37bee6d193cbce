// What the station tells: the exit code, the summary (every attempt of a
// board), the dashboard's state and the live line of a port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/station_report.h"

namespace {

using namespace Station;

constexpr int LOADER_EXIT = 4;

BoardRun Attempt(int attempt, int exitCode, const std::string& lastError = "")
{
    BoardRun run;
    run.attempt = attempt;
    run.startedAt = attempt * 10.0;
    run.Finish(exitCode, {{"lastError", lastError}, {"images", nlohmann::json::array()}}, attempt * 10.0 + 4.0);
    return run;
}

// A port in this phase with these attempts; a port that is done has counted its board.
ServedPort Port(const std::string& port, const std::vector<BoardRun>& attempts,
                ServedPort::Phase phase = ServedPort::Phase::DONE)
{
    ServedPort served;
    served.port = port;
    served.attempts = attempts;
    if (phase == ServedPort::Phase::DONE) {
        served.CountBoard();
    }
    served.phase = phase;
    return served;
}

RunFacts Facts(int maxAttempts = 1, bool repeat = false)
{
    return {"--burn", "vb27", "/srv/fw/lot-7.fwpkg", std::string(64, 'a'), {}, "", "", "", maxAttempts, repeat};
}

// The exit code is the number of failed boards, capped at 125; zero when all succeeded is every
// successful station run's end to end.
TEST(StationEnd, ABoardCountsByItsLastAttemptInTheExitCodeAndTheSummaryKeepsEveryAttemptWithItsReason)
{
    std::vector<ServedPort> ports{
        Port("p0", {Attempt(1, 3, "Open serial port p0 failed"), Attempt(2, 0)}),
        Port("p1", {Attempt(1, LOADER_EXIT, "Timeout error."), Attempt(2, LOADER_EXIT, "Ack error.")}),
    };
    const nlohmann::json summary = SummaryJson(ports, Facts(2), 30.0);
    ASSERT_EQ(summary["boards"].size(), 2u);
    EXPECT_EQ(summary["boards"][0]["startSeconds"], 10.0);  // the board began with its first attempt
    const nlohmann::json& failed = summary["boards"][1];
    EXPECT_EQ(failed["result"], "failed");
    EXPECT_EQ(failed["reason"], "Ack error.");  // of its last attempt
    EXPECT_EQ(summary["station"]["packageSha256"], std::string(64, 'a'));

    const std::string table = SummaryTable(ports, Facts(2));
    EXPECT_NE(table.find("  attempt 1"), std::string::npos) << table;
    EXPECT_NE(table.find("Timeout error."), std::string::npos) << table;
    // The board's own row (its result) comes before its earlier attempts.
    EXPECT_LT(table.find("p1 "), table.find("Timeout error.")) << table;

    EXPECT_EQ(StationExitCode(ports), 1);
    ports.back().failed = 130;
    EXPECT_EQ(StationExitCode(ports), MAX_FAILED_EXIT);
}

TEST(DashboardState, EveryPortIsOneTileWithItsStageProgressAttemptAndResult)
{
    BoardRun run;
    run.attempt = 2;
    run.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":1000})", 1.0);
    run.OnEventLine(R"({"event":"progress","percent":40})", 2.0);
    ServedPort burning =
        Port("/dev/ttyUSB0", {Attempt(1, LOADER_EXIT, "Timeout error."), run}, ServedPort::Phase::RUNNING);
    burning.adapterSerial = "A10K3B7Q";
    burning.round = 1;
    BoardRun idle;
    idle.OnEventLine(R"({"event":"waiting"})", 0.5);
    const ServedPort waiting = Port("/dev/ttyUSB1", {idle}, ServedPort::Phase::RUNNING);
    const ServedPort failed = Port("/dev/ttyUSB2", {Attempt(1, LOADER_EXIT, "Ack error.")});
    const nlohmann::json state = StationStateJson({burning, waiting, failed}, Facts(3), 2.0, false);

    ASSERT_EQ(state["boards"].size(), 3u);
    // The reason is why this is attempt 2.
    EXPECT_EQ(state["boards"][0], nlohmann::json({{"port", "/dev/ttyUSB0"}, {"adapterSerial", "A10K3B7Q"},
                                                  {"state", "running"}, {"stage", "app.bin"}, {"image", "app.bin"},
                                                  {"percent", 40}, {"bytesPerSecond", 400.0}, {"elapsedSeconds", 2.0},
                                                  {"attempt", 2}, {"maxAttempts", 3}, {"round", 1}, {"boards", 0},
                                                  {"succeeded", 0}, {"failed", 0}, {"emptyRounds", 0}, {"result", ""},
                                                  {"lastResult", ""}, {"reason", "Timeout error."}, {"warning", ""}}));
    EXPECT_EQ(state["boards"][1]["state"], "waiting");
    EXPECT_EQ(state["totals"]["running"], 2);
    EXPECT_EQ(state["totals"]["failed"], 1);
    EXPECT_EQ(state["station"]["chipName"], "vb27");
    EXPECT_FALSE(state["station"]["finished"].get<bool>());
}

TEST(LiveView, OneLinePerPortWithTheAttemptTheCountsAndTheAdapter)
{
    ServedPort port = Port("/dev/ttyUSB0", {Attempt(1, LOADER_EXIT, "Timeout error.")}, ServedPort::Phase::PAUSED);
    port.adapterSerial = "FT4XQ2";
    port.served = 200;
    port.succeeded = 200;
    port.pauseNote = "attempt 1 failed; again in 2 s";
    const std::string line = LiveLine(port, Facts(3, true), 100.0);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_NE(line.find("attempt 1 failed; again in 2 s"), std::string::npos) << line;
    EXPECT_NE(line.find("boards 200 ok 200 failed 0"), std::string::npos) << line;
    EXPECT_NE(line.find("[FT4XQ2]"), std::string::npos) << line;
}

}  // namespace
