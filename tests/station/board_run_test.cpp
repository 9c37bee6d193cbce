// One board as the station sees it: what the tool's event lines make of its
// stage and rate, what its end makes of its result and reason, and what the
// port does next (wait again, try again, count the board).
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "station/board_run.h"

namespace {

using namespace Station;

constexpr int OPEN_PORT_EXIT = 3;
constexpr int LOADER_EXIT = 4;

nlohmann::json Report(const std::string& lastError, size_t images, bool cancelled = false)
{
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < images; ++i) {
        list.push_back({{"name", "image" + std::to_string(i)}});
    }
    return {{"lastError", lastError}, {"images", list}, {"cancelled", cancelled}};
}

// What the tool reports when a Ctrl-C stopped it.
nlohmann::json UserCancelled(size_t images)
{
    return Report("User Cancelled!", images, true);
}

TEST(BoardEvents, StageProgressAndRateFollowTheEventLinesAndOtherLinesChangeNothing)
{
    BoardRun board;
    EXPECT_EQ(board.OnEventLine(R"({"event":"waiting"})", 0.5), WAITING_STAGE);
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageStarted","name":"loader.bin","type":0,"bytes":1000})", 1.0),
              "loader loader.bin started");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageEnded","ok":true})", 2.0), "loader loader.bin done");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":4000})", 2.0),
              "app.bin started");
    EXPECT_EQ(board.OnEventLine(R"({"event":"progress","percent":50})", 3.0), "");
    for (const char* line : {"", "not json", "[1,2]", R"({"event":"reboot"})", R"({"event":7})", "{\"event\":\"wai"}) {
        EXPECT_EQ(board.OnEventLine(line, 3.0), "") << line;
    }
    EXPECT_EQ(board.stage, "app.bin");
    // 1000 bytes done and half of 4000 in flight, over 2 s since the first image.
    EXPECT_DOUBLE_EQ(board.BytesPerSecond(3.0), 1500.0);
    EXPECT_EQ(board.OnEventLine(R"({"event":"error","text":"Wait ACK timeout."})", 4.0), "error: Wait ACK timeout.");
    // The tool's messages that say "error:" themselves are not said twice.
    EXPECT_EQ(board.OnEventLine(R"({"event":"error","text":"error: Burn app.bin failed!"})", 4.0),
              "error: Burn app.bin failed!");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageEnded","ok":false})", 4.0), "app.bin failed");
    EXPECT_EQ(board.percent, 50);
    EXPECT_EQ(board.Warning(), "");
}

// The burn check reads each image back after the burn: its stage is "check
// NAME", its percentage that of the read, and its bytes count into the rate
// as the burned ones do.
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
    EXPECT_DOUBLE_EQ(board.BytesPerSecond(3.0), 6000.0 / 2.0);
    EXPECT_EQ(board.OnEventLine(R"({"event":"checkEnded","name":"app.bin","result":"failed",)"
                                R"("firstDifference":65541,"differingBytes":1})",
                                4.0),
              "check app.bin failed");
    EXPECT_DOUBLE_EQ(board.BytesPerSecond(4.0), 8000.0 / 3.0);
    EXPECT_EQ(board.OnEventLine(R"({"event":"checkEnded","name":"nv.bin","result":"read failed"})", 4.0),
              "check nv.bin read failed");
}

// How a run ended, and the reason and result the board is shown with.
struct EndRow {
    const char* what;
    bool timedOut;
    bool interrupted;  // the station passed a Ctrl-C on
    int exitCode;
    nlohmann::json report;
    const char* reason;
    const char* result;
};

TEST(BoardEnd, TheReasonComesFromTheTimeOutElseTheReportElseTheSignalElseTheExitCode)
{
    constexpr double BOARD_TIMEOUT = 20.0;
    const std::vector<EndRow> rows{
        {"the report's last error", false, false, LOADER_EXIT, Report("Shakehand failed", 0), "Shakehand failed",
         "failed"},
        {"a signal", false, false, 128 + 9, nullptr, "ended by signal 9", "failed"},
        {"an exit code", false, false, 12, Report("", 1), "exit code 12", "failed"},
        {"success", false, false, 0, Report("", 2), "", "ok"},
        {"past its time-out, whatever the tool said", true, false, LOADER_EXIT, UserCancelled(1),
         "no end within the board time-out of 20 s; ended by SIGTERM", "failed"},
        {"cancelled by the tool", false, false, LOADER_EXIT, UserCancelled(1), "User Cancelled!", "cancelled"},
        {"cancelled by the station", false, true, 128 + 9, nullptr, "ended by signal 9", "cancelled"},
        {"interrupted but finished", false, true, 0, Report("", 2), "", "ok"},
    };
    for (const EndRow& row : rows) {
        SCOPED_TRACE(row.what);
        BoardRun board;
        board.timedOut = row.timedOut;
        board.interrupted = row.interrupted;
        board.Finish(row.exitCode, row.report, 30.0, BOARD_TIMEOUT);
        EXPECT_EQ(board.reason, row.reason);
        EXPECT_EQ(board.Result(), row.result);
    }
}

// A board whose app.bin ended unconfirmed on the line, finished with the tool's report of its images.
BoardRun UnconfirmedOnTheLine(const nlohmann::json& images)
{
    BoardRun board;
    board.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":400})", 1.0);
    board.OnEventLine(R"({"event":"imageEnded","ok":true,"result":"unconfirmed"})", 2.0);
    board.Finish(0, {{"lastError", ""}, {"images", images}, {"cancelled", false}}, 3.0);
    return board;
}

// A failed or unfinished image is no warning but a failure; an image without a word on it is
// taken as confirmed.
TEST(UnconfirmedImages, TheReportHasTheLastWordInEitherWayOfSayingIt)
{
    const BoardRun board = UnconfirmedOnTheLine(nlohmann::json::parse(R"([
        {"name": "loader.bin", "result": "ok", "confirmed": true},
        {"name": "app.bin", "result": "ok", "confirmed": false}, {"name": "nv.bin", "result": "unconfirmed"},
        {"name": "fs.bin", "result": "failed", "confirmed": false},
        {"name": "cut.bin", "result": "unfinished", "confirmed": false}, {"name": "old.bin", "result": "ok"}])"));
    EXPECT_EQ(board.Warning(), "images app.bin, nv.bin unconfirmed");
    const auto confirmed = nlohmann::json::parse(R"([{"name": "app.bin", "result": "confirmed", "confirmed": true}])");
    EXPECT_EQ(UnconfirmedOnTheLine(confirmed).Warning(), "");
}

// An attempt and what the port does after it. With --repeat and one attempt
// allowed, SAME_BOARD_AGAIN says the tool waited and no board came; BOARD_DONE
// says a board was there (or the run tells nothing about one).
constexpr NextStep AGAIN = NextStep::SAME_BOARD_AGAIN;
constexpr NextStep RETRY = NextStep::RETRY;
constexpr NextStep DONE = NextStep::BOARD_DONE;

struct NextStepRow {
    const char* what;
    BoardRun attempt;
    int maxAttempts;
    bool repeat;
    bool cancelling;
    NextStep expected;
};

BoardRun Ended(int exitCode, const nlohmann::json& report, bool waited, bool startedAnImage = false, int attempt = 1,
               bool interrupted = false)
{
    BoardRun run;
    run.attempt = attempt;
    run.interrupted = interrupted;
    if (waited) {
        run.OnEventLine(R"({"event":"waiting"})", 0.1);
    }
    if (startedAnImage) {
        run.OnEventLine(R"({"event":"imageStarted","name":"loader.bin","type":0,"bytes":10})", 1.0);
    }
    run.Finish(exitCode, report, 60.0);
    return run;
}

// A success is done and an empty socket with retries left is waited on, not retried, in the
// station's two hundred rounds (StandInStation.TwoHundredRoundsOfRepeat...).
TEST(NextStepAfterAnAttempt, RetriesUpToTheLastAttemptAndAnEmptySocketIsWaitedOnAgainUncounted)
{
    const nlohmann::json noHandshake = Report("Shakehand failed", 0);
    const nlohmann::json failed = Report("Timeout error.", 1);
    const nlohmann::json notOpened = Report("Open serial port /dev/ttyUSB0 failed", 0);
    // Whether a board came is asked after the end: a time-out while waiting counts the board.
    BoardRun timedOut = Ended(LOADER_EXIT, Report("", 0), true);
    timedOut.timedOut = true;
    const std::vector<NextStepRow> rows{
        {"failed, attempts left", Ended(LOADER_EXIT, failed, true, true, 2), 3, false, false, RETRY},
        {"failed, last attempt", Ended(LOADER_EXIT, failed, true, true, 3), 3, false, false, DONE},
        {"Ctrl-C during retries", Ended(LOADER_EXIT, failed, true, true, 1), 3, false, true, DONE},
        {"cancelled by the tool", Ended(LOADER_EXIT, UserCancelled(1), true), 3, false, false, DONE},
        {"empty socket, no report", Ended(LOADER_EXIT, nullptr, true), 1, true, false, AGAIN},
        // Without --repeat the fixture expected a board there: it failed.
        {"empty socket without --repeat", Ended(LOADER_EXIT, noHandshake, true), 1, false, false, DONE},
        // A board that failed and was taken out before its retry is done, not waited for.
        {"gone before its retry", Ended(LOADER_EXIT, noHandshake, true, false, 2), 3, true, false, DONE},
        {"port did not open", Ended(OPEN_PORT_EXIT, notOpened, true), 1, true, false, DONE},
        {"report names an image", Ended(LOADER_EXIT, failed, true), 1, true, false, DONE},
        {"tool killed", Ended(128 + 9, nullptr, true), 1, true, false, DONE},
        {"never waited", Ended(1, Report("error: bad settings", 0), false), 1, true, false, DONE},
        {"an image started", Ended(LOADER_EXIT, nullptr, true, true), 1, true, false, DONE},
        {"past its time-out", timedOut, 1, true, false, DONE},
        // A Ctrl-C between two boards reaches the next round's tool as it starts: no board to count.
        // Passed on to the attempt (the last argument of Ended), it makes the run an interrupted one.
        {"Ctrl-C before the tool's handler", Ended(128 + 2, nullptr, false, false, 1, true), 1, true, true, AGAIN},
        {"Ctrl-C before it waited", Ended(LOADER_EXIT, UserCancelled(0), false, false, 1, true), 1, true, true, AGAIN},
        {"Ctrl-C during an image", Ended(LOADER_EXIT, UserCancelled(1), true, true, 1, true), 1, true, true, DONE},
        {"Ctrl-C, port did not open", Ended(OPEN_PORT_EXIT, notOpened, false, false, 1, true), 1, true, true, DONE},
    };
    for (const NextStepRow& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(AfterAttempt(row.attempt, row.maxAttempts, row.repeat, row.cancelling), row.expected);
    }
}

// Two hundred rounds that keep counts and only the last board are the station's end to end
// (StandInStation.TwoHundredRoundsOfRepeatKeepCountsNotBoardsAndMemoryStaysFlat).
TEST(ServedPorts, ABoardCountsByItsLastAttemptAndIsWarnedOnlyWhenItSucceeded)
{
    const auto unconfirmed = nlohmann::json::parse(R"([{"name": "app.bin", "result": "ok", "confirmed": false}])");
    ServedPort port;
    port.attempts = {Ended(LOADER_EXIT, Report("", 2), false), Ended(0, {{"images", unconfirmed}}, false, true, 2)};
    port.CountBoard();
    EXPECT_EQ(port.lastBoard.size(), 2u) << "the last board keeps every attempt it had";
    EXPECT_TRUE(port.attempts.empty());
    // A failed board only failed, whatever it left unconfirmed.
    port.attempts.push_back(Ended(LOADER_EXIT, {{"images", unconfirmed}}, false));
    ASSERT_FALSE(port.attempts.back().unconfirmed.empty());
    port.CountBoard();
    EXPECT_FALSE(port.LastSucceeded());
    EXPECT_EQ(std::tie(port.served, port.succeeded, port.warned, port.failed), std::make_tuple(2, 1, 1, 1));
}

}  // namespace
