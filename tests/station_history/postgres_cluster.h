// A private PostgreSQL server for the history tests: Debian's server
// binaries, a cluster in a temporary directory, listening on a Unix socket
// there and nowhere else, run as an unprivileged user when the tests run as
// root. Started on first use, once per test process; stopped at its end.
#pragma once

#include <string>
#include <vector>

namespace StationHistoryTests {

class PostgresCluster {
public:
    static PostgresCluster& Shared();
    ~PostgresCluster();

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    // A new, empty database; its URI.
    std::string NewDatabase();
    // The URI of a database by name, with extra URI query parameters.
    std::string Uri(const std::string& database, const std::string& extra = "") const;
    void Stop();

private:
    PostgresCluster();
    bool Run(const std::vector<std::string>& command, const std::string& what);

    std::string m_bin;   // the server's bin directory
    std::string m_dir;   // cluster, socket and logs
    bool m_running = false;
    int m_databases = 0;
    std::string m_error;
};

}  // namespace StationHistoryTests
