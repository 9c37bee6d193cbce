#include "platform/child_processes.h"

#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace Platform {
namespace ChildProcesses {

namespace {

int g_interruptWrite = -1;

void OnInterrupt(int)
{
    const char byte = 1;
    // Async-signal-safe; a full pipe already says "interrupted".
    (void)!write(g_interruptWrite, &byte, 1);
}

}  // namespace

Child Spawn(const std::vector<std::string>& argv, const std::string& logPath)
{
    Child child;
    int events[2];
    if (pipe2(events, O_CLOEXEC) != 0) {
        return child;
    }
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        close(events[0]);
        close(events[1]);
        return child;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        dup2(events[1], EVENTS_FD);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        execv(args[0], args.data());
        _exit(127);
    }
    close(log);
    close(events[1]);
    if (pid < 0) {
        close(events[0]);
        return child;
    }
    child.pid = pid;
    child.eventsFd = events[0];
    return child;
}

int Reap(pid_t pid, double& cpuSeconds)
{
    int status = 0;
    struct rusage usage = {};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Interrupt(pid_t pid)
{
    kill(pid, SIGINT);
}

int InstallInterruptPipe()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    g_interruptWrite = fds[1];
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return fds[0];
}

int DrainInterrupts(int fd)
{
    char buffer[64];
    int count = 0;
    long got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        count += static_cast<int>(got);
    }
    return count;
}

std::vector<int> WaitReadable(const std::vector<int>& fds, int timeoutMs)
{
    std::vector<pollfd> polled;
    for (const int fd : fds) {
        polled.push_back({fd, POLLIN, 0});
    }
    std::vector<int> ready;
    if (poll(polled.data(), polled.size(), timeoutMs) <= 0) {
        return ready;
    }
    for (const pollfd& p : polled) {
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ready.push_back(p.fd);
        }
    }
    return ready;
}

long ReadSome(int fd, char* buffer, size_t size)
{
    const long got = read(fd, buffer, size);
    return got < 0 ? -1 : got;
}

void CloseFd(int fd)
{
    if (fd >= 0) {
        close(fd);
    }
}

bool IsTerminal(int fd)
{
    return isatty(fd) == 1;
}

std::vector<std::string> ExpandGlob(const std::string& pattern)
{
    std::vector<std::string> names;
    glob_t found = {};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
            names.emplace_back(found.gl_pathv[i]);
        }
    }
    globfree(&found);
    return names;
}

}  // namespace ChildProcesses
}  // namespace Platform
