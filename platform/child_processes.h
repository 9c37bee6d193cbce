// Child processes with their console in a log file and their event lines on
// a pipe, waiting on many pipes at once, Ctrl-C as an event, the terminal and
// file name patterns: what a program that runs many tools at once needs of
// the system. POSIX only (the station is a Linux program).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace Platform {
namespace ChildProcesses {

using ProcessId = int;

struct Child {
    ProcessId pid = -1;
    int eventsFd = -1;  // read end; the child writes to its descriptor EVENTS_FD
};

// The descriptor a child finds its event pipe on.
constexpr int EVENTS_FD = 3;

// Starts argv with standard output and error appended to logPath, in a
// process group of its own (a Ctrl-C on the terminal reaches the station
// only, which passes it on once). pid -1 on failure.
Child Spawn(const std::vector<std::string>& argv, const std::string& logPath);
// Waits for the child's end; its exit code, 128 + signal when a signal ended
// it. cpuSeconds: the user and system time it used.
int Reap(ProcessId pid, double& cpuSeconds);
void Interrupt(ProcessId pid);

// Ctrl-C and SIGTERM become readable bytes on this descriptor.
int InstallInterruptPipe();
// Takes what is pending on the interrupt pipe; the number of signals.
int DrainInterrupts(int fd);

// Waits until one of fds is readable or timeoutMs passed (negative: no
// limit); the readable ones, empty after a timeout.
std::vector<int> WaitReadable(const std::vector<int>& fds, int timeoutMs);
// Reads what is there; 0 at the end of the pipe, negative when nothing now.
long ReadSome(int fd, char* buffer, size_t size);
void CloseFd(int fd);

bool IsTerminal(int fd);
std::vector<std::string> ExpandGlob(const std::string& pattern);

}  // namespace ChildProcesses
}  // namespace Platform
