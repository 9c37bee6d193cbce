// The history itself, the same tests on an SQLite file and on a database of
// a private PostgreSQL server: what a run and its boards leave, the schema
// brought up to date and refused when newer, other programs' tables and
// locks, several stations at once, and the recorder that keeps the station
// free of a failing database.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "station/history.h"
#include "station/history_command.h"
#include "station/history_recorder.h"
#include "support/test_files.h"
#include "test_database.h"

namespace StationHistoryTests {

namespace {

using namespace Station;

HistoryRun ARun(const std::string& started)
{
    return {started, "line-3", "burn", "vb27", "/srv/fw/lot-7.fwpkg", std::string(64, 'c'), R"(["--burn","-n","vb27"])",
            "1.0.0"};
}

HistoryBoard ABoard(const std::string& port, int round, int attempt, const std::string& result,
                    const std::string& started = "2024-05-01T10:00:00Z")
{
    const bool ok = result == "ok";
    return {port, port == "/dev/ttyUSB0" ? "A10K3B7Q" : "", round, attempt, started, 12.5, result, ok ? 0 : 4,
            ok ? "" : "Ack receiving timeout.",
            result == "cancelled" ? "" : R"({"resultCode":0,"images":[{"name":"app.bin"}]})"};
}

class HistoryStoreTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        m_db = std::make_unique<TestDatabase>(GetParam(), m_dir.Path() + "/");
        ASSERT_EQ(m_db->Error(), "");
    }

    std::unique_ptr<HistoryStore> Prepared()
    {
        std::unique_ptr<HistoryStore> store = OpenHistory(m_db->Target());
        const HistoryStatus status = store->Prepare();
        EXPECT_TRUE(status.Ok()) << status.error;
        return store;
    }

    std::vector<HistoryRow> List(const HistoryFilter& filter = {})
    {
        std::unique_ptr<HistoryStore> reader = OpenHistory(m_db->Target());
        EXPECT_TRUE(reader->PrepareToRead().Ok());
        std::vector<HistoryRow> rows;
        const HistoryStatus status = reader->ListBoards(filter, rows);
        EXPECT_TRUE(status.Ok()) << status.error;
        return rows;
    }

    TestSupport::TempDir m_dir{"tarnwick-history"};
    std::unique_ptr<TestDatabase> m_db;
};

// Rows compare as the history command prints them: every field of a board and its run. Since midnight: the
// board started at midnight counts, the one a second before does not; "cancelled" is no success either.
TEST_P(HistoryStoreTest, ANewHistoryGetsTheSchemaKeepsRunsAndBoardsInOrderAndListsThemByPortDateAndFailure)
{
    std::unique_ptr<HistoryStore> store = Prepared();
    EXPECT_EQ(m_db->SchemaVersion(), HISTORY_SCHEMA_VERSION);
    const HistoryRun firstRun = ARun("2024-05-01T09:59:00Z");
    const HistoryRun secondRun = ARun("2024-05-02T08:00:00Z");
    const std::vector<HistoryBoard> firstBoards{ABoard("/dev/ttyUSB0", 1, 1, "failed"),
                                                ABoard("/dev/ttyUSB0", 1, 2, "ok"),
                                                ABoard("/dev/ttyUSB1", 1, 1, "ok", "2024-05-01T23:59:59Z")};
    const HistoryBoard cancelled = ABoard("/dev/ttyUSB0", 2, 1, "cancelled", "2024-05-02T00:00:00Z");
    int64_t first = 0;
    int64_t second = 0;
    ASSERT_TRUE(store->BeginRun(firstRun, first).Ok());
    std::vector<HistoryRow> written;
    for (const HistoryBoard& board : firstBoards) {
        ASSERT_TRUE(store->RecordBoard(first, board).Ok());
        written.push_back({first, firstRun, board});
    }
    ASSERT_TRUE(store->EndRun(first, "2024-05-01T10:01:00Z").Ok());
    ASSERT_TRUE(store->BeginRun(secondRun, second).Ok());
    ASSERT_TRUE(store->RecordBoard(second, cancelled).Ok());
    written.push_back({second, secondRun, cancelled});
    EXPECT_NE(first, second);

    EXPECT_EQ(HistoryCsv(List()), HistoryCsv(written));
    // The tool's report is kept whole; a board without one has none.
    EXPECT_EQ(m_db->Value("SELECT count(*) FROM boards WHERE report IS NULL"), "1");
    const std::vector<std::pair<HistoryFilter, std::vector<std::string>>> rows{
        {{"/dev/ttyUSB0", "", false}, {"failed", "ok", "cancelled"}},
        {{"", "2024-05-02T00:00:00Z", false}, {"cancelled"}},
        {{"", "", true}, {"failed", "cancelled"}},
        {{"/dev/ttyUSB1", "", true}, {}},
    };
    for (const auto& [filter, results] : rows) {
        SCOPED_TRACE(filter.port + " " + filter.since + (filter.failedOnly ? " failed" : ""));
        std::vector<std::string> listed;
        for (const HistoryRow& row : List(filter)) {
            listed.push_back(row.board.result);
        }
        EXPECT_EQ(listed, results);
    }
}

TEST_P(HistoryStoreTest, AnOlderSchemaIsBroughtUpToDateKeepingItsRowsAndANewerOneIsRefusedAndLeftAsItIs)
{
    {
        std::unique_ptr<HistoryStore> store = Prepared();
        int64_t run = 0;
        ASSERT_TRUE(store->BeginRun(ARun("2024-05-01T09:59:00Z"), run).Ok());
        ASSERT_TRUE(store->RecordBoard(run, ABoard("/dev/ttyUSB0", 1, 1, "ok")).Ok());
    }
    // As a station of schema version 1 left it: the tables, not yet the indexes.
    ASSERT_TRUE(m_db->Execute("DROP INDEX boards_port_started; DROP INDEX boards_run"));
    ASSERT_TRUE(m_db->SetSchemaVersion(1));
    Prepared();
    EXPECT_EQ(m_db->SchemaVersion(), HISTORY_SCHEMA_VERSION);
    EXPECT_EQ(List().size(), 1u);
    // Indexes are there again: dropping one succeeds.
    EXPECT_TRUE(m_db->Execute("DROP INDEX boards_port_started"));

    ASSERT_TRUE(m_db->SetSchemaVersion(HISTORY_SCHEMA_VERSION + 7));
    const HistoryStatus status = OpenHistory(m_db->Target())->Prepare();
    EXPECT_NE(status.error.find("newer tarnwick-station (schema version 9; this one knows up to 2)"), std::string::npos)
        << status.error;
    EXPECT_EQ(m_db->SchemaVersion(), HISTORY_SCHEMA_VERSION + 7);
    EXPECT_FALSE(OpenHistory(m_db->Target())->PrepareToRead().Ok());
}

// Refusing to start on a damaged or missing history is checked on the station itself (HistoryStationTest).
TEST_P(HistoryStoreTest, TablesOfAnotherProgramAreRefusedUntouchedAndNoHistoryIsReadWhereThereIsNone)
{
    // A history that was never written, or is damaged, is no history to read either.
    EXPECT_FALSE(OpenHistory(m_db->Target())->PrepareToRead().Ok());
    EXPECT_FALSE(OpenHistory(m_db->DamagedTarget())->PrepareToRead().Ok());
    // Damaged is not busy: a busy status passes the raw error on instead of naming the damage.
    EXPECT_FALSE(OpenHistory(m_db->DamagedTarget())->Prepare().busy);
    ASSERT_TRUE(m_db->Execute("CREATE TABLE runs (serial TEXT); INSERT INTO runs VALUES ('kept')"));
    const HistoryStatus status = OpenHistory(m_db->Target())->Prepare();
    EXPECT_NE(status.error.find("runs"), std::string::npos) << status.error;
    EXPECT_EQ(m_db->Value("SELECT serial FROM runs"), "kept");
    EXPECT_EQ(m_db->Value("SELECT count(*) FROM boards"), "");  // no half-made schema left behind
}

TEST_P(HistoryStoreTest, StationsSharingOneHistoryWaitForEachOtherAndLoseNothing)
{
    constexpr int RECORDS = 40;
    Prepared();
    std::atomic<int> failures{0};
    auto station = [this, &failures](const std::string& port) {
        std::unique_ptr<HistoryStore> store = OpenHistory(m_db->Target());
        int64_t run = 0;
        if (!store->Prepare().Ok() || !store->BeginRun(ARun("2024-05-01T09:59:00Z"), run).Ok()) {
            ++failures;
            return;
        }
        for (int i = 1; i <= RECORDS; ++i) {
            failures += store->RecordBoard(run, ABoard(port, i, 1, "ok")).Ok() ? 0 : 1;
        }
    };
    std::thread left(station, "/dev/ttyUSB0");
    std::thread right(station, "/dev/ttyUSB1");
    left.join();
    right.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(List().size(), 2u * RECORDS);
    EXPECT_EQ(m_db->Value("SELECT count(*) FROM runs"), "2");
}

TEST_P(HistoryStoreTest, TheRecorderRecordsWhatFailedInOrderOnceTheDatabaseTakesRecordsAgain)
{
    std::unique_ptr<HistoryStore> store = Prepared();
    int64_t run = 0;
    ASSERT_TRUE(store->BeginRun(ARun("2024-05-01T09:59:00Z"), run).Ok());
    std::atomic<int> wakes{0};
    HistoryRecorder recorder(std::move(store), run, [&wakes] { ++wakes; });
    ASSERT_TRUE(m_db->Lock());
    recorder.Record(ABoard("/dev/ttyUSB0", 1, 1, "ok"));
    recorder.Record(ABoard("/dev/ttyUSB1", 1, 1, "failed"));
    // The first record fails after the database's wait; the recorder says so.
    std::vector<std::string> notices;
    for (int i = 0; i < 400 && notices.empty(); ++i) {
        notices = recorder.TakeNotices();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("could not record /dev/ttyUSB0 (board 1, attempt 1)"), std::string::npos) << notices[0];
    EXPECT_GT(wakes, 0);
    m_db->Unlock();
    recorder.Record(ABoard("/dev/ttyUSB2", 1, 1, "ok"));
    const HistoryOutcome outcome = recorder.Finish("2024-05-01T10:30:00Z", 30.0);
    EXPECT_EQ(outcome.missing, 0u);
    EXPECT_EQ(outcome.recorded, 3u);
    EXPECT_GT(outcome.maxRecordSeconds, 0.0);
    std::vector<std::string> ports;
    for (const HistoryRow& row : List()) {
        ports.push_back(row.board.port);
    }
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"}));
}

INSTANTIATE_TEST_SUITE_P(BothDatabases, HistoryStoreTest, ::testing::Values(Backend::SQLITE, Backend::POSTGRES),
                         BackendName);

}  // namespace

}  // namespace StationHistoryTests
