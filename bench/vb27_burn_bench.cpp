// Burns a 4 MiB Vb27 package through tarnwick-sim with a paced line and
// prints the payload throughput as a fraction of the line limit (baud / 10
// bytes per second) and the tool's CPU seconds per MiB. Beside it, in the
// same run, the pty floor: the least a sender can spend on the same
// stop-and-wait exchange (write one frame, wait for the line, read the
// one-byte answer) over a pseudo-terminal whose other end answers at the
// pace of the line; and the tool's CPU as a ratio to that floor. The tool
// prints to a terminal that the bench reads, as an operator's would.
//
//   vb27_burn_bench [--bauds 115200,921600,3000000] [--blocks 1024,8192] [--mib 4] [--repeat N] [--bin DIR]
//                   [--together] [--check]
//
// With --check it measures the burn check instead: each burn once alone and
// once with "-c 1", the read-back's own time taken from the run report
// (checkSeconds of the image), and prints the read-back's fraction of the
// line limit and burn plus check against burn alone.
//
// With --repeat N each rate is measured N times, each time the tool then the
// floor; the CPU figures are medians, vs_floor the median of the N paired
// ratios and spread their least and greatest; wall_s is the fastest run.
//
// The floor is a forked sender that is already running; the tool's figure
// also holds what a run costs once (start, package, handshake, loader). So
// each rate also burns a package whose image is a single block, and the
// net figures compare the tool's CPU beyond that fixed cost, per frame, with
// the floor's: startup_ms is that fixed cost, net_vs_floor the ratio
// without it.
//
// A virtual machine's host takes time from its guest in stretches of seconds
// and charges it to whatever runs then; whole runs of the same sender moved
// by ten times on such a machine. So the bench also reads each sender's CPU
// in slices of half a second of wall time during the steady part of its run
// (after the fixed run's length, without the last slice) and takes the
// quietest tenth of all slices of all repeats: quiet_us/frame is that CPU per
// frame, the tool's then the floor's, and quiet_vs_floor their ratio. Noise
// only adds time, so the quiet slices are the closest to what each sender
// itself costs.
//
// With --together the floor runs at the same time as the tool, both senders
// on one core: a stretch the host takes then falls on both, and the ratio
// moves far less between runs (the two also evict each other's caches, as
// other work on a busy machine would).
//
// On two cores or more the senders (the tool, the floor's) run on one core
// and their peers and the bench on another, and the bench sleeps until the
// tool writes or ends, so that both senders are measured alike.
//
// The tools are taken from DIR, by default ../bin beside this program's
// directory (the build tree).
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/checksum.h"
#include "platform/process_paths.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t PACKAGE_FLAG = 0xEFBEADDF;
constexpr size_t HEADER_LENGTH = 12;
constexpr size_t ENTRY_LENGTH = 52;
constexpr size_t NAME_LENGTH = 32;
constexpr uint32_t TYPE_LOADER = 0;
constexpr uint32_t TYPE_FLASH = 1;
constexpr size_t LOADER_LENGTH = 16 * 1024;
constexpr int RUN_LIMIT_S = 1200;
// A YMODEM data frame around a block, as the tool sends it.
constexpr size_t FRAME_OVERHEAD = 5;
constexpr uint8_t ANSWER = 0x06;

void PutLe(Bytes& bytes, size_t offset, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Loader plus one flash image, the whole package `total` bytes long.
Bytes BuildPackage(size_t total)
{
    const size_t tableEnd = HEADER_LENGTH + 2 * ENTRY_LENGTH;
    const size_t imageLength = total - tableEnd - LOADER_LENGTH;
    Bytes package(total);
    uint32_t x = 12345;
    for (size_t i = tableEnd; i < total; ++i) {
        x = x * 1103515245u + 12345u;
        package[i] = static_cast<uint8_t>(x >> 16);
    }
    PutLe(package, 0, PACKAGE_FLAG, 4);
    PutLe(package, 6, 2, 2);
    const struct {
        const char* name;
        uint32_t type, offset, length, address, size;
    } entries[] = {
        {"loader.bin", TYPE_LOADER, static_cast<uint32_t>(tableEnd), LOADER_LENGTH, 0, 0},
        {"app.bin", TYPE_FLASH, static_cast<uint32_t>(tableEnd + LOADER_LENGTH), static_cast<uint32_t>(imageLength),
         0x10000, static_cast<uint32_t>(imageLength)},
    };
    for (size_t i = 0; i < 2; ++i) {
        const size_t at = HEADER_LENGTH + ENTRY_LENGTH * i;
        std::memset(package.data() + at, 0, NAME_LENGTH);
        std::memcpy(package.data() + at, entries[i].name, std::strlen(entries[i].name));
        PutLe(package, at + 32, entries[i].offset, 4);
        PutLe(package, at + 36, entries[i].length, 4);
        PutLe(package, at + 40, entries[i].address, 4);
        PutLe(package, at + 44, entries[i].size, 4);
        PutLe(package, at + 48, entries[i].type, 4);
    }
    PutLe(package, 4, Common::SopCrc16(package.data() + 6, static_cast<uint32_t>(tableEnd - 6)), 2);
    return package;
}

std::vector<uint32_t> ParseList(const char* text)
{
    std::vector<uint32_t> values;
    for (const char* p = text; *p != '\0';) {
        char* end = nullptr;
        values.push_back(static_cast<uint32_t>(std::strtoul(p, &end, 10)));
        p = (*end == ',') ? end + 1 : end;
        if (end == p && *p != '\0') {
            break;
        }
    }
    return values;
}

std::vector<char*> Argv(std::vector<std::string>& storage)
{
    std::vector<char*> argv;
    for (std::string& s : storage) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// The sender (the tool or the floor's) on one core, the board and the bench
// on the other: both senders measured in the same place, apart from their peer.
constexpr int SENDER_CPU = 0;
constexpr int PEER_CPU = 1;

void PinTo(int cpu)
{
    if (std::thread::hardware_concurrency() < 2) {
        return;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    (void)sched_setaffinity(0, sizeof set, &set);
}

struct Sim {
    pid_t pid = -1;
    std::string port;
};

Sim StartSim(const std::string& program, uint32_t baud, const std::string& dir)
{
    Sim sim;
    std::vector<std::string> storage{program, "--family", "vb27", "--line-baud", std::to_string(baud),
                                     "--report", dir + "report.json"};
    std::vector<char*> argv = Argv(storage);
    int fds[2];
    if (pipe(fds) != 0) {
        return sim;
    }
    sim.pid = fork();
    if (sim.pid == 0) {
        PinTo(PEER_CPU);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
        sim.port += c;
    }
    close(fds[0]);
    return sim;
}

void StopSim(Sim& sim)
{
    if (sim.pid > 0) {
        kill(sim.pid, SIGTERM);
        waitpid(sim.pid, nullptr, 0);
        sim.pid = -1;
    }
}

// What a sender spent over one stretch of its run.
struct Slice {
    double startSeconds = 0;  // from the start of the run
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

struct Run {
    int exitCode = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long switches = 0;  // times the sender gave up or lost the CPU: a count, not a time
    std::vector<Slice> slices;
};

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double Seconds(const timespec& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A sender's CPU read in slices of wall time (why: the head of this file).
constexpr double SLICE_S = 0.5;

class SliceSampler {
public:
    SliceSampler(pid_t sender, std::chrono::steady_clock::time_point start) : m_start(start)
    {
        m_valid = clock_getcpuclockid(sender, &m_clock) == 0;
        m_lastWall = start;
    }

    // Called whenever the bench is awake anyway; closes a slice once SLICE_S has passed.
    void Sample()
    {
        const auto now = std::chrono::steady_clock::now();
        const double wall = std::chrono::duration<double>(now - m_lastWall).count();
        timespec cpu{};
        if (!m_valid || wall < SLICE_S || clock_gettime(m_clock, &cpu) != 0) {
            return;
        }
        const double cpuSeconds = Seconds(cpu);
        m_slices.push_back({std::chrono::duration<double>(m_lastWall - m_start).count(), wall, cpuSeconds - m_lastCpu});
        m_lastWall = now;
        m_lastCpu = cpuSeconds;
    }

    std::vector<Slice> Take() { return std::move(m_slices); }

private:
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastWall;
    double m_lastCpu = 0;
    clockid_t m_clock{};
    bool m_valid = false;
    std::vector<Slice> m_slices;
};

// Waits for the sender started at `start` and takes what it spent.
Run Reap(pid_t sender, std::chrono::steady_clock::time_point start)
{
    Run run;
    int status = 0;
    rusage usage{};
    wait4(sender, &status, 0, &usage);
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.switches = usage.ru_nvcsw + usage.ru_nivcsw;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The tool's output goes to a terminal of the bench's own, read as a person's
// terminal would: what printing costs the tool is part of its figure.
Run RunTool(std::vector<std::string> storage)
{
    Run run;
    std::vector<char*> argv = Argv(storage);
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    char screen[128] = {};
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0 ||
        ptsname_r(terminal, screen, sizeof screen) != 0) {
        return run;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        PinTo(SENDER_CPU);
        const int out = open(screen, O_WRONLY | O_NOCTTY);
        dup2(out, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (child < 0) {
        close(terminal);
        return run;
    }
    // Woken only by the tool's output or its exit: a bench that woke on a
    // timer would load the machine it measures.
    const int exited = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    const auto limit = start + std::chrono::seconds(RUN_LIMIT_S);
    if (exited < 0) {
        kill(child, SIGKILL);
    }
    char text[4096];
    bool screenOpen = true;
    SliceSampler sampler(child, start);
    while (exited >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(child, SIGKILL);
            break;
        }
        pollfd p[2] = {{screenOpen ? terminal : -1, POLLIN, 0}, {exited, POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            kill(child, SIGKILL);
            break;
        }
        if ((p[0].revents & POLLIN) != 0) {
            (void)read(terminal, text, sizeof text);
        } else if (p[0].revents != 0) {
            screenOpen = false;  // the tool let go of its terminal
        }
        if ((p[1].revents & POLLIN) != 0) {
            break;
        }
        sampler.Sample();
    }
    run = Reap(child, start);
    run.slices = sampler.Take();
    if (exited >= 0) {
        close(exited);
    }
    close(terminal);
    return run;
}

// --- the pty floor ------------------------------------------------------------

bool ReadAll(int fd, uint8_t* buffer, size_t length)
{
    size_t got = 0;
    while (got < length) {
        const ssize_t n = read(fd, buffer + got, length - got);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t length)
{
    size_t sent = 0;
    while (sent < length) {
        const ssize_t n = write(fd, data + sent, length - sent);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

void SleepUntil(const timespec& when)
{
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) != 0) {
    }
}

// The other end: takes each frame and answers once the line would have
// carried it (10 bits per byte), as a board on a real UART would.
void AnswerAtLinePace(int master, size_t frameSize, size_t frames, uint32_t baud, SliceSampler& sampler)
{
    std::vector<uint8_t> frame(frameSize);
    const long frameNs = static_cast<long>(frameSize * 10 * 1000000000ull / baud);
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    for (size_t i = 0; i < frames; ++i) {
        if (!ReadAll(master, frame.data(), frameSize)) {
            return;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec > due.tv_sec || (now.tv_sec == due.tv_sec && now.tv_nsec > due.tv_nsec)) {
            due = now;
        }
        due.tv_nsec += frameNs;
        due.tv_sec += due.tv_nsec / 1000000000;
        due.tv_nsec %= 1000000000;
        SleepUntil(due);
        const uint8_t answer = ANSWER;
        WriteAll(master, &answer, 1);
        sampler.Sample();
    }
}

// The sending side alone: one write per frame, a poll for the answer and one
// read of it. Its CPU is the least any tool can spend on this exchange.
[[noreturn]] void SendStopAndWait(const std::string& slavePath, size_t frameSize, size_t frames)
{
    const int fd = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0) {
        _exit(1);
    }
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    std::vector<uint8_t> frame(frameSize, 0x5A);
    for (size_t i = 0; i < frames; ++i) {
        if (!WriteAll(fd, frame.data(), frameSize)) {
            _exit(1);
        }
        pollfd p{fd, POLLIN, 0};
        uint8_t answer = 0;
        if (poll(&p, 1, 10000) != 1 || read(fd, &answer, 1) != 1) {
            _exit(1);
        }
    }
    _exit(0);
}

// CPU seconds of the sender for `frames` frames of `block` bytes at `baud`.
Run PtyFloor(uint32_t baud, uint32_t block, size_t frames)
{
    Run run;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        return run;
    }
    termios tio{};
    tcgetattr(master, &tio);
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
    const size_t frameSize = block + FRAME_OVERHEAD;
    const auto start = std::chrono::steady_clock::now();
    const pid_t sender = fork();
    if (sender == 0) {
        PinTo(SENDER_CPU);
        close(master);
        SendStopAndWait(name, frameSize, frames);
    }
    SliceSampler sampler(sender, start);
    AnswerAtLinePace(master, frameSize, frames, baud, sampler);
    run = Reap(sender, start);
    run.slices = sampler.Take();
    close(master);
    return run;
}

// --- the burn check ------------------------------------------------------------

// Seconds the read-back of the image took, from the run report; 0 when it has none.
double CheckSeconds(const std::string& reportPath)
{
    std::ifstream in(reportPath);
    const nlohmann::json report = nlohmann::json::parse(in, nullptr, false);
    if (!report.is_object()) {
        return 0.0;
    }
    for (const nlohmann::json& image : report.value("images", nlohmann::json::array())) {
        if (image.value("check", "") == "passed") {
            return image.value("checkSeconds", 0.0);
        }
    }
    return 0.0;
}

struct Setup {
    std::string bin;
    std::string dir;
    std::string packagePath;
    double imageBytes = 0;
    int repeat = 1;
};

Run BurnPackage(const Setup& setup, const std::string& packagePath, uint32_t baud, uint32_t block,
                const std::vector<std::string>& extra)
{
    Sim sim = StartSim(setup.bin + "tarnwick-sim", baud, setup.dir);
    if (sim.port.empty()) {
        return Run{};
    }
    std::vector<std::string> argv{setup.dir + "bin/tarnwickcmd", "--burn", "-n", "vb27", "-m", "serial", sim.port,
                                  "-f", packagePath, "-b", std::to_string(baud),
                                  "-packagesize:" + std::to_string(block)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const Run run = RunTool(argv);
    StopSim(sim);
    return run;
}

Run BurnOnce(const Setup& setup, uint32_t baud, uint32_t block, const std::vector<std::string>& extra)
{
    return BurnPackage(setup, setup.packagePath, baud, block, extra);
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// The value below which `share` of the values lie (0 gives the least).
double LowQuantile(std::vector<double> values, double share)
{
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(share * static_cast<double>(values.size() - 1))];
}

// The share of the slices taken as the quiet ones.
constexpr double QUIET_SHARE = 0.1;

// CPU per wall second of each slice of a run's steady part: from `fromSeconds`
// into the run (its start, handshake and loader lie before), without the
// last slice (its end).
void AddSteadyRates(const Run& run, double fromSeconds, std::vector<double>& rates)
{
    for (size_t i = 0; i + 1 < run.slices.size(); ++i) {
        const Slice& slice = run.slices[i];
        if (slice.startSeconds >= fromSeconds && slice.wallSeconds > 0) {
            rates.push_back(slice.cpuSeconds / slice.wallSeconds);
        }
    }
}

// One repeat: the fixed run, the burn and the floor, one after the other, so
// that the three share the machine's state of the moment.
struct Repeat {
    Run fixed;
    Run run;
    Run floor;
    bool Ok() const { return fixed.exitCode == 0 && run.exitCode == 0 && floor.exitCode == 0; }
};

void WritePackage(const Bytes& package, const std::string& path)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));
}

// Burn alone, burn with the check, and the read-back on its own, each the
// least of the repeats.
int MeasureCheck(const Setup& setup, const std::vector<uint32_t>& bauds, const std::vector<uint32_t>& blocks)
{
    std::printf("%-9s %-6s %-9s %-13s %-11s %-12s %-11s %-9s %s\n", "baud", "block", "burn_s", "burn+check_s",
                "vs_burn", "readback_s", "readback/s", "of_limit", "result");
    const std::string reportPath = setup.dir + "run.json";
    int failures = 0;
    for (uint32_t baud : bauds) {
        for (uint32_t block : blocks) {
            Run burn;
            Run checked;
            double readBack = 0.0;
            bool ok = true;
            for (int i = 0; i < setup.repeat; ++i) {
                const Run alone = BurnOnce(setup, baud, block, {});
                const Run both = BurnOnce(setup, baud, block, {"-c", "1", "-report:" + reportPath});
                const double seconds = CheckSeconds(reportPath);
                ok = ok && alone.exitCode == 0 && both.exitCode == 0 && seconds > 0.0;
                if (i == 0 || alone.wallSeconds < burn.wallSeconds) {
                    burn = alone;
                }
                if (i == 0 || both.wallSeconds < checked.wallSeconds) {
                    checked = both;
                }
                if (i == 0 || (seconds > 0.0 && seconds < readBack)) {
                    readBack = seconds;
                }
            }
            const double rate = readBack > 0.0 ? setup.imageBytes / readBack : 0.0;
            std::printf("%-9u %-6u %-9.2f %-13.2f %-11.3f %-12.3f %-11.0f %-9.3f %s\n", baud, block, burn.wallSeconds,
                        checked.wallSeconds, burn.wallSeconds > 0 ? checked.wallSeconds / burn.wallSeconds : 0.0,
                        readBack, rate, rate / (baud / 10.0), ok ? "ok" : "FAILED");
            std::fflush(stdout);
            failures += ok ? 0 : 1;
        }
    }
    return failures;
}

}  // namespace

constexpr const char* USAGE =
    "usage: vb27_burn_bench [--bauds 115200,921600,3000000] [--blocks 1024,8192] [--mib 4] [--repeat N]\n"
    "                       [--bin DIR] [--together] [--check]\n";

int main(int argc, char** argv)
{
    std::vector<uint32_t> bauds{115200, 921600, 3000000};
    std::vector<uint32_t> blocks{1024, 8192};
    size_t mib = 4;
    int repeat = 1;
    std::string bin = Platform::ExecutableDirectory() + "../bin/";
    bool check = false;
    bool together = false;
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--help") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(option, "--together") == 0) {
            together = true;
            continue;
        }
        if (std::strcmp(option, "--check") == 0) {
            check = true;
            continue;
        }
        const char* value = i + 1 < argc ? argv[++i] : nullptr;
        if (value != nullptr && std::strcmp(option, "--bauds") == 0) {
            bauds = ParseList(value);
        } else if (value != nullptr && std::strcmp(option, "--blocks") == 0) {
            blocks = ParseList(value);
        } else if (value != nullptr && std::strcmp(option, "--mib") == 0) {
            mib = std::strtoul(value, nullptr, 10);
        } else if (value != nullptr && std::strcmp(option, "--repeat") == 0) {
            repeat = std::max(1, std::atoi(value));
        } else if (value != nullptr && std::strcmp(option, "--bin") == 0) {
            bin = std::string(value) + "/";
        } else {
            // A mistyped option would otherwise start a quarter of an hour of the defaults.
            std::fprintf(stderr, "vb27_burn_bench: unknown option or missing value: %s\n%s", option, USAGE);
            return 2;
        }
    }
    const auto hasZero = [](const std::vector<uint32_t>& list) {
        return list.empty() || std::find(list.begin(), list.end(), 0u) != list.end();
    };
    if (mib == 0 || hasZero(bauds) || hasZero(blocks)) {
        std::fprintf(stderr, "vb27_burn_bench: --mib, --bauds and --blocks need values above 0\n%s", USAGE);
        return 2;
    }
    std::string pattern = (fs::temp_directory_path() / "tarnwick-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    const std::string dir = pattern + "/";
    // A copy of the installation: the tool finds config/ and ChipProperties/ beside itself.
    std::error_code error;
    fs::create_directories(dir + "bin/config");
    fs::copy_file(bin + "tarnwickcmd", dir + "bin/tarnwickcmd", error);
    fs::copy(bin + "ChipProperties", dir + "bin/ChipProperties", fs::copy_options::recursive, error);
    std::ofstream(dir + "bin/config/burn.config").put('\n');
    if (error) {
        std::fprintf(stderr, "cannot copy the installation from %s: %s\n", bin.c_str(), error.message().c_str());
        return 1;
    }
    const size_t packageLength = mib * 1024 * 1024;
    const std::string packagePath = dir + "bench.fwpkg";
    // Written and let go: the floor's sender is a fork of the bench and would
    // carry the package's pages, which a minimal sender has not.
    WritePackage(BuildPackage(packageLength), packagePath);
    const double payload = static_cast<double>(packageLength - HEADER_LENGTH - 2 * ENTRY_LENGTH);
    const double payloadMiB = payload / (1024.0 * 1024.0);
    PinTo(PEER_CPU);
    if (check) {
        const Setup setup{bin, dir, packagePath, payload - static_cast<double>(LOADER_LENGTH), repeat};
        const int failures = MeasureCheck(setup, bauds, blocks);
        fs::remove_all(dir, error);
        return failures == 0 ? 0 : 1;
    }

    const Setup setup{bin, dir, packagePath, 0.0, repeat};
    std::printf("%-9s %-6s %-9s %-10s %-9s %-12s %-14s %-9s %-11s %-11s %-13s %-14s %-15s %-15s %s\n", "baud",
                "block", "wall_s", "payload/s", "of_limit", "cpu_s/MiB", "floor_cpu/MiB", "vs_floor", "spread",
                "startup_ms", "net_vs_floor", "switches/frame", "quiet_us/frame", "quiet_vs_floor", "result");
    int failures = 0;
    for (uint32_t baud : bauds) {
        for (uint32_t block : blocks) {
            // A virtual machine's CPU time moves by half between identical runs,
            // and in stretches: each tool run is set against the floor run beside
            // it, and the ratio is the median of those pairs.
            const size_t frames = static_cast<size_t>(payload) / block;
            // The loader and an image of one block: what a run costs besides its frames.
            const std::string fixedPath = dir + "fixed.fwpkg";
            WritePackage(BuildPackage(HEADER_LENGTH + 2 * ENTRY_LENGTH + LOADER_LENGTH + block), fixedPath);
            const size_t fixedFrames = LOADER_LENGTH / block + 1;
            std::vector<Repeat> repeats;
            for (int i = 0; i < repeat; ++i) {
                Repeat once;
                once.fixed = BurnPackage(setup, fixedPath, baud, block, {});
                if (together) {
                    // The floor and the tool at the same time, each on the sender's
                    // core: whatever the host takes in a stretch falls on both.
                    std::thread floorThread([&] { once.floor = PtyFloor(baud, block, frames); });
                    once.run = BurnOnce(setup, baud, block, {});
                    floorThread.join();
                } else {
                    once.run = BurnOnce(setup, baud, block, {});
                    once.floor = PtyFloor(baud, block, frames);
                }
                repeats.push_back(once);
            }
            const double imageMiB = static_cast<double>(frames * block) / (1024.0 * 1024.0);
            std::vector<double> wall, cpuPerMiB, floorPerMiB, startup, ratio, netRatio, switches, floorSwitches;
            std::vector<double> toolRates, floorRates, toolPeriod, floorPeriod;
            bool ok = true;
            for (const Repeat& r : repeats) {
                ok = ok && r.Ok();
                if (!r.Ok() || r.floor.cpuSeconds <= 0) {
                    continue;
                }
                wall.push_back(r.run.wallSeconds);
                cpuPerMiB.push_back(r.run.cpuSeconds / payloadMiB);
                floorPerMiB.push_back(r.floor.cpuSeconds / imageMiB);
                startup.push_back(r.fixed.cpuSeconds);
                ratio.push_back(cpuPerMiB.back() / floorPerMiB.back());
                // Per frame beyond the fixed run, against the floor's per frame.
                if (frames > fixedFrames) {
                    const double netPerFrame =
                        (r.run.cpuSeconds - r.fixed.cpuSeconds) / static_cast<double>(frames - fixedFrames);
                    netRatio.push_back(netPerFrame / (r.floor.cpuSeconds / static_cast<double>(frames)));
                    switches.push_back(static_cast<double>(r.run.switches - r.fixed.switches) /
                                       static_cast<double>(frames - fixedFrames));
                    floorSwitches.push_back(static_cast<double>(r.floor.switches) / static_cast<double>(frames));
                    // Both senders are paced by the line: CPU per wall second
                    // times the wall time per frame is CPU per frame.
                    toolPeriod.push_back((r.run.wallSeconds - r.fixed.wallSeconds) /
                                         static_cast<double>(frames - fixedFrames));
                    floorPeriod.push_back(r.floor.wallSeconds / static_cast<double>(frames));
                    AddSteadyRates(r.run, r.fixed.wallSeconds, toolRates);
                    AddSteadyRates(r.floor, SLICE_S, floorRates);
                }
            }
            ok = ok && !ratio.empty();
            const double fastest = wall.empty() ? 0.0 : *std::min_element(wall.begin(), wall.end());
            const double rate = fastest > 0 ? payload / fastest : 0.0;
            const double limit = baud / 10.0;
            char spread[32] = "-";
            if (!ratio.empty()) {
                std::snprintf(spread, sizeof spread, "%.2f-%.2f", *std::min_element(ratio.begin(), ratio.end()),
                              *std::max_element(ratio.begin(), ratio.end()));
            }
            // The tool's switches per frame beyond the fixed run, then the floor's.
            char perFrame[32];
            std::snprintf(perFrame, sizeof perFrame, "%.2f/%.2f", Median(switches), Median(floorSwitches));
            // The quietest tenth of the steady slices, per frame, the tool's then the floor's.
            const double quietTool = LowQuantile(toolRates, QUIET_SHARE) * Median(toolPeriod) * 1e6;
            const double quietFloor = LowQuantile(floorRates, QUIET_SHARE) * Median(floorPeriod) * 1e6;
            char quiet[32];
            std::snprintf(quiet, sizeof quiet, "%.1f/%.1f", quietTool, quietFloor);
            std::printf("%-9u %-6u %-9.2f %-10.0f %-9.3f %-12.4f %-14.4f %-9.2f %-11s %-11.1f %-13.2f %-14s %-15s %-15.2f "
                        "%s\n",
                        baud, block, fastest, rate, rate / limit, Median(cpuPerMiB), Median(floorPerMiB), Median(ratio),
                        spread, Median(startup) * 1000.0, Median(netRatio), perFrame, quiet,
                        quietFloor > 0 ? quietTool / quietFloor : 0.0, ok ? "ok" : "FAILED");
            std::fflush(stdout);
            failures += ok ? 0 : 1;
        }
    }
    fs::remove_all(dir, error);
    return failures == 0 ? 0 : 1;
}
