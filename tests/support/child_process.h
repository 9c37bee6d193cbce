// Programs run as child processes: a run to its end with a time limit and
// its output captured, or a long-running child whose first line is read.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace TestSupport {

struct RunResult {
    std::string output;  // standard output, and standard error when asked for
    int exitCode = -1;   // -1: killed at the time limit, or ended by a signal
    int signal = 0;      // the signal that ended it, other than the time limit's
    bool signalled = false;
};

// Signals sent to a run once its output holds `after` (and delayMs later);
// from then on it has endLimitMs to end.
struct SignalPlan {
    std::string after;
    int delayMs = 0;
    std::vector<int> signals;
    int endLimitMs = 0;
};

struct RunOptions {
    bool withStderr = true;
    std::string workDir;  // empty: this process's
    const SignalPlan* plan = nullptr;
};

// Starts argv[0] with standard output (and standard error if asked) on outFd,
// or on /dev/null when outFd < 0. The child's id, -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, int outFd, bool withStderr, const std::string& workDir = "");

// Runs program with arguments; kills it after limitMs.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, int limitMs,
                     const RunOptions& options = {});

// A child that keeps running; its standard output is a pipe of ours.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    // The next line of its output without the line end; empty when none came in time.
    std::string ReadLine(int timeoutMs);
    void Signal(int number) const;
    // Its exit code (128 + signal when a signal ended it), -1 while it still runs after ms.
    int WaitExit(int ms);
    // Lets it end by itself within graceMs, then asks it to stop, then kills it.
    int Stop(int graceMs);

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_status = -1;
};

}  // namespace TestSupport
