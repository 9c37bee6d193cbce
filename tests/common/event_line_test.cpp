// The event lines between the tool and the station: what the reader reads
// the writer writes back the same, and a line the reader does not know, or whose
// fields have other types, never stops it.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/event_line.h"
#include "common/outcome.h"

using EventLine::Event;

// Written back the same, every field of each line is read and written under
// its name; the writer's keys come sorted.
TEST(EventLines, EveryLineTheReaderReadsIsWrittenBackTheSame)
{
    std::vector<std::string> lines = {
        R"({"bytes":5000000000,"event":"imageStarted","name":"app.bin","type":20})",
        R"({"event":"progress","percent":40})",
        R"({"event":"imageEnded","ok":true,"result":"unconfirmed"})",
        R"({"bytes":1500,"event":"checkStarted","name":"nv.bin"})",
        R"({"differingBytes":5000000000,"event":"checkEnded","firstDifference":4294967295,"name":"app.bin",)"
        R"("result":"failed"})",
        R"({"event":"error","kind":"handshake","text":"Shakehand failed, The board does not respond."})",
    };
    // Every other check result, each read back from its name.
    for (const char* result : {"not checked", "passed", "read failed", "board digest"}) {
        lines.push_back(std::string(R"({"event":"checkEnded","name":"a","result":")") + result + "\"}");
    }
    for (const std::string& line : lines) {
        Event read;
        ASSERT_TRUE(EventLine::Parse(line, read)) << line;
        EXPECT_EQ(EventLine::Format(read), line);
    }
    // Names from a package need not be UTF-8: replaced, not thrown over.
    Event started;
    started.kind = Event::Kind::IMAGE_STARTED;
    started.name = "app\xff.bin";
    Event read;
    ASSERT_TRUE(EventLine::Parse(EventLine::Format(started), read)) << EventLine::Format(started);
    EXPECT_EQ(read.kind, Event::Kind::IMAGE_STARTED);
}

// Lines that are no JSON object or no known event change nothing at the
// station: tests/station/board_run_test.cpp.
TEST(EventLines, FieldsOfAnotherTypeAreReadWithTheirDefaults)
{
    Event event;
    ASSERT_TRUE(EventLine::Parse(R"({"event":"imageStarted","name":7,"bytes":"many","type":-1})", event));
    EXPECT_EQ(std::make_tuple(event.kind, event.name, event.bytes, event.type),
              std::make_tuple(Event::Kind::IMAGE_STARTED, "", 0u, 0u));
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
