// Child processes with their console in a log file and their event lines on
// a pipe, waiting on many pipes at once, signals as events, the terminal and
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
    int eventsFd = -1;  // read end, non-blocking; the child writes to its descriptor EVENTS_FD
};

// The descriptor a child finds its event pipe on.
constexpr int EVENTS_FD = 3;

// Starts argv with standard output and error appended to logPath, in a
// process group of its own whose id is the child's pid (a Ctrl-C on the
// terminal reaches the station only, which passes it on once). The group is
// set on both sides of the fork, so it exists when Spawn returns. pid -1 on
// failure.
Child Spawn(const std::vector<std::string>& argv, const std::string& logPath);
// When the child has ended: true, its exit code (128 + signal when a signal
// ended it) and the user and system seconds it used. Never waits.
bool TryReap(ProcessId pid, int& exitCode, double& cpuSeconds);

// Signals to the child's whole process group.
void Interrupt(ProcessId pid);  // SIGINT: the tool cancels
void Terminate(ProcessId pid);  // SIGTERM
void Kill(ProcessId pid);       // SIGKILL

// Ctrl-C, SIGTERM and the end of a child become readable on this
// descriptor (-1 on failure). They are held back in every thread and taken
// from the descriptor, never run as handlers at some point of some thread:
// call it before any thread starts. Children start with none held back.
int CatchSignals();
struct Signals {
    int interrupts = 0;       // Ctrl-C and SIGTERM received
    bool childEnded = false;  // some child ended: time to TryReap
};
// Takes what is pending on the signal descriptor.
Signals DrainSignals(int fd);

// A pipe another thread of this process writes to, to wake a WaitReadable.
struct WakePipe {
    int readFd = -1;
    int writeFd = -1;
};
WakePipe OpenWakePipe();
void Wake(const WakePipe& pipe);   // safe from any thread
void DrainWake(const WakePipe& pipe);
void CloseWakePipe(WakePipe& pipe);

// Waits until one of fds is readable or timeoutMs passed (negative: no
// limit); the readable ones, empty after a timeout.
std::vector<int> WaitReadable(const std::vector<int>& fds, int timeoutMs);
// Reads what is there; 0 at the end of the pipe, negative when nothing now.
long ReadSome(int fd, char* buffer, size_t size);
void CloseFd(int fd);

bool IsTerminal(int fd);
std::string HostName();
std::vector<std::string> ExpandGlob(const std::string& pattern);

}  // namespace ChildProcesses
}  // namespace Platform
