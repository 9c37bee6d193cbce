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

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& argv, int outFd, bool withStderr, const std::string& workDir)
{
    std::vector<char*> pointers;
    for (const std::string& s : argv) {
        pointers.push_back(const_cast<char*>(s.c_str()));  // execv changes none of them
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

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const RunOptions& options)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    m_pid = Spawn(argv, fds[1], options.withStderr, options.workDir);
    close(fds[1]);
    m_fd = fds[0];
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        Reap();
    }
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool ChildProcess::ReadSome(int timeoutMs)
{
    if (m_fd < 0) {
        return false;
    }
    pollfd fd{m_fd, POLLIN, 0};
    const int ready = poll(&fd, 1, timeoutMs);
    if (ready <= 0) {
        return ready == 0 || errno == EINTR;
    }
    char buffer[65536];
    const ssize_t got = read(m_fd, buffer, sizeof buffer);
    if (got <= 0) {
        close(m_fd);
        m_fd = -1;
        return false;
    }
    m_output.append(buffer, static_cast<size_t>(got));
    return true;
}

bool ChildProcess::WaitForOutput(const std::string& text, int limitMs, size_t from)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (m_output.find(text, from) == std::string::npos) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0 || !ReadSome(left)) {
            return m_output.find(text, from) != std::string::npos;
        }
    }
    return true;
}

void ChildProcess::Reap()
{
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_endSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

bool ChildProcess::Ended(int limitMs)
{
    if (m_reaped) {
        return true;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (m_fd >= 0) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            return false;
        }
        ReadSome(left);
    }
    if (m_pid > 0 && !m_reaped) {
        Reap();
    }
    return true;
}

int ChildProcess::Wait(int limitMs)
{
    if (!Ended(limitMs) && m_pid > 0) {
        kill(m_pid, SIGKILL);
        Reap();
        m_exitCode = -1;
        m_endSignal = 0;
    }
    return m_exitCode;
}

void ChildProcess::Signal(int number)
{
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, number);
    }
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, int limitMs,
                     const RunOptions& options)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    ChildProcess child(program, arguments, options);
    RunResult result;
    const SignalPlan* plan = options.plan;
    if (plan != nullptr && child.WaitForOutput(plan->after, limitMs)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(plan->delayMs));
        for (int number : plan->signals) {
            child.Signal(number);
        }
        if (plan->action) {
            plan->action();
        }
        result.signalled = true;
        deadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(plan->endLimitMs));
    }
    result.exitCode = child.Wait(MillisecondsLeft(deadline));
    result.signal = child.EndSignal();
    result.output = child.Output();
    return result;
}

}  // namespace TestSupport
