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
constexpr uid_t NOBODY_ID = 65534;

// A private PostgreSQL server: Debian's newest server binaries, a cluster in a
// temporary directory listening on a Unix socket there and nowhere else, run
// as user nobody when the tests run as root (the server refuses root).
// Started on first use, once per test process; stopped at its end.
class PostgresCluster : public ::testing::Environment {
public:
    // Why the server is not running; "" when it is.
    const std::string& Start()
    {
        if (m_temp) {
            return m_error;
        }
        m_temp.emplace("tarnwick-pg");
        const std::string& dir = m_temp->Path();
        if (!m_temp->Ok() || (geteuid() == 0 && chown(dir.c_str(), NOBODY_ID, NOBODY_ID) != 0)) {
            return m_error = "no temporary directory for user nobody: " + dir;
        }
        m_error = Run({"initdb", "-D", m_temp->File("data"), "-U", SUPERUSER, "--auth=trust", "-E", "UTF8",
                       "--no-locale", "--no-sync"});
        if (m_error.empty()) {
            // No TCP at all; speed over durability.
            const std::string settings = "-c listen_addresses='' -c unix_socket_directories='" + dir +
                                         "' -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
            m_error = Run({"pg_ctl", "-D", m_temp->File("data"), "-l", m_temp->File("server.log"), "-w", "-t", "60",
                           "-o", settings, "start"});
        }
        return m_error;
    }
    std::string Uri(const std::string& database) const
    {
        return "postgresql:///" + database + "?host=" + m_temp->Path() + "&user=" + SUPERUSER;
    }
    void TearDown() override
    {
        if (m_temp && m_error.empty()) {
            Run({"pg_ctl", "-D", m_temp->File("data"), "-m", "fast", "-w", "stop"});
        }
        m_temp.reset();
    }

private:
    // Runs a server program as a user the server accepts; "" or what went wrong.
    static std::string Run(std::vector<std::string> command)
    {
        glob_t found = {};
        if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) != 0) {
            globfree(&found);
            return "no PostgreSQL server in /usr/lib/postgresql (the postgresql package; scripts/test installs it)";
        }
        const std::filesystem::path newest = found.gl_pathv[found.gl_pathc - 1];
        command.front() = (newest.parent_path() / command.front()).string();
        globfree(&found);
        if (geteuid() == 0) {
            command.insert(command.begin(), {"/usr/sbin/runuser", "-u", "nobody", "--"});
        }
        const TestSupport::RunResult result =
            TestSupport::RunProgram(command.front(), {command.begin() + 1, command.end()}, 120000);
        return result.exitCode == 0 ? "" : command.front() + " failed: " + result.output;
    }

    std::optional<TestSupport::TempDir> m_temp;  // cluster, socket and logs
    std::string m_error;
};

PostgresCluster* const g_cluster =
    static_cast<PostgresCluster*>(::testing::AddGlobalTestEnvironment(new PostgresCluster));

}  // namespace

// An SQLite file or a PostgreSQL database, by its backend.
class Connection {
public:
    Connection(Backend backend, const std::string& target)
    {
        constexpr int BUSY_MS = 10000;
        if (backend == Backend::POSTGRES) {
            m_pg = PQconnectdb(target.c_str());
        } else {
            sqlite3_open_v2(target.c_str(), &m_sqlite, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
            sqlite3_busy_timeout(m_sqlite, BUSY_MS);
        }
    }
    ~Connection()
    {
        sqlite3_close_v2(m_sqlite);
        PQfinish(m_pg);
    }

    // The first value of the first row of what sql gives ("" for none); nothing when it fails.
    std::optional<std::string> Run(const std::string& sql)
    {
        std::string value;
        if (m_pg == nullptr) {
            // Keeps the first value; the queries of the tests give one row.
            auto first = [](void* into, int columns, char** values, char**) {
                std::string& kept = *static_cast<std::string*>(into);
                if (kept.empty() && columns > 0 && values[0] != nullptr) {
                    kept = values[0];
                }
                return 0;
            };
            const bool ran = sqlite3_exec(m_sqlite, sql.c_str(), first, &value, nullptr) == SQLITE_OK;
            return ran ? std::optional(value) : std::nullopt;
        }
        PGresult* result = PQexec(m_pg, sql.c_str());
        const ExecStatusType status = PQresultStatus(result);
        value = status == PGRES_TUPLES_OK && PQntuples(result) > 0 ? PQgetvalue(result, 0, 0) : "";
        PQclear(result);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? std::optional(value) : std::nullopt;
    }
    std::string Error() const { return PQerrorMessage(m_pg); }

private:
    sqlite3* m_sqlite = nullptr;
    PGconn* m_pg = nullptr;
};

std::string BackendName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::SQLITE ? "Sqlite" : "Postgres";
}

TestDatabase::TestDatabase(Backend backend, const std::string& dir) : m_backend(backend), m_dir(dir)
{
    static int databases = 0;
    if (backend == Backend::SQLITE) {
        m_target = dir + "history.db";
    } else if ((m_error = g_cluster->Start()).empty()) {
        const std::string name = "history_" + std::to_string(++databases);
        Connection server(Backend::POSTGRES, g_cluster->Uri("postgres"));
        m_target = g_cluster->Uri(name);
        m_error = server.Run("CREATE DATABASE " + name) ? "" : server.Error();
    }
}

// Closing the holder's connection ends its transaction.
TestDatabase::~TestDatabase() = default;

std::optional<std::string> TestDatabase::Run(const std::string& sql)
{
    if (m_connection == nullptr) {
        m_connection = std::make_unique<Connection>(m_backend, m_target);
    }
    return m_connection->Run(sql);
}

bool TestDatabase::Lock()
{
    m_holder = std::make_unique<Connection>(m_backend, m_target);
    // A write transaction kept open: every other writer waits, then gives up.
    const char* holding = m_backend == Backend::SQLITE ? "BEGIN IMMEDIATE"
                                                       : "BEGIN; LOCK TABLE runs, boards IN ACCESS EXCLUSIVE MODE";
    return m_holder->Run(holding).has_value();
}

void TestDatabase::Unlock()
{
    if (m_holder != nullptr) {
        m_holder->Run("ROLLBACK");
        m_holder.reset();
    }
}

int TestDatabase::SchemaVersion()
{
    const bool sqlite = m_backend == Backend::SQLITE;
    return std::atoi(Value(sqlite ? "PRAGMA user_version" : "SELECT max(version) FROM tarnwick_schema").c_str());
}

bool TestDatabase::SetSchemaVersion(int version)
{
    return Execute((m_backend == Backend::SQLITE ? "PRAGMA user_version = " : "UPDATE tarnwick_schema SET version = ") +
                   std::to_string(version));
}

std::string TestDatabase::ReadOnlyTarget()
{
    if (m_backend == Backend::POSTGRES) {
        return m_target + "&options=-c%20default_transaction_read_only%3Don";
    }
    // A file nobody may write, in a directory nobody may write (where the WAL would go).
    Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    const std::string dir = m_dir + "read-only/";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(m_target, dir + "history.db");
    chmod((dir + "history.db").c_str(), 0444);
    chmod(dir.c_str(), 0555);
    return dir + "history.db";
}

std::string TestDatabase::DamagedTarget() const
{
    if (m_backend == Backend::POSTGRES) {
        return g_cluster->Uri("no_such_history");
    }
    TestSupport::WriteText(m_dir + "damaged.db", std::string(4096, 'x'));
    return m_dir + "damaged.db";
}

}  // namespace StationHistoryTests
