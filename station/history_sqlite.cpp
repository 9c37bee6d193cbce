// The history in an SQLite file: WAL, so stations sharing the file read while
// one writes; a busy time-out, so they wait for each other's short writes;
// the schema version in PRAGMA user_version.
#include <sqlite3.h>

#include <cstdio>
#include <memory>

#include "platform/file_access.h"
#include "station/history.h"

namespace Station {

namespace {

// How long a write waits for another station's transaction.
constexpr int BUSY_TIMEOUT_MS = 5000;

// Step N brings a database of version N-1 to version N.
const char* const MIGRATIONS[HISTORY_SCHEMA_VERSION] = {
    "CREATE TABLE runs ("
    " id INTEGER PRIMARY KEY,"
    " started_utc TEXT NOT NULL,"
    " ended_utc TEXT,"
    " host TEXT NOT NULL,"
    " operation TEXT NOT NULL,"
    " chip_name TEXT,"
    " package_path TEXT,"
    " package_sha256 TEXT,"
    " options TEXT NOT NULL,"
    " station_version TEXT NOT NULL);"
    "CREATE TABLE boards ("
    " id INTEGER PRIMARY KEY,"
    " run_id INTEGER NOT NULL REFERENCES runs(id),"
    " port TEXT NOT NULL,"
    " adapter_serial TEXT,"
    " round INTEGER NOT NULL,"
    " attempt INTEGER NOT NULL,"
    " started_utc TEXT NOT NULL,"
    " seconds REAL NOT NULL,"
    " result TEXT NOT NULL CHECK (result IN ('ok', 'failed', 'cancelled')),"
    " exit_code INTEGER NOT NULL,"
    " reason TEXT NOT NULL,"
    " report TEXT);",
    "CREATE INDEX boards_port_started ON boards(port, started_utc);"
    "CREATE INDEX boards_run ON boards(run_id);",
};

// Reading these proves the tables are a station history's.
constexpr const char* RUNS_SHAPE =
    "SELECT id, started_utc, ended_utc, host, operation, chip_name, package_path, package_sha256, options,"
    " station_version FROM runs LIMIT 0";
constexpr const char* BOARDS_SHAPE =
    "SELECT id, run_id, port, adapter_serial, round, attempt, started_utc, seconds, result, exit_code, reason,"
    " report FROM boards LIMIT 0";

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

class SqliteHistory : public HistoryStore {
public:
    explicit SqliteHistory(std::string path) : m_path(std::move(path)) {}
    ~SqliteHistory() override { sqlite3_close_v2(m_db); }

    HistoryStatus Prepare() override;
    HistoryStatus PrepareToRead() override;
    HistoryStatus BeginRun(const HistoryRun& run, int64_t& runId) override;
    HistoryStatus RecordBoard(int64_t runId, const HistoryBoard& board) override;
    HistoryStatus EndRun(int64_t runId, const std::string& endedUtc) override;
    HistoryStatus ListBoards(const HistoryFilter& filter, std::vector<HistoryRow>& rows) override;

private:
    HistoryStatus Open(int flags);
    HistoryStatus Check(int& version);
    HistoryStatus Migrate();
    HistoryStatus Execute(const char* sql);
    HistoryStatus Compile(const char* sql, Statement& statement);
    HistoryStatus Failure(const std::string& what) const;
    void Bind(sqlite3_stmt* statement, int index, const std::string& text, bool nullWhenEmpty = false);
    HistoryStatus Finish(sqlite3_stmt* statement, const std::string& what);

    std::string m_path;
    sqlite3* m_db = nullptr;
};

HistoryStatus SqliteHistory::Failure(const std::string& what) const
{
    const int code = sqlite3_extended_errcode(m_db) & 0xFF;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
        return {std::string("it is locked by another program (") + sqlite3_errmsg(m_db) + ")", true};
    }
    return {what + " (" + sqlite3_errmsg(m_db) + ")"};
}

HistoryStatus SqliteHistory::Open(int flags)
{
    if (sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        return m_db != nullptr ? Failure("cannot open it") : HistoryStatus{"cannot open it (out of memory)"};
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, BUSY_TIMEOUT_MS);
    return {};
}

HistoryStatus SqliteHistory::Execute(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? HistoryStatus{} : Failure(sql);
}

HistoryStatus SqliteHistory::Compile(const char* sql, Statement& statement)
{
    sqlite3_stmt* raw = nullptr;
    const int code = sqlite3_prepare_v2(m_db, sql, -1, &raw, nullptr);
    statement.reset(raw);
    return code == SQLITE_OK ? HistoryStatus{} : Failure("cannot read it");
}

HistoryStatus SqliteHistory::Check(int& version)
{
    Statement statement;
    if (HistoryStatus status = Compile("PRAGMA user_version", statement); !status.Ok()) {
        return status.busy ? status : HistoryStatus{"it is not a station history: " + status.error};
    }
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        return Failure("it is not a station history: cannot read its schema version");
    }
    version = sqlite3_column_int(statement.get(), 0);
    if (version > HISTORY_SCHEMA_VERSION) {
        return {"it was written by a newer tarnwick-station (schema version " + std::to_string(version) +
                "; this one knows up to " + std::to_string(HISTORY_SCHEMA_VERSION) + ")"};
    }
    if (HistoryStatus status = Execute("SELECT count(*) FROM sqlite_master"); !status.Ok()) {
        return status.busy ? status : HistoryStatus{"it is damaged: " + status.error};
    }
    if (version > 0) {
        for (const char* shape : {RUNS_SHAPE, BOARDS_SHAPE}) {
            Statement probe;
            if (HistoryStatus status = Compile(shape, probe); !status.Ok()) {
                return status.busy ? status : HistoryStatus{"its tables are not a station history's: " + status.error};
            }
        }
    }
    return {};
}

HistoryStatus SqliteHistory::Migrate()
{
    if (HistoryStatus status = Execute("BEGIN IMMEDIATE"); !status.Ok()) {
        return status.busy ? status : HistoryStatus{"cannot update its schema: " + status.error};
    }
    // Another station may have done it while this one waited.
    int version = 0;
    HistoryStatus status = Check(version);
    for (int step = version; status.Ok() && step < HISTORY_SCHEMA_VERSION; ++step) {
        status = Execute(MIGRATIONS[step]);
    }
    if (status.Ok()) {
        status = Execute(("PRAGMA user_version = " + std::to_string(HISTORY_SCHEMA_VERSION)).c_str());
    }
    if (status.Ok()) {
        status = Execute("COMMIT");
    }
    if (!status.Ok()) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return status.busy ? status : HistoryStatus{"cannot update its schema: " + status.error};
    }
    return {};
}

HistoryStatus SqliteHistory::Prepare()
{
    int version = 0;
    HistoryStatus status = Open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
    if (status.Ok()) {
        status = Check(version);
    }
    if (status.Ok() && sqlite3_db_readonly(m_db, "main") == 1) {
        return {"it is read-only"};
    }
    // A read-only file in WAL mode may not even open: name the cause, not the symptom.
    if (!status.Ok() && !status.busy && Platform::PathExists(m_path)) {
        FILE* probe = Platform::OpenFile(m_path, "r+b");
        if (probe == nullptr) {
            status = {"it is read-only (" + status.error + ")"};
        } else {
            std::fclose(probe);
        }
    }
    if (status.Ok()) {
        status = Execute("PRAGMA journal_mode = WAL");
    }
    if (status.Ok()) {
        status = Execute("PRAGMA foreign_keys = ON");
    }
    if (status.Ok() && version < HISTORY_SCHEMA_VERSION) {
        status = Migrate();
    }
    return status;
}

HistoryStatus SqliteHistory::PrepareToRead()
{
    int version = 0;
    HistoryStatus status = Open(SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX);
    if (status.Ok()) {
        status = Check(version);
    }
    if (status.Ok() && version == 0) {
        status = {"it holds no station history"};
    }
    return status;
}

void SqliteHistory::Bind(sqlite3_stmt* statement, int index, const std::string& text, bool nullWhenEmpty)
{
    if (nullWhenEmpty && text.empty()) {
        sqlite3_bind_null(statement, index);
    } else {
        sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
}

HistoryStatus SqliteHistory::Finish(sqlite3_stmt* statement, const std::string& what)
{
    return sqlite3_step(statement) == SQLITE_DONE ? HistoryStatus{} : Failure(what);
}

HistoryStatus SqliteHistory::BeginRun(const HistoryRun& run, int64_t& runId)
{
    Statement statement;
    HistoryStatus status = Compile(
        "INSERT INTO runs (started_utc, host, operation, chip_name, package_path, package_sha256, options,"
        " station_version) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
        statement);
    if (!status.Ok()) {
        return status;
    }
    sqlite3_stmt* s = statement.get();
    Bind(s, 1, run.startedUtc);
    Bind(s, 2, run.host);
    Bind(s, 3, run.operation);
    Bind(s, 4, run.chipName, true);
    Bind(s, 5, run.packagePath, true);
    Bind(s, 6, run.packageSha256, true);
    Bind(s, 7, run.optionsJson);
    Bind(s, 8, run.stationVersion);
    status = Finish(s, "cannot record the run");
    runId = sqlite3_last_insert_rowid(m_db);
    return status;
}

HistoryStatus SqliteHistory::RecordBoard(int64_t runId, const HistoryBoard& board)
{
    Statement statement;
    HistoryStatus status = Compile(
        "INSERT INTO boards (run_id, port, adapter_serial, round, attempt, started_utc, seconds, result,"
        " exit_code, reason, report) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        statement);
    if (!status.Ok()) {
        return status;
    }
    sqlite3_stmt* s = statement.get();
    sqlite3_bind_int64(s, 1, runId);
    Bind(s, 2, board.port);
    Bind(s, 3, board.adapterSerial, true);
    sqlite3_bind_int(s, 4, board.round);
    sqlite3_bind_int(s, 5, board.attempt);
    Bind(s, 6, board.startedUtc);
    sqlite3_bind_double(s, 7, board.seconds);
    Bind(s, 8, board.result);
    sqlite3_bind_int(s, 9, board.exitCode);
    Bind(s, 10, board.reason);
    Bind(s, 11, board.reportJson, true);
    return Finish(s, "cannot record the board");
}

HistoryStatus SqliteHistory::EndRun(int64_t runId, const std::string& endedUtc)
{
    Statement statement;
    HistoryStatus status = Compile("UPDATE runs SET ended_utc = ? WHERE id = ?", statement);
    if (!status.Ok()) {
        return status;
    }
    Bind(statement.get(), 1, endedUtc);
    sqlite3_bind_int64(statement.get(), 2, runId);
    return Finish(statement.get(), "cannot record the end of the run");
}

std::string Text(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

HistoryStatus SqliteHistory::ListBoards(const HistoryFilter& filter, std::vector<HistoryRow>& rows)
{
    Statement statement;
    HistoryStatus status = Compile(
        "SELECT r.id, r.started_utc, r.host, r.operation, r.chip_name, r.package_path, r.package_sha256,"
        " r.station_version, b.port, b.adapter_serial, b.round, b.attempt, b.started_utc, b.seconds, b.result,"
        " b.exit_code, b.reason FROM boards b JOIN runs r ON r.id = b.run_id"
        " WHERE (?1 = '' OR b.port = ?1) AND (?2 = '' OR b.started_utc >= ?2) AND (?3 = 0 OR b.result <> 'ok')"
        " ORDER BY b.id",
        statement);
    if (!status.Ok()) {
        return status;
    }
    sqlite3_stmt* s = statement.get();
    Bind(s, 1, filter.port);
    Bind(s, 2, filter.since);
    sqlite3_bind_int(s, 3, filter.failedOnly ? 1 : 0);
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(s)) == SQLITE_ROW) {
        HistoryRow row;
        row.runId = sqlite3_column_int64(s, 0);
        row.run = {Text(s, 1), Text(s, 2), Text(s, 3), Text(s, 4), Text(s, 5), Text(s, 6), "", Text(s, 7)};
        row.board.port = Text(s, 8);
        row.board.adapterSerial = Text(s, 9);
        row.board.round = sqlite3_column_int(s, 10);
        row.board.attempt = sqlite3_column_int(s, 11);
        row.board.startedUtc = Text(s, 12);
        row.board.seconds = sqlite3_column_double(s, 13);
        row.board.result = Text(s, 14);
        row.board.exitCode = sqlite3_column_int(s, 15);
        row.board.reason = Text(s, 16);
        rows.push_back(row);
    }
    return code == SQLITE_DONE ? HistoryStatus{} : Failure("cannot read the boards");
}

}  // namespace

std::unique_ptr<HistoryStore> OpenSqliteHistory(const std::string& path)
{
    return std::make_unique<SqliteHistory>(path);
}

}  // namespace Station
