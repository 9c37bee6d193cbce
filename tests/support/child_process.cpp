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

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    m_pid = Spawn(argv, fds[1], false);
    close(fds[1]);
    m_stdout = fds[0];
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && m_status < 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_stdout >= 0) {
        close(m_stdout);
    }
}

std::string ChildProcess::ReadLine(int timeoutMs)
{
    std::string line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_stdout >= 0 && Clock::now() < deadline) {
        pollfd fd{m_stdout, POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0) {
            continue;
        }
        char c = 0;
        if (read(m_stdout, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return "";
}

void ChildProcess::Signal(int number) const
{
    if (m_pid > 0 && m_status < 0) {
        kill(m_pid, number);
    }
}

int ChildProcess::WaitExit(int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (m_pid > 0 && m_status < 0) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return m_status;
}

int ChildProcess::Stop(int graceMs)
{
    if (WaitExit(graceMs) < 0) {
        Signal(SIGTERM);
        if (WaitExit(30000) < 0) {
            Signal(SIGKILL);
            WaitExit(30000);
        }
    }
    return m_status;
}

}  // namespace TestSupport
