// Programs run as child processes: watched while they run, their output read
// as it comes, or run to their end with a time limit and their output captured.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace TestSupport {

struct RunResult {
    std::string output;  // standard output, and standard error when asked for
    int exitCode = -1;   // -1: killed at the time limit, or ended by a signal
    int signal = 0;      // the signal that ended it, other than the time limit's
    bool signalled = false;
};

// Signals sent to a run (and then `action` done) once its output holds
// `after` (and delayMs later); from then on it has endLimitMs to end.
struct SignalPlan {
    std::string after;
    int delayMs = 0;
    std::vector<int> signals;
    int endLimitMs = 0;
    std::function<void()> action = nullptr;
};

struct RunOptions {
    bool withStderr = true;
    std::string workDir;  // empty: this process's
    const SignalPlan* plan = nullptr;
};

// Starts argv[0] with standard output (and standard error if asked) on outFd,
// or on /dev/null when outFd < 0. The child's id, -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, int outFd, bool withStderr, const std::string& workDir = "");

// A running program whose output is read as it comes; killed with the object.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const RunOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads its output until it holds text at or after `from`; false when
    // limitMs passed first or it ended without it.
    bool WaitForOutput(const std::string& text, int limitMs, size_t from = 0);
    // Reads its output to its end within limitMs; whether it ended (and was reaped).
    bool Ended(int limitMs);
    // Ended, or killed at the limit; the exit code, -1 when killed or ended by a signal.
    int Wait(int limitMs);
    void Signal(int number);
    const std::string& Output() const { return m_output; }
    // The signal that ended it, 0 when it exited or was killed at the limit.
    int EndSignal() const { return m_endSignal; }

private:
    // Reads what comes within timeoutMs; false at the end of the output.
    bool ReadSome(int timeoutMs);
    void Reap();

    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_output;
    int m_exitCode = -1;
    int m_endSignal = 0;
    bool m_reaped = false;
};

// Runs program with arguments to its end; kills it after limitMs.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, int limitMs,
                     const RunOptions& options = {});

}  // namespace TestSupport
