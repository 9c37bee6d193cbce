// tarnwick-station with --history, the same runs into an SQLite file and
// into a private PostgreSQL server: two runs (one with a board that fails)
// leave the rows that happened and "tarnwick-station history" prints them; a
// history that is locked, read-only or damaged stops the run before any board
// starts; one that fails mid-run never stops the burning.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e/station_support.h"
#include "test_database.h"

namespace StationHistoryTests {

namespace {

using namespace E2e;
namespace fs = std::filesystem;

class HistoryStationTest : public StationTest, public ::testing::WithParamInterface<Backend> {
protected:
    void SetUp() override
    {
        StationTest::SetUp();
        m_db = std::make_unique<TestDatabase>(GetParam(), Path(""));
        ASSERT_EQ(m_db->Error(), "");
    }

    RunResult History(const std::vector<std::string>& extra)
    {
        std::vector<std::string> args{"history", m_db->Target()};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunProgram(Station(), args, OUTPUT_LIMIT_MS);
    }

    // A station run that must refuse to start: exit code 2, its reason, no tool started.
    void ExpectRefused(const std::string& target, const std::string& reason, bool asNobody = false)
    {
        std::string program = Station();
        std::vector<std::string> args{"--burn", "--port", "/dev/socket", "--history", target, "--run-dir",
                                      Path("nobody-run")};
        if (asNobody) {
            // As root every file is writable: see it as the user the file is closed to.
            fs::create_directories(Path("nobody-run"));
            ASSERT_EQ(chown(Path("nobody-run").c_str(), 65534, 65534), 0);
            ASSERT_EQ(chmod(Path("").c_str(), 0755), 0);
            ASSERT_EQ(chmod(Path("bin").c_str(), 0755), 0);
            args.insert(args.begin(), {"-u", "nobody", "--", program});
            program = "/usr/sbin/runuser";
        }
        const RunResult run = RunProgram(program, args, OUTPUT_LIMIT_MS);
        EXPECT_EQ(run.exitCode, STATION_USAGE_EXIT) << run.output;
        ExpectHolds(run.output, {"tarnwick-station: history ", reason, "; no board was started"});
        EXPECT_FALSE(fs::exists(Path("ran"))) << "a board was started";
    }

    std::unique_ptr<TestDatabase> m_db;
};

TEST_P(HistoryStationTest, TwoRunsGiveTheRowsThatHappenedAndALockedReadOnlyOrDamagedHistoryStopsAThirdBeforeAnyBoard)
{
    const std::string file = Given("fw.fwpkg", BuildPackage(SmallPackage()));
    StandIn(R"(event '{"event":"imageStarted","name":"app.bin","type":1,"bytes":1000}'
case "$port" in
  *broken*) event '{"event":"imageEnded","ok":false}'
            report 4 "Ack receiving timeout." false '[{"name":"app.bin"}]'; exit 4 ;;
  *) event '{"event":"imageEnded","ok":true}'; report 0 "" false '[{"name":"app.bin"}]'; exit 0 ;;
esac)");
    const std::string brokenPort = "/dev/second-broken";
    const std::vector<std::pair<std::vector<std::string>, int>> runs{{{"/dev/first-a", "/dev/first-b"}, 0},
                                                                      {{"/dev/second-a", brokenPort}, 1}};
    for (const auto& [ports, exitCode] : runs) {
        const std::string runDir = Path("run-" + ports[0].substr(5));
        const RunResult run = RunProgram(Station(),
                                         {"--burn", "--history", m_db->Target(), "--run-dir", runDir, "--port",
                                          ports[0], "--port", ports[1], "-n", "vb27", "-f", file},
                                         STATION_LIMIT_MS);
        ASSERT_EQ(run.exitCode, exitCode) << run.output;
    }
    EXPECT_EQ(m_db->Value("SELECT count(*) FROM runs"), "2");
    EXPECT_EQ(m_db->Value("SELECT count(*) FROM runs WHERE ended_utc IS NOT NULL AND package_sha256 = '" +
                          Sha256Hex(ReadFile(file)) + "' AND chip_name = 'vb27' AND operation = 'burn'"),
              "2");
    EXPECT_EQ(m_db->Value("SELECT count(*) FROM boards WHERE report IS NOT NULL"), "4");

    // Four boards, three of them ok.
    const RunResult table = History({});
    ASSERT_EQ(table.exitCode, 0) << table.output;
    EXPECT_EQ(CountOf(table.output, " ok "), 3u) << table.output;
    EXPECT_EQ(CountOf(table.output, "fw.fwpkg"), 4u) << table.output;
    const RunResult failed = History({"--failed", "--csv"});
    ASSERT_EQ(failed.exitCode, 0) << failed.output;
    EXPECT_EQ(CountOf(failed.output, "\n"), 2u) << failed.output;  // the header and the one board
    EXPECT_TRUE(Contains(failed.output, "," + brokenPort + ",,1,1,failed,")) << failed.output;
    const RunResult onePort = History({"--port", brokenPort, "--since", "2000-01-01"});
    EXPECT_EQ(CountOf(onePort.output, "\n"), 2u) << onePort.output;
    const RunResult none = History({"--since", "2999-01-01"});
    EXPECT_EQ(CountOf(none.output, "\n"), 1u) << none.output;

    // A third run, into the same history locked, read-only, damaged or missing.
    StandIn("touch " + Path("ran") + "; exit 0");
    ASSERT_TRUE(m_db->Lock());
    ExpectRefused(m_db->Target(), "locked by another program");
    m_db->Unlock();
    ExpectRefused(m_db->DamagedTarget(), GetParam() == Backend::SQLITE ? "not a database" : "no_such_history");
    // Root may write any file: a read-only SQLite file is tried as user nobody.
    ExpectRefused(m_db->ReadOnlyTarget(), "read-only", GetParam() == Backend::SQLITE && geteuid() == 0);
}

TEST_P(HistoryStationTest, AHistoryFailingMidRunNeverStopsTheBurning)
{
    // The boards take a second, long enough for the history to fail under them.
    StandIn(R"(event '{"event":"waiting"}'
event '{"event":"imageStarted","name":"app.bin","type":1,"bytes":1000}'
sleep 1
event '{"event":"imageEnded","ok":true}'
report 0 "" false '[{"name":"app.bin"}]'
exit 0)");
    ChildProcess station(Station(), WithOutputs({"--burn", "--port", "/dev/a", "--port", "/dev/b", "--history",
                                                 m_db->Target()}));
    ASSERT_TRUE(station.WaitForOutput("/dev/b started", OUTPUT_LIMIT_MS)) << station.Output();
    ASSERT_TRUE(m_db->Lock());
    const int exitCode = station.Wait(STATION_LIMIT_MS);
    m_db->Unlock();
    EXPECT_EQ(exitCode, 0) << station.Output();
    const nlohmann::json counts{{"totals", {{"succeeded", 2}}}, {"history", {{"notRecorded", 2}}}};
    EXPECT_EQ(Pick(Summary(), counts), counts);
    ExpectHolds(station.Output(), {"tarnwick-station: history: could not record /dev/",
                                   "tarnwick-station: history: not recorded: /dev/a (board 1, attempt 1), ok",
                                   "2 board attempts could not be recorded; the summary and the run "
                                   "directory hold them"});
    EXPECT_EQ(m_db->Value("SELECT count(*) FROM runs"), "1");
    EXPECT_EQ(m_db->Value("SELECT count(*) FROM boards"), "0");
}

INSTANTIATE_TEST_SUITE_P(BothDatabases, HistoryStationTest, ::testing::Values(Backend::SQLITE, Backend::POSTGRES),
                         BackendName);

}  // namespace

}  // namespace StationHistoryTests
