#include "platform/child_processes.h"

#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace Platform {
namespace ChildProcesses {

namespace {

// Ctrl-C, SIGTERM and a child's end.
sigset_t CaughtSignals()
{
    sigset_t caught;
    sigemptyset(&caught);
    for (const int number : {SIGINT, SIGTERM, SIGCHLD}) {
        sigaddset(&caught, number);
    }
    return caught;
}

void SignalGroup(pid_t pid, int number)
{
    if (pid > 0) {
        kill(-pid, number);
    }
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
        // As a program started from a shell: default actions, nothing held back.
        for (const int number : {SIGINT, SIGTERM, SIGCHLD, SIGPIPE}) {
            signal(number, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        dup2(events[1], EVENTS_FD);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid > 0) {
        // Also here, so the group exists before any signal is sent to it; after
        // the child's exec this fails harmlessly, the child having done it.
        setpgid(pid, pid);
    }
    close(log);
    close(events[1]);
    if (pid < 0) {
        close(events[0]);
        return child;
    }
    fcntl(events[0], F_SETFL, fcntl(events[0], F_GETFL) | O_NONBLOCK);
    child.pid = pid;
    child.eventsFd = events[0];
    return child;
}

bool TryReap(pid_t pid, int& exitCode, double& cpuSeconds)
{
    int status = 0;
    struct rusage usage = {};
    pid_t got = -1;
    do {
        got = wait4(pid, &status, WNOHANG, &usage);
    } while (got < 0 && errno == EINTR);
    if (got == 0) {
        return false;
    }
    if (got < 0) {
        exitCode = -1;  // not our child (any more): nothing left to wait for
        cpuSeconds = 0.0;
        return true;
    }
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

void Interrupt(pid_t pid)
{
    SignalGroup(pid, SIGINT);
}

void Terminate(pid_t pid)
{
    SignalGroup(pid, SIGTERM);
}

void Kill(pid_t pid)
{
    SignalGroup(pid, SIGKILL);
}

int CatchSignals()
{
    const sigset_t caught = CaughtSignals();
    sigset_t previous;
    // Threads started later inherit the mask, so no thread runs a default action or a handler for them.
    if (pthread_sigmask(SIG_BLOCK, &caught, &previous) != 0) {
        return -1;
    }
    const int fd = signalfd(-1, &caught, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0) {
        // Held back with nobody to read them, a Ctrl-C would be lost: let it act as by default.
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    return fd;
}

Signals DrainSignals(int fd)
{
    Signals signals;
    signalfd_siginfo info = {};
    while (read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGCHLD) {
            signals.childEnded = true;
        } else {
            ++signals.interrupts;
        }
    }
    return signals;
}

WakePipe OpenWakePipe()
{
    WakePipe wake;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake.readFd = fds[0];
        wake.writeFd = fds[1];
    }
    return wake;
}

void Wake(const WakePipe& pipe)
{
    const char byte = 1;
    // A full pipe is already awake.
    (void)!write(pipe.writeFd, &byte, 1);
}

void DrainWake(const WakePipe& pipe)
{
    char buffer[64];
    while (read(pipe.readFd, buffer, sizeof buffer) > 0) {
    }
}

void CloseWakePipe(WakePipe& pipe)
{
    CloseFd(pipe.readFd);
    CloseFd(pipe.writeFd);
    pipe = WakePipe();
}

std::vector<int> WaitReadable(const std::vector<int>& fds, int timeoutMs)
{
    std::vector<pollfd> polled;
    for (const int fd : fds) {
        polled.push_back({fd, POLLIN, 0});
    }
    std::vector<int> ready;
    // A signal handled meanwhile (a child's end) is no reason to return early.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int got = 0;
    while ((got = poll(polled.data(), polled.size(), timeoutMs)) < 0 && errno == EINTR) {
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
            timeoutMs = static_cast<int>(std::max<long long>(left.count(), 0));
        }
    }
    if (got <= 0) {
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

std::string HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
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
