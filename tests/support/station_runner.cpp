#include "support/station_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "support/child_process.h"

namespace TestSupport {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* STAND_IN_PREAMBLE = R"(#!/bin/sh
report=""
port=""
next_is_port=0
for a in "$@"; do
  if [ "$next_is_port" = 1 ]; then port="$a"; next_is_port=0; fi
  case "$a" in
    -report:*) report="${a#-report:}" ;;
    serial) next_is_port=1 ;;
  esac
done
event() { printf '%s\n' "$1" >&3; }
report() {
  printf '{"resultCode":%s,"lastError":"%s","cancelled":%s,"images":%s}\n' "$1" "$2" "$3" "$4" > "$report.part"
  mv "$report.part" "$report"
}
)";

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::string StandInTool(const std::string& body)
{
    return STAND_IN_PREAMBLE + body + "\n";
}

StationProcess::StationProcess(const std::string& program, const std::vector<std::string>& args)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    m_pid = Spawn(argv, fds[1], true);
    close(fds[1]);
    m_fd = fds[0];
}

StationProcess::~StationProcess()
{
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        Wait(10000);
    }
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool StationProcess::ReadSome(int timeoutMs)
{
    if (m_fd < 0) {
        return false;
    }
    pollfd fd{m_fd, POLLIN, 0};
    const int ready = poll(&fd, 1, timeoutMs);
    if (ready < 0 && errno != EINTR) {
        return false;
    }
    if (ready <= 0) {
        return true;
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

bool StationProcess::WaitForOutput(const std::string& text, int limitMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (m_output.find(text) == std::string::npos) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0 || !ReadSome(left)) {
            return m_output.find(text) != std::string::npos;
        }
    }
    return true;
}

int StationProcess::Wait(int limitMs)
{
    if (m_reaped) {
        return m_exitCode;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    bool killed = false;
    while (m_fd >= 0) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            kill(m_pid, SIGKILL);
            killed = true;
            break;
        }
        ReadSome(left);
    }
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    m_exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_exitCode;
}

void StationProcess::Signal(int number)
{
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, number);
    }
}

}  // namespace TestSupport
