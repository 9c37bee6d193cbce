// The run history (--history): one row per station run in `runs`, one row
// per board attempt in `boards`, in an SQLite file or a PostgreSQL database
// of the same schema. The schema's version lives in the database; an older
// one is brought up to date, a newer one is refused.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Station {

// 1: the tables; 2: indexes for the per-port and per-run queries.
constexpr int HISTORY_SCHEMA_VERSION = 2;

// A failure is its text; empty is success.
struct HistoryStatus {
    std::string error;
    bool busy = false;  // another program holds the database: a wait ran out
    bool Ok() const { return error.empty(); }
};

struct HistoryRun {
    std::string startedUtc;  // YYYY-MM-DDTHH:MM:SSZ
    std::string host;
    std::string operation;  // burn, erase, read
    std::string chipName;
    std::string packagePath;
    std::string packageSha256;
    std::string optionsJson;  // the station's command line as a JSON array
    std::string stationVersion;
};

struct HistoryBoard {
    std::string port;
    std::string adapterSerial;
    int round = 1;
    int attempt = 1;
    std::string startedUtc;
    double seconds = 0.0;
    std::string result;  // ok, failed, cancelled
    int exitCode = 0;
    std::string reason;
    std::string reportJson;  // the tool's run report, empty when it wrote none
};

struct HistoryFilter {
    std::string port;
    std::string since;  // YYYY-MM-DDTHH:MM:SSZ, empty: all
    bool failedOnly = false;
};

// One board attempt with the run it belongs to.
struct HistoryRow {
    int64_t runId = 0;
    HistoryRun run;
    HistoryBoard board;
};

class HistoryStore {
public:
    virtual ~HistoryStore() = default;
    // For writing: opens, checks and brings the schema up to date.
    virtual HistoryStatus Prepare() = 0;
    // For reading: opens and checks, changing nothing.
    virtual HistoryStatus PrepareToRead() = 0;
    virtual HistoryStatus BeginRun(const HistoryRun& run, int64_t& runId) = 0;
    // One transaction per board attempt.
    virtual HistoryStatus RecordBoard(int64_t runId, const HistoryBoard& board) = 0;
    virtual HistoryStatus EndRun(int64_t runId, const std::string& endedUtc) = 0;
    // Oldest first.
    virtual HistoryStatus ListBoards(const HistoryFilter& filter, std::vector<HistoryRow>& rows) = 0;
};

// postgresql:// and postgres:// URIs go to PostgreSQL, anything else is an SQLite file.
bool IsPostgresTarget(const std::string& target);
std::unique_ptr<HistoryStore> OpenSqliteHistory(const std::string& path);
std::unique_ptr<HistoryStore> OpenPostgresHistory(const std::string& uri);
std::unique_ptr<HistoryStore> OpenHistory(const std::string& target);

// "history WHERE: WHAT", the database named without its password.
std::string HistoryProblem(const std::string& target, const std::string& what);
// A postgresql:// URI with its password taken out; anything else as it is.
std::string WithoutPassword(const std::string& target);

}  // namespace Station
