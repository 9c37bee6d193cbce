// A history database as the tests handle it from outside the station: an
// SQLite file or a database of the private PostgreSQL server, queried,
// locked, aged or damaged the way another program (or time) would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace StationHistoryTests {

enum class Backend { SQLITE, POSTGRES };

std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

// One connection to a history, as another program holds it.
class Connection;

class TestDatabase {
public:
    // A new, empty history: a file in dir, or a new database of the shared server.
    TestDatabase(Backend backend, const std::string& dir);
    ~TestDatabase();

    // Why the history could not be made; "" when it was.
    const std::string& Error() const { return m_error; }
    // What --history is given.
    const std::string& Target() const { return m_target; }
    // The first value of a query's first row, "" when there is none or it fails.
    std::string Value(const std::string& sql) { return Run(sql).value_or(""); }
    bool Execute(const std::string& sql) { return Run(sql).has_value(); }
    // Another program writes to the tables and holds them until Unlock.
    bool Lock();
    void Unlock();
    int SchemaVersion();
    bool SetSchemaVersion(int version);
    // The same history where it cannot be written: an SQLite file closed by its
    // rights (which root ignores), a PostgreSQL session made read-only.
    std::string ReadOnlyTarget();
    // A history that is no database (a damaged file, a server database that is not there).
    std::string DamagedTarget() const;

private:
    // Connects when first asked: an SQLite file that nothing touched is not there yet.
    std::optional<std::string> Run(const std::string& sql);

    Backend m_backend;
    std::string m_dir;
    std::string m_target;
    std::string m_error;
    std::unique_ptr<Connection> m_connection;
    std::unique_ptr<Connection> m_holder;  // the other program's, while it holds the tables
};

}  // namespace StationHistoryTests
