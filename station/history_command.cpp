#include "station/history_command.h"

#include <cstdio>

namespace Station {

namespace {

constexpr const char* CSV_HEADER =
    "run_id,started_utc,port,adapter_serial,round,attempt,result,exit_code,seconds,operation,chip_name,"
    "package_path,package_sha256,host,reason\n";

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// RFC 4180: a field with a comma, quote or line break is quoted, quotes doubled.
std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

std::string Number(const char* format, double value)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string HistoryTable(const std::vector<HistoryRow>& rows)
{
    char line[1024];
    std::snprintf(line, sizeof line, "%5s %-20s %-24s %-12s %5s %3s %-9s %4s %8s  %-20s %s\n", "run", "started (UTC)",
                  "port", "adapter", "board", "try", "result", "exit", "seconds", "package", "reason");
    std::string out = line;
    for (const HistoryRow& row : rows) {
        const HistoryBoard& b = row.board;
        std::snprintf(line, sizeof line, "%5lld %-20s %-24s %-12s %5d %3d %-9s %4d %8.1f  %-20s %s\n",
                      static_cast<long long>(row.runId), b.startedUtc.c_str(), b.port.c_str(), b.adapterSerial.c_str(),
                      b.round, b.attempt, b.result.c_str(), b.exitCode, b.seconds, BaseName(row.run.packagePath).c_str(),
                      b.reason.c_str());
        out += line;
    }
    return out;
}

std::string HistoryCsv(const std::vector<HistoryRow>& rows)
{
    std::string out = CSV_HEADER;
    for (const HistoryRow& row : rows) {
        const HistoryBoard& b = row.board;
        const std::vector<std::string> fields{std::to_string(row.runId), b.startedUtc, b.port, b.adapterSerial,
                                              std::to_string(b.round), std::to_string(b.attempt), b.result,
                                              std::to_string(b.exitCode), Number("%.3f", b.seconds), row.run.operation,
                                              row.run.chipName, row.run.packagePath, row.run.packageSha256,
                                              row.run.host, b.reason};
        for (size_t i = 0; i < fields.size(); ++i) {
            out += (i > 0 ? "," : "") + CsvField(fields[i]);
        }
        out += "\n";
    }
    return out;
}

int RunHistoryCommand(const HistoryOptions& options, std::string& out, std::string& err)
{
    std::unique_ptr<HistoryStore> store = OpenHistory(options.target);
    std::vector<HistoryRow> rows;
    HistoryStatus status = store->PrepareToRead();
    if (status.Ok()) {
        status = store->ListBoards({options.port, options.since, options.failedOnly}, rows);
    }
    if (!status.Ok()) {
        err = "tarnwick-station: " + HistoryProblem(options.target, status.error) + "\n";
        return USAGE_ERROR;
    }
    out = options.csv ? HistoryCsv(rows) : HistoryTable(rows);
    return 0;
}

}  // namespace Station
