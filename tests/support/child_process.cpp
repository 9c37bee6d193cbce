#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace TestSupport {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& argv, int outFd, bool withStderr, const std::string& workDir)
{
    std::vector<std::string> storage = argv;
    std::vector<char*> pointers;
    for (std::string& s : storage) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = outFd >= 0 ? outFd : open("/dev/null", O_WRONLY);
        dup2(out, STDOUT_FILENO);
        if (withStderr) {
            dup2(out, STDERR_FILENO);
        }
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) {
            _exit(127);
        }
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    return child;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, int limitMs,
                     const RunOptions& options)
{
    RunResult result;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t child = Spawn(argv, fds[1], options.withStderr, options.workDir);
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return result;
    }
    const SignalPlan* plan = options.plan;
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    bool killed = false;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            kill(child, SIGKILL);
            killed = true;
            break;
        }
        pollfd fd{fds[0], POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0) {
            const ssize_t got = read(fds[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            result.output.append(buffer, static_cast<size_t>(got));
        }
        if (plan != nullptr && !result.signalled && result.output.find(plan->after) != std::string::npos) {
            std::this_thread::sleep_for(std::chrono::milliseconds(plan->delayMs));
            for (int number : plan->signals) {
                kill(child, number);
            }
            if (plan->action) {
                plan->action();
            }
            result.signalled = true;
            deadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(plan->endLimitMs));
        }
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!killed && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    if (!killed && WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace TestSupport
