#include "postgres_cluster.h"

#include <glob.h>
#include <libpq-fe.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

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

}  // namespace

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

PostgresCluster::~PostgresCluster()
{
    Stop();
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

std::string PostgresCluster::Uri(const std::string& database, const std::string& extra) const
{
    return "postgresql:///" + database + "?host=" + m_dir + "&user=" + SUPERUSER + (extra.empty() ? "" : "&" + extra);
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

}  // namespace StationHistoryTests
