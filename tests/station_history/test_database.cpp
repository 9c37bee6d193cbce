#include "test_database.h"

#include <glob.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/child_process.h"
#include "support/test_files.h"

namespace StationHistoryTests {

namespace {

constexpr const char* SUPERUSER = "tarnwick";
constexpr const char* RUN_AS = "nobody";
constexpr const char* RUNUSER = "/usr/sbin/runuser";
constexpr uid_t NOBODY_ID = 65534;
constexpr int COMMAND_LIMIT_MS = 120000;

// The newest installed server: /usr/lib/postgresql/<version>/bin.
std::string ServerBin()
{
    glob_t found = {};
    std::string bin;
    if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
        bin = std::filesystem::path(found.gl_pathv[found.gl_pathc - 1]).parent_path().string();
    }
    globfree(&found);
    return bin;
}

// A private PostgreSQL server: Debian's server binaries, a cluster in a
// temporary directory, listening on a Unix socket there and nowhere else, run
// as an unprivileged user when the tests run as root. Started on first use,
// once per test process; stopped at its end.
class PostgresCluster {
public:
    static PostgresCluster& Shared();

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    // A new, empty database; its URI.
    std::string NewDatabase();
    std::string Uri(const std::string& database) const
    {
        return "postgresql:///" + database + "?host=" + m_dir + "&user=" + SUPERUSER;
    }
    void Stop();

private:
    PostgresCluster();
    bool Run(const std::vector<std::string>& command, const std::string& what);

    std::string m_bin;  // the server's bin directory
    std::string m_dir;  // cluster, socket and logs
    bool m_running = false;
    int m_databases = 0;
    std::string m_error;
};

PostgresCluster* g_cluster = nullptr;

// Stops the server at the end of the test program, when one was started.
class StopAtEnd : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (g_cluster != nullptr) {
            g_cluster->Stop();
        }
    }
};

::testing::Environment* const g_stopAtEnd = ::testing::AddGlobalTestEnvironment(new StopAtEnd);


PostgresCluster& PostgresCluster::Shared()
{
    if (g_cluster == nullptr) {
        g_cluster = new PostgresCluster;
    }
    return *g_cluster;
}

bool PostgresCluster::Run(const std::vector<std::string>& command, const std::string& what)
{
    std::vector<std::string> args;
    std::string program = command.front();
    // The server refuses to run as root.
    if (geteuid() == 0) {
        args = {"-u", RUN_AS, "--"};
        args.insert(args.end(), command.begin(), command.end());
        program = RUNUSER;
    } else {
        args.assign(command.begin() + 1, command.end());
    }
    const TestSupport::RunResult result = TestSupport::RunProgram(program, args, COMMAND_LIMIT_MS);
    if (result.exitCode != 0) {
        m_error = what + " failed: " + result.output;
        return false;
    }
    return true;
}

PostgresCluster::PostgresCluster()
{
    m_bin = ServerBin();
    if (m_bin.empty()) {
        m_error = "no PostgreSQL server in /usr/lib/postgresql (the postgresql package; scripts/test installs it)";
        return;
    }
    char pattern[] = "/tmp/tarnwick-pg-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        m_error = "no temporary directory";
        return;
    }
    m_dir = pattern;
    if (geteuid() == 0 && chown(m_dir.c_str(), NOBODY_ID, NOBODY_ID) != 0) {
        m_error = "cannot hand " + m_dir + " to " + RUN_AS;
        return;
    }
    const std::string data = m_dir + "/data";
    if (!Run({m_bin + "/initdb", "-D", data, "-U", SUPERUSER, "--auth=trust", "-E", "UTF8", "--no-locale", "--no-sync"},
             "initdb")) {
        return;
    }
    // A Unix socket in the cluster's directory, no TCP at all; speed over durability.
    const std::string settings = "-c listen_addresses='' -c unix_socket_directories='" + m_dir +
                                 "' -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
    m_running = Run({m_bin + "/pg_ctl", "-D", data, "-l", m_dir + "/server.log", "-w", "-t", "60", "-o", settings, "start"},
                    "pg_ctl start");
}

void PostgresCluster::Stop()
{
    if (m_running) {
        Run({m_bin + "/pg_ctl", "-D", m_dir + "/data", "-m", "fast", "-w", "stop"}, "pg_ctl stop");
        m_running = false;
    }
    if (!m_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
        m_dir.clear();
    }
}

std::string PostgresCluster::NewDatabase()
{
    const std::string name = "history_" + std::to_string(++m_databases);
    PGconn* connection = PQconnectdb(Uri("postgres").c_str());
    PGresult* result = PQexec(connection, ("CREATE DATABASE " + name).c_str());
    const bool made = PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!made) {
        m_error = PQerrorMessage(connection);
    }
    PQclear(result);
    PQfinish(connection);
    return made ? Uri(name) : "";
}

constexpr int BUSY_MS = 10000;

class SqliteDatabase : public TestDatabase {
public:
    explicit SqliteDatabase(const std::string& dir) : m_dir(dir), m_path(dir + "history.db") {}
    ~SqliteDatabase() override
    {
        Unlock();
        sqlite3_close_v2(m_db);
    }

    bool Ok() const override { return true; }
    std::string Error() const override { return m_db != nullptr ? sqlite3_errmsg(m_db) : ""; }
    std::string Target() const override { return m_path; }

    bool Open()
    {
        if (m_db == nullptr && sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) ==
                                    SQLITE_OK) {
            sqlite3_busy_timeout(m_db, BUSY_MS);
        }
        return m_db != nullptr;
    }

    std::string Value(const std::string& sql) override
    {
        std::string value;
        sqlite3_stmt* statement = nullptr;
        if (Open() && sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr) {
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
        return value;
    }

    bool Execute(const std::string& sql) override
    {
        return Open() && sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    bool Lock() override
    {
        if (sqlite3_open_v2(m_path.c_str(), &m_holder, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            return false;
        }
        // A write transaction kept open: every other writer waits, then gives up.
        return sqlite3_exec(m_holder, "BEGIN IMMEDIATE; INSERT INTO runs (started_utc, host, operation, options,"
                                      " station_version) VALUES ('x', 'x', 'x', '[]', 'x')",
                            nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    void Unlock() override
    {
        if (m_holder != nullptr) {
            sqlite3_exec(m_holder, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close_v2(m_holder);
            m_holder = nullptr;
        }
    }

    int SchemaVersion() override { return std::atoi(Value("PRAGMA user_version").c_str()); }
    bool SetSchemaVersion(int version) override { return Execute("PRAGMA user_version = " + std::to_string(version)); }

    std::string ReadOnlyTarget() override
    {
        // A file nobody may write, in a directory nobody may write (where the WAL would go).
        if (m_db != nullptr) {
            sqlite3_exec(m_db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        }
        const std::string dir = m_dir + "read-only/";
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(m_path, dir + "history.db");
        chmod((dir + "history.db").c_str(), 0444);
        chmod(dir.c_str(), 0555);
        return dir + "history.db";
    }

    bool RunsAsNobody() const override { return geteuid() == 0; }

    std::string DamagedTarget() override
    {
        const std::string path = m_dir + "damaged.db";
        TestSupport::WriteText(path, std::string(4096, 'x'));
        return path;
    }

private:
    std::string m_dir;
    std::string m_path;
    sqlite3* m_db = nullptr;
    sqlite3* m_holder = nullptr;
};

class PostgresDatabase : public TestDatabase {
public:
    PostgresDatabase() : m_cluster(PostgresCluster::Shared())
    {
        if (m_cluster.Ok()) {
            m_uri = m_cluster.NewDatabase();
        }
    }
    ~PostgresDatabase() override
    {
        Unlock();
        PQfinish(m_connection);
    }

    bool Ok() const override { return m_cluster.Ok() && !m_uri.empty(); }
    std::string Error() const override
    {
        return !m_cluster.Ok() ? m_cluster.Error() : m_connection != nullptr ? PQerrorMessage(m_connection) : "";
    }
    std::string Target() const override { return m_uri; }

    std::string Value(const std::string& sql) override
    {
        std::string value;
        PGresult* result = Exec(m_connection, sql);
        if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0) {
            value = PQgetvalue(result, 0, 0);
        }
        PQclear(result);
        return value;
    }

    bool Execute(const std::string& sql) override { return Execute(m_connection, sql); }

    bool Lock() override
    {
        return Execute(m_holder, "BEGIN; LOCK TABLE runs, boards IN ACCESS EXCLUSIVE MODE");
    }

    void Unlock() override
    {
        if (m_holder != nullptr) {
            Execute(m_holder, "ROLLBACK");
            PQfinish(m_holder);
            m_holder = nullptr;
        }
    }

    int SchemaVersion() override { return std::atoi(Value("SELECT max(version) FROM tarnwick_schema").c_str()); }
    bool SetSchemaVersion(int version) override
    {
        return Execute("UPDATE tarnwick_schema SET version = " + std::to_string(version));
    }

    std::string ReadOnlyTarget() override
    {
        return m_uri + "&options=-c%20default_transaction_read_only%3Don";
    }
    bool RunsAsNobody() const override { return false; }
    std::string DamagedTarget() override { return m_cluster.Uri("no_such_history"); }

private:
    // Runs sql on connection, connecting first when it is not yet.
    PGresult* Exec(PGconn*& connection, const std::string& sql)
    {
        if (connection == nullptr) {
            connection = PQconnectdb(m_uri.c_str());
        }
        return PQexec(connection, sql.c_str());
    }

    bool Execute(PGconn*& connection, const std::string& sql)
    {
        PGresult* result = Exec(connection, sql);
        const ExecStatusType status = PQresultStatus(result);
        PQclear(result);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }

    PostgresCluster& m_cluster;
    std::string m_uri;
    PGconn* m_connection = nullptr;
    PGconn* m_holder = nullptr;
};

}  // namespace

std::string BackendName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::SQLITE ? "Sqlite" : "Postgres";
}

std::unique_ptr<TestDatabase> TestDatabase::Make(Backend backend, const std::string& dir)
{
    if (backend == Backend::SQLITE) {
        return std::make_unique<SqliteDatabase>(dir);
    }
    return std::make_unique<PostgresDatabase>();
}

}  // namespace StationHistoryTests
