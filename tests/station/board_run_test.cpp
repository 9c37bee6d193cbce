// One board as the station sees it: what the tool's event lines make of its
// stage and rate, what its end makes of its result and reason, and what the
// port does next (wait again, try again, count the board).
#include <gtest/gtest.h>

#include <string>

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

TEST(BoardEvents, ALineThatIsNoEventOrOfAnotherShapeLeavesTheBoardAsItWas)
{
    BoardRun board;
    board.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":4000})", 1.0);
    board.OnEventLine(R"({"event":"progress","percent":30})", 2.0);
    for (const char* line : {"", "not json", "[1,2]", R"({"event":"reboot"})", R"({"event":7})", "{\"event\":\"wai"}) {
        EXPECT_EQ(board.OnEventLine(line, 3.0), "") << line;
    }
    EXPECT_EQ(board.stage, "app.bin");
    EXPECT_EQ(board.percent, 30);
    // A percentage outside 0..100 from another writer is held to the bar.
    board.OnEventLine(R"({"event":"progress","percent":250})", 3.0);
    EXPECT_EQ(board.percent, 100);
    board.OnEventLine(R"({"event":"progress","percent":-3})", 3.0);
    EXPECT_EQ(board.percent, 0);
}

TEST(BoardEvents, StageProgressAndRateFollowTheEventLines)
{
    BoardRun board;
    board.port = "/dev/pts/7";
    EXPECT_EQ(board.OnEventLine(R"({"event":"waiting"})", 0.5), WAITING_STAGE);
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageStarted","name":"loader.bin","type":0,"bytes":1000})", 1.0),
              "loader loader.bin started");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageEnded","ok":true})", 2.0), "loader loader.bin done");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":4000})", 2.0),
              "app.bin started");
    EXPECT_EQ(board.OnEventLine(R"({"event":"progress","percent":50})", 3.0), "");
    EXPECT_EQ(board.percent, 50);
    EXPECT_EQ(board.image, "app.bin");
    // 1000 bytes done and half of 4000 in flight, over 2 s since the first image.
    EXPECT_DOUBLE_EQ(board.BytesPerSecond(3.0), 1500.0);
    EXPECT_EQ(board.OnEventLine("not json", 3.0), "");
    EXPECT_EQ(board.OnEventLine(R"({"event":"error","text":"Wait ACK timeout."})", 4.0), "error: Wait ACK timeout.");
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageEnded","ok":false})", 4.0), "app.bin failed");
    EXPECT_EQ(board.percent, 50);
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

TEST(BoardEnd, TheReasonComesFromTheReportElseTheSignalElseTheExitCode)
{
    BoardRun withReport;
    withReport.Finish(LOADER_EXIT, Report("Shakehand failed", 0), 9.0);
    EXPECT_EQ(withReport.reason, "Shakehand failed");
    EXPECT_EQ(withReport.Result(), "failed");
    BoardRun killed;
    killed.Finish(137, nullptr, 9.0);
    EXPECT_EQ(killed.reason, "ended by signal 9");
    BoardRun plain;
    plain.Finish(12, Report("", 1), 9.0);
    EXPECT_EQ(plain.reason, "exit code 12");
    BoardRun fine;
    fine.Finish(0, Report("", 2), 9.0);
    EXPECT_EQ(fine.reason, "");
    EXPECT_EQ(fine.Result(), "ok");
}

TEST(BoardEnd, ABoardPastItsTimeOutFailsWithThatReasonWhateverTheToolSaid)
{
    BoardRun stopped;
    stopped.timedOut = true;
    stopped.Finish(LOADER_EXIT, Report("User Cancelled!", 1, true), 30.0, 20.0);
    EXPECT_EQ(stopped.reason, "no end within the board time-out of 20 s; ended by SIGTERM");
    EXPECT_EQ(stopped.Result(), "failed");
    BoardRun killed;
    killed.timedOut = true;
    killed.Finish(128 + 9, nullptr, 30.0, 7200.0);
    EXPECT_EQ(killed.reason, "no end within the board time-out of 7200 s; ended by SIGKILL");
}

TEST(BoardEnd, ACancelIsCancelledWhetherTheToolSaidSoOrTheStationPassedItOn)
{
    BoardRun toldByTool;
    toldByTool.Finish(LOADER_EXIT, Report("User Cancelled!", 1, true), 5.0);
    EXPECT_EQ(toldByTool.Result(), "cancelled");
    BoardRun passedOn;
    passedOn.interrupted = true;
    passedOn.Finish(128 + 9, nullptr, 5.0);
    EXPECT_EQ(passedOn.Result(), "cancelled");
    BoardRun finishedAnyway;
    finishedAnyway.interrupted = true;
    finishedAnyway.Finish(0, Report("", 2), 5.0);
    EXPECT_EQ(finishedAnyway.Result(), "ok");
}

class UnconfirmedImages : public ::testing::Test {
protected:
    // A report image as the tool writes it.
    static nlohmann::json Image(const std::string& name, const std::string& result, bool confirmed)
    {
        return {{"name", name}, {"result", result}, {"confirmed", confirmed}};
    }
    static nlohmann::json ReportOf(const nlohmann::json& images)
    {
        return {{"lastError", ""}, {"images", images}, {"cancelled", false}};
    }
};

TEST_F(UnconfirmedImages, TheReportHasTheLastWordInEitherWayOfSayingIt)
{
    BoardRun board;
    board.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":400})", 1.0);
    board.OnEventLine(R"({"event":"imageEnded","ok":true,"result":"unconfirmed"})", 2.0);
    board.Finish(0,
                 ReportOf({Image("loader.bin", "ok", true), Image("app.bin", "ok", false),
                           {{"name", "nv.bin"}, {"result", "unconfirmed"}}, Image("fs.bin", "failed", false),
                           Image("cut.bin", "unfinished", false), {{"name", "old.bin"}, {"result", "ok"}}}),
                 3.0);
    // A failed or unfinished image is no warning but a failure; an image without a word on it is
    // taken as confirmed.
    EXPECT_EQ(board.unconfirmed, (std::vector<std::string>{"app.bin", "nv.bin"}));
    EXPECT_EQ(board.Warning(), "images app.bin, nv.bin unconfirmed");
    BoardRun allConfirmed;
    allConfirmed.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":400})", 1.0);
    allConfirmed.OnEventLine(R"({"event":"imageEnded","ok":true,"result":"unconfirmed"})", 2.0);
    allConfirmed.Finish(0, ReportOf(nlohmann::json::array({Image("app.bin", "confirmed", true)})), 3.0);
    EXPECT_EQ(allConfirmed.Warning(), "");
    BoardRun oddReport;
    oddReport.Finish(0, {{"images", nlohmann::json::array({"app.bin", 7})}}, 3.0);
    EXPECT_EQ(oddReport.Warning(), "");
}

TEST_F(UnconfirmedImages, AFailedImageIsAFailureNotAWarning)
{
    BoardRun board;
    board.OnEventLine(R"({"event":"imageStarted","name":"app.bin","type":1,"bytes":400})", 1.0);
    EXPECT_EQ(board.OnEventLine(R"({"event":"imageEnded","ok":false,"result":"failed"})", 2.0), "app.bin failed");
    EXPECT_EQ(board.Warning(), "");
    // The tool's messages that say "error:" themselves are not said twice.
    EXPECT_EQ(board.OnEventLine(R"({"event":"error","text":"error: Burn app.bin failed!"})", 2.0),
              "error: Burn app.bin failed!");
    EXPECT_EQ(board.OnEventLine(R"({"event":"error","text":"Wait ACK timeout."})", 2.0), "error: Wait ACK timeout.");
}

class EmptySocket : public ::testing::Test {
protected:
    // A tool run that waited for the handshake and ended with exitCode.
    static BoardRun Waited(int exitCode, const nlohmann::json& report)
    {
        BoardRun run;
        run.OnEventLine(R"({"event":"waiting"})", 0.1);
        run.Finish(exitCode, report, 60.0);
        return run;
    }
};

TEST_F(EmptySocket, APortThatDidNotOpenABoardThatStartedOrAToolThatDiedIsNoEmptySocket)
{
    EXPECT_FALSE(Waited(OPEN_PORT_EXIT, Report("Open serial port /dev/ttyUSB0 failed", 0)).NoBoardCame());
    EXPECT_FALSE(Waited(LOADER_EXIT, Report("Timeout error.", 1)).NoBoardCame());
    EXPECT_FALSE(Waited(128 + 9, nullptr).NoBoardCame());
    BoardRun neverWaited;
    neverWaited.Finish(1, Report("error: bad settings", 0), 0.2);
    EXPECT_FALSE(neverWaited.NoBoardCame());
    BoardRun started = Waited(LOADER_EXIT, nullptr);
    EXPECT_TRUE(started.NoBoardCame());
    started.ended = false;
    started.OnEventLine(R"({"event":"imageStarted","name":"loader.bin","type":0,"bytes":10})", 1.0);
    started.Finish(LOADER_EXIT, nullptr, 2.0);
    EXPECT_FALSE(started.NoBoardCame());
    BoardRun timedOut = Waited(LOADER_EXIT, Report("", 0));
    timedOut.timedOut = true;
    EXPECT_FALSE(timedOut.NoBoardCame());
}

class NextStepAfterAnAttempt : public EmptySocket {
protected:
    static BoardRun Failed(int attempt)
    {
        BoardRun run;
        run.attempt = attempt;
        run.OnEventLine(R"({"event":"imageStarted","name":"loader.bin","type":0,"bytes":10})", 1.0);
        run.Finish(LOADER_EXIT, Report("Timeout error.", 1), 3.0);
        return run;
    }
};

TEST_F(NextStepAfterAnAttempt, AFailedBoardIsTriedUntilItsLastAttempt)
{
    EXPECT_EQ(AfterAttempt(Failed(1), 1, false, false), NextStep::BOARD_DONE);
    EXPECT_EQ(AfterAttempt(Failed(1), 3, false, false), NextStep::RETRY);
    EXPECT_EQ(AfterAttempt(Failed(2), 3, false, false), NextStep::RETRY);
    EXPECT_EQ(AfterAttempt(Failed(3), 3, false, false), NextStep::BOARD_DONE);
    BoardRun ok;
    ok.Finish(0, Report("", 2), 4.0);
    EXPECT_EQ(AfterAttempt(ok, 3, true, false), NextStep::BOARD_DONE);
}

TEST_F(NextStepAfterAnAttempt, ACtrlCEndsRetriesAtOnce)
{
    EXPECT_EQ(AfterAttempt(Failed(1), 3, false, true), NextStep::BOARD_DONE);
    EXPECT_EQ(AfterAttempt(Waited(LOADER_EXIT, Report("User Cancelled!", 1, true)), 3, false, false),
              NextStep::BOARD_DONE);
}

TEST_F(NextStepAfterAnAttempt, WithRepeatAnEmptySocketIsWaitedOnAgainUncounted)
{
    const BoardRun empty = Waited(LOADER_EXIT, Report("Shakehand failed", 0));
    EXPECT_EQ(AfterAttempt(empty, 1, true, false), NextStep::SAME_BOARD_AGAIN);
    EXPECT_EQ(AfterAttempt(empty, 3, true, false), NextStep::SAME_BOARD_AGAIN);
    // Without --repeat the fixture expected a board there: it failed.
    EXPECT_EQ(AfterAttempt(empty, 1, false, false), NextStep::BOARD_DONE);
    // A board that failed and was taken out before its retry is done, not waited for.
    BoardRun goneBeforeRetry = Waited(LOADER_EXIT, Report("Shakehand failed", 0));
    goneBeforeRetry.attempt = 2;
    EXPECT_EQ(AfterAttempt(goneBeforeRetry, 3, true, false), NextStep::BOARD_DONE);
}

TEST(ServedPorts, BoardsAreFoldedIntoCountsAndTheLastBoard)
{
    ServedPort port;
    port.port = "/dev/ttyUSB0";
    for (int round = 1; round <= 200; ++round) {
        BoardRun first;
        first.round = round;
        first.Finish(round % 10 == 0 ? LOADER_EXIT : 0, Report("", 2), round);
        port.attempts.push_back(first);
        if (round % 10 == 0) {
            BoardRun second = first;
            second.attempt = 2;
            port.attempts.push_back(second);
        }
        port.CountBoard();
    }
    EXPECT_EQ(port.served, 200);
    EXPECT_EQ(port.succeeded, 180);
    EXPECT_EQ(port.failed, 20);
    // Only the last board stays, with every attempt it had.
    ASSERT_EQ(port.lastBoard.size(), 2u);
    EXPECT_EQ(port.lastBoard.back().round, 200);
    EXPECT_TRUE(port.attempts.empty());
    EXPECT_FALSE(port.LastSucceeded());
}

TEST(ServedPorts, ABoardWithAWarningCountsAsSucceededAndAsWarned)
{
    ServedPort port;
    BoardRun warned;
    warned.unconfirmed = {"app.bin"};
    warned.Finish(0, nullptr, 1.0);
    port.attempts.push_back(warned);
    port.CountBoard();
    BoardRun failedWithUnconfirmed;
    failedWithUnconfirmed.Finish(
        LOADER_EXIT, {{"images", {{{"name", "a.bin"}, {"result", "ok"}, {"confirmed", false}}}}}, 2.0);
    ASSERT_FALSE(failedWithUnconfirmed.unconfirmed.empty());
    port.attempts.push_back(failedWithUnconfirmed);
    port.CountBoard();
    EXPECT_EQ(port.succeeded, 1);
    EXPECT_EQ(port.warned, 1);  // a failed board is counted as failed only
    EXPECT_EQ(port.failed, 1);
}

}  // namespace
