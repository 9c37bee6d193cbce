// The history in a PostgreSQL database, for a factory of many stations: the
// same tables as the SQLite file, times as timestamptz, the report as json,
// the schema version in a table of its own. Migrations run under an advisory
// lock, so stations starting at once migrate once.
#include <libpq-fe.h>

#include <cstdlib>
#include <memory>

#include "station/history.h"

namespace Station {

namespace {

// Bounds every wait on the server, so a stuck database costs a board's record, never the station.
constexpr const char* CONNECT_TIMEOUT_S = "10";
constexpr const char* SESSION_SETTINGS =
    "SET TIME ZONE 'UTC'; SET lock_timeout = '5s'; SET statement_timeout = '30s'";
// Any number the stations agree on.
constexpr const char* MIGRATION_LOCK = "SELECT pg_advisory_xact_lock(7305871)";
constexpr const char* UTC_TEXT = "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'";

// SQLSTATEs of a wait that ran out: lock_timeout, statement_timeout.
constexpr const char* LOCK_NOT_AVAILABLE = "55P03";
constexpr const char* QUERY_CANCELED = "57014";

const char* const MIGRATIONS[HISTORY_SCHEMA_VERSION] = {
    "CREATE TABLE runs ("
    " id BIGSERIAL PRIMARY KEY,"
    " started_utc TIMESTAMPTZ NOT NULL,"
    " ended_utc TIMESTAMPTZ,"
    " host TEXT NOT NULL,"
    " operation TEXT NOT NULL,"
    " chip_name TEXT,"
    " package_path TEXT,"
    " package_sha256 TEXT,"
    " options JSON NOT NULL,"
    " station_version TEXT NOT NULL);"
    "CREATE TABLE boards ("
    " id BIGSERIAL PRIMARY KEY,"
    " run_id BIGINT NOT NULL REFERENCES runs(id),"
    " port TEXT NOT NULL,"
    " adapter_serial TEXT,"
    " round INTEGER NOT NULL,"
    " attempt INTEGER NOT NULL,"
    " started_utc TIMESTAMPTZ NOT NULL,"
    " seconds DOUBLE PRECISION NOT NULL,"
    " result TEXT NOT NULL CHECK (result IN ('ok', 'failed', 'cancelled')),"
    " exit_code INTEGER NOT NULL,"
    " reason TEXT NOT NULL,"
    " report JSON)",
    "CREATE INDEX boards_port_started ON boards(port, started_utc);"
    "CREATE INDEX boards_run ON boards(run_id)",
};

constexpr const char* RUNS_SHAPE =
    "SELECT id, started_utc, ended_utc, host, operation, chip_name, package_path, package_sha256, options,"
    " station_version FROM runs LIMIT 0";
constexpr const char* BOARDS_SHAPE =
    "SELECT id, run_id, port, adapter_serial, round, attempt, started_utc, seconds, result, exit_code, reason,"
    " report FROM boards LIMIT 0";

struct ResultCloser {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultCloser>;

// The first line of a server or connection message.
std::string FirstLine(const char* message)
{
    std::string text = message != nullptr ? message : "";
    text = text.substr(0, text.find('\n'));
    return text.rfind("ERROR:  ", 0) == 0 ? text.substr(8) : text;
}

class PostgresHistory : public HistoryStore {
public:
    explicit PostgresHistory(std::string uri) : m_uri(std::move(uri)) {}
    ~PostgresHistory() override { PQfinish(m_connection); }

    HistoryStatus Prepare() override;
    HistoryStatus PrepareToRead() override;
    HistoryStatus BeginRun(const HistoryRun& run, int64_t& runId) override;
    HistoryStatus RecordBoard(int64_t runId, const HistoryBoard& board) override;
    HistoryStatus EndRun(int64_t runId, const std::string& endedUtc) override;
    HistoryStatus ListBoards(const HistoryFilter& filter, std::vector<HistoryRow>& rows) override;

private:
    HistoryStatus Connect();
    // A connection lost since the last operation is made again, between
    // transactions only.
    HistoryStatus Reconnect();
    HistoryStatus Check(int& version);
    HistoryStatus Migrate();
    HistoryStatus Execute(const std::string& sql, Result* out = nullptr);
    // Parameters as texts; nullptr is NULL.
    HistoryStatus Run(const char* sql, const std::vector<const char*>& parameters, Result* out = nullptr);

    std::string m_uri;
    PGconn* m_connection = nullptr;
};

HistoryStatus PostgresHistory::Connect()
{
    // Our defaults first: what the URI says overrides them.
    const char* const keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* const values[] = {CONNECT_TIMEOUT_S, "tarnwick-station", m_uri.c_str(), nullptr};
    PQfinish(m_connection);
    m_connection = PQconnectdbParams(keywords, values, 1);
    if (m_connection == nullptr) {
        return {"cannot connect (out of memory)"};
    }
    if (PQstatus(m_connection) != CONNECTION_OK) {
        return {"cannot connect (" + FirstLine(PQerrorMessage(m_connection)) + ")"};
    }
    return Execute(SESSION_SETTINGS);
}

HistoryStatus PostgresHistory::Reconnect()
{
    if (m_connection != nullptr && PQstatus(m_connection) == CONNECTION_OK) {
        return {};
    }
    return Connect();
}

HistoryStatus PostgresHistory::Execute(const std::string& sql, Result* out)
{
    return Run(sql.c_str(), {}, out);
}

HistoryStatus PostgresHistory::Run(const char* sql, const std::vector<const char*>& parameters, Result* out)
{
    Result result(parameters.empty() ? PQexec(m_connection, sql)
                                     : PQexecParams(m_connection, sql, static_cast<int>(parameters.size()), nullptr,
                                                    parameters.data(), nullptr, nullptr, 0));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const std::string message = FirstLine(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(m_connection));
        const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
        const std::string code = state != nullptr ? state : "";
        if (code == LOCK_NOT_AVAILABLE || code == QUERY_CANCELED) {
            return {"it is locked by another program (" + message + ")", true};
        }
        return {message};
    }
    if (out != nullptr) {
        *out = std::move(result);
    }
    return {};
}

HistoryStatus PostgresHistory::Check(int& version)
{
    Result result;
    if (HistoryStatus status = Execute("SELECT to_regclass('tarnwick_schema') IS NOT NULL", &result); !status.Ok()) {
        return status.busy ? status : HistoryStatus{"cannot read it (" + status.error + ")"};
    }
    version = 0;
    if (PQgetvalue(result.get(), 0, 0)[0] == 't') {
        if (HistoryStatus status = Execute("SELECT max(version) FROM tarnwick_schema", &result); !status.Ok()) {
            return status.busy ? status : HistoryStatus{"cannot read its schema version (" + status.error + ")"};
        }
        version = std::atoi(PQgetvalue(result.get(), 0, 0));
    }
    if (version > HISTORY_SCHEMA_VERSION) {
        return {"it was written by a newer tarnwick-station (schema version " + std::to_string(version) +
                "; this one knows up to " + std::to_string(HISTORY_SCHEMA_VERSION) + ")"};
    }
    if (version > 0) {
        for (const char* shape : {RUNS_SHAPE, BOARDS_SHAPE}) {
            if (HistoryStatus status = Execute(shape); !status.Ok()) {
                return status.busy ? status : HistoryStatus{"its tables are not a station history's (" + status.error + ")"};
            }
        }
    }
    return {};
}

HistoryStatus PostgresHistory::Migrate()
{
    int version = 0;
    HistoryStatus status = Execute("BEGIN");
    if (status.Ok()) {
        status = Execute(MIGRATION_LOCK);
    }
    if (status.Ok()) {
        status = Check(version);
    }
    if (status.Ok() && version == 0) {
        status = Execute("CREATE TABLE tarnwick_schema (version INTEGER NOT NULL); INSERT INTO tarnwick_schema VALUES (0)");
    }
    for (int step = version; status.Ok() && step < HISTORY_SCHEMA_VERSION; ++step) {
        status = Execute(MIGRATIONS[step]);
    }
    if (status.Ok()) {
        status = Execute("UPDATE tarnwick_schema SET version = " + std::to_string(HISTORY_SCHEMA_VERSION));
    }
    if (status.Ok()) {
        status = Execute("COMMIT");
    }
    if (!status.Ok()) {
        Execute("ROLLBACK");
    }
    return status;
}

HistoryStatus PostgresHistory::Prepare()
{
    HistoryStatus status = Connect();
    int version = 0;
    if (status.Ok()) {
        status = Check(version);
    }
    if (status.Ok() && version < HISTORY_SCHEMA_VERSION) {
        status = Migrate();
        if (!status.Ok() && !status.busy) {
            status.error = "cannot update its schema (" + status.error + ")";
        }
    }
    return status;
}

HistoryStatus PostgresHistory::PrepareToRead()
{
    HistoryStatus status = Connect();
    int version = 0;
    if (status.Ok()) {
        status = Check(version);
    }
    if (status.Ok() && version == 0) {
        status = {"it holds no station history"};
    }
    return status;
}

const char* OrNull(const std::string& text)
{
    return text.empty() ? nullptr : text.c_str();
}

HistoryStatus PostgresHistory::BeginRun(const HistoryRun& run, int64_t& runId)
{
    Result result;
    HistoryStatus status = Reconnect();
    if (!status.Ok()) {
        return status;
    }
    status = Run(
        "INSERT INTO runs (started_utc, host, operation, chip_name, package_path, package_sha256, options,"
        " station_version) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) RETURNING id",
        {run.startedUtc.c_str(), run.host.c_str(), run.operation.c_str(), OrNull(run.chipName), OrNull(run.packagePath),
         OrNull(run.packageSha256), run.optionsJson.c_str(), run.stationVersion.c_str()},
        &result);
    if (!status.Ok()) {
        return status.busy ? status : HistoryStatus{"cannot record the run (" + status.error + ")"};
    }
    runId = std::atoll(PQgetvalue(result.get(), 0, 0));
    return {};
}

HistoryStatus PostgresHistory::RecordBoard(int64_t runId, const HistoryBoard& board)
{
    const std::string run = std::to_string(runId);
    const std::string round = std::to_string(board.round);
    const std::string attempt = std::to_string(board.attempt);
    const std::string seconds = std::to_string(board.seconds);
    const std::string exitCode = std::to_string(board.exitCode);
    if (HistoryStatus status = Reconnect(); !status.Ok()) {
        return status;
    }
    return Run("INSERT INTO boards (run_id, port, adapter_serial, round, attempt, started_utc, seconds, result,"
               " exit_code, reason, report) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)",
               {run.c_str(), board.port.c_str(), OrNull(board.adapterSerial), round.c_str(), attempt.c_str(),
                board.startedUtc.c_str(), seconds.c_str(), board.result.c_str(), exitCode.c_str(), board.reason.c_str(),
                OrNull(board.reportJson)});
}

HistoryStatus PostgresHistory::EndRun(int64_t runId, const std::string& endedUtc)
{
    const std::string run = std::to_string(runId);
    if (HistoryStatus status = Reconnect(); !status.Ok()) {
        return status;
    }
    return Run("UPDATE runs SET ended_utc = $1 WHERE id = $2", {endedUtc.c_str(), run.c_str()});
}

HistoryStatus PostgresHistory::ListBoards(const HistoryFilter& filter, std::vector<HistoryRow>& rows)
{
    const std::string query = std::string("SELECT r.id, to_char(r.started_utc, ") + UTC_TEXT +
                              "), r.host, r.operation, r.chip_name, r.package_path, r.package_sha256, r.station_version,"
                              " b.port, b.adapter_serial, b.round, b.attempt, to_char(b.started_utc, " +
                              UTC_TEXT +
                              "), b.seconds, b.result, b.exit_code, b.reason FROM boards b JOIN runs r ON r.id = b.run_id"
                              " WHERE ($1 = '' OR b.port = $1) AND ($2 = '' OR b.started_utc >= $2::timestamptz)"
                              " AND ($3 = '0' OR b.result <> 'ok') ORDER BY b.id";
    Result result;
    HistoryStatus status = Reconnect();
    if (!status.Ok()) {
        return status;
    }
    status = Run(query.c_str(), {filter.port.c_str(), filter.since.c_str(), filter.failedOnly ? "1" : "0"}, &result);
    if (!status.Ok()) {
        return status;
    }
    PGresult* r = result.get();
    for (int i = 0; i < PQntuples(r); ++i) {
        HistoryRow row;
        row.runId = std::atoll(PQgetvalue(r, i, 0));
        row.run = {PQgetvalue(r, i, 1), PQgetvalue(r, i, 2), PQgetvalue(r, i, 3), PQgetvalue(r, i, 4),
                   PQgetvalue(r, i, 5), PQgetvalue(r, i, 6), "",                  PQgetvalue(r, i, 7)};
        row.board.port = PQgetvalue(r, i, 8);
        row.board.adapterSerial = PQgetvalue(r, i, 9);
        row.board.round = std::atoi(PQgetvalue(r, i, 10));
        row.board.attempt = std::atoi(PQgetvalue(r, i, 11));
        row.board.startedUtc = PQgetvalue(r, i, 12);
        row.board.seconds = std::atof(PQgetvalue(r, i, 13));
        row.board.result = PQgetvalue(r, i, 14);
        row.board.exitCode = std::atoi(PQgetvalue(r, i, 15));
        row.board.reason = PQgetvalue(r, i, 16);
        rows.push_back(row);
    }
    return {};
}

}  // namespace

std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string& uri)
{
    return std::make_unique<PostgresHistory>(uri);
}

}  // namespace Station
