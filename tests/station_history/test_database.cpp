#include "test_database.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "postgres_cluster.h"
#include "support/test_files.h"

namespace StationHistoryTests {

namespace {

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

    bool Open()
    {
        if (m_connection == nullptr) {
            m_connection = PQconnectdb(m_uri.c_str());
        }
        return PQstatus(m_connection) == CONNECTION_OK;
    }

    std::string Value(const std::string& sql) override
    {
        std::string value;
        if (Open()) {
            PGresult* result = PQexec(m_connection, sql.c_str());
            if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0) {
                value = PQgetvalue(result, 0, 0);
            }
            PQclear(result);
        }
        return value;
    }

    bool Execute(const std::string& sql) override { return Execute(m_connection, sql); }

    bool Lock() override
    {
        m_holder = PQconnectdb(m_uri.c_str());
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
    bool Execute(PGconn*& connection, const std::string& sql)
    {
        if (connection == nullptr) {
            connection = PQconnectdb(m_uri.c_str());
        }
        PGresult* result = PQexec(connection, sql.c_str());
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
