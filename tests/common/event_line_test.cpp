// The event lines between the tool and the station: what the writer writes
// the reader reads back whole, and a line the reader does not know, or whose
// fields have other types, never stops it.
#include <gtest/gtest.h>

#include <tuple>

#include "common/event_line.h"
#include "common/outcome.h"

using EventLine::Event;

namespace {

auto AllButName(const Event& e)
{
    return std::tie(e.kind, e.type, e.bytes, e.percent, e.ok, e.result, e.check, e.firstDifference,
                    e.differingBytes, e.text, e.errorKind);
}

}  // namespace

TEST(EventLines, EveryEventTheWriterWritesIsReadBackWhole)
{
    Event started;
    started.kind = Event::Kind::IMAGE_STARTED;
    started.name = "app\xff.bin";  // names from a package need not be UTF-8
    started.type = 20;
    started.bytes = 5000000000ull;
    Event progress;
    progress.kind = Event::Kind::PROGRESS;
    progress.percent = 40;
    Event ended;
    ended.kind = Event::Kind::IMAGE_ENDED;
    ended.ok = true;
    ended.result = "unconfirmed";
    Event checkStarted;
    checkStarted.kind = Event::Kind::CHECK_STARTED;
    checkStarted.name = "nv.bin";
    checkStarted.bytes = 1500;
    Event checkFailed;
    checkFailed.kind = Event::Kind::CHECK_ENDED;
    checkFailed.name = "app.bin";
    checkFailed.check = Common::CheckResult::FAILED;
    checkFailed.result = "failed";
    checkFailed.firstDifference = 0xFFFFFFFF;
    checkFailed.differingBytes = 5000000000ull;
    Event error;
    error.kind = Event::Kind::ERROR;
    error.text = "Shakehand failed, The board does not respond.";
    error.errorKind = "handshake";
    for (const Event& written : {started, progress, ended, checkStarted, checkFailed, error}) {
        const std::string line = EventLine::Format(written);
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        Event read;
        ASSERT_TRUE(EventLine::Parse(line, read)) << line;
        EXPECT_EQ(AllButName(read), AllButName(written)) << line;
        if (written.kind != Event::Kind::IMAGE_STARTED) {  // its name is not UTF-8: replaced, not kept
            EXPECT_EQ(read.name, written.name) << line;
        }
    }
}

// Lines that are no JSON object or no known event change nothing at the
// station: tests/station/board_run_test.cpp.
TEST(EventLines, FieldsOfAnotherTypeAreReadWithTheirDefaults)
{
    Event event;
    ASSERT_TRUE(EventLine::Parse(R"({"event":"imageStarted","name":7,"bytes":"many","type":-1})", event));
    EXPECT_EQ(event.kind, Event::Kind::IMAGE_STARTED);
    EXPECT_EQ(event.name, "");
    EXPECT_EQ(event.bytes, 0u);
    EXPECT_EQ(event.type, 0u);
}

TEST(CheckResults, EveryResultIsReadBackFromItsName)
{
    using Common::CheckResult;
    for (CheckResult result : {CheckResult::NOT_CHECKED, CheckResult::PASSED, CheckResult::FAILED,
                               CheckResult::READ_FAILED, CheckResult::BOARD_DIGEST}) {
        EXPECT_EQ(Common::CheckResultOfName(Common::CheckResultName(result)), result);
    }
}

TEST(OutcomeSummary, TheFirstLineOfTheMessageWithoutItsBreaks)
{
    EXPECT_EQ(Common::Outcome::Failure(Common::OutcomeKind::PORT,
                                       "error: Open serial port :COM9 failed, It may be caused by the following "
                                       "reasons:\n1. Serial port is occupied or does not exist.\n")
                  .Summary(),
              "error: Open serial port :COM9 failed, It may be caused by the following reasons:");
    EXPECT_EQ(Common::Outcome::Failure(Common::OutcomeKind::TRANSFER, "\n\nerror: Burn a.bin failed!\n").Summary(),
              "error: Burn a.bin failed!");
}
