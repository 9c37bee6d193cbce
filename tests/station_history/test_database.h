// A history database as the tests handle it from outside the station: an
// SQLite file or a database of the private PostgreSQL server, queried,
// locked, aged or damaged the way another program (or time) would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace StationHistoryTests {

enum class Backend { SQLITE, POSTGRES };

std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

class TestDatabase {
public:
    // A new, empty history: a file in dir, or a new database of the shared server.
    static std::unique_ptr<TestDatabase> Make(Backend backend, const std::string& dir);
    virtual ~TestDatabase() = default;

    virtual bool Ok() const = 0;
    virtual std::string Error() const = 0;
    // What --history is given.
    virtual std::string Target() const = 0;
    // The first value of a query's first row, "" when there is none or it fails.
    virtual std::string Value(const std::string& sql) = 0;
    virtual bool Execute(const std::string& sql) = 0;
    // Another program writes to the tables and holds them until Unlock.
    virtual bool Lock() = 0;
    virtual void Unlock() = 0;
    virtual int SchemaVersion() = 0;
    virtual bool SetSchemaVersion(int version) = 0;
    // The same history where it cannot be written (the station runs as user
    // nobody there when the tests run as root: see RunsAsNobody).
    virtual std::string ReadOnlyTarget() = 0;
    virtual bool RunsAsNobody() const = 0;
    // A history that is no database (a damaged file, a server database that is not there).
    virtual std::string DamagedTarget() = 0;
};

}  // namespace StationHistoryTests
