// Programs run as child processes, to their end with a time limit and their
// output captured.
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

// Runs program with arguments; kills it after limitMs.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, int limitMs,
                     const RunOptions& options = {});

}  // namespace TestSupport
