// Round-trip latency of a 14-byte frame and its 6-byte reply through the
// serial transport over a pty pair, and the CPU an idle open port costs.
//
//   transport_roundtrip [--round-trips N] [--idle-seconds S]
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/monotonic_clock.h"
#include "transport/serport_transport.h"

namespace {

constexpr size_t FRAME_LENGTH = 14;
constexpr size_t REPLY_LENGTH = 6;
constexpr int WARM_UP_ROUND_TRIPS = 50;
constexpr uint32_t REPLY_WAIT_MS = 1000;

struct Pty {
    int master = -1;
    std::string slavePath;
};

bool OpenPty(Pty& pty)
{
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
        ptsname_r(pty.master, name, sizeof(name)) != 0) {
        return false;
    }
    pty.slavePath = name;
    return true;
}

// The board: answers every complete 14-byte frame with a 6-byte reply.
const uint8_t REPLY[REPLY_LENGTH] = {0xAA, 0x55, 0x06, 0x00, 0x5A, 0xA5};

void Board(int master, const std::atomic<bool>& stop)
{
    uint8_t buffer[4096];
    size_t partial = 0;
    while (!stop.load()) {
        struct pollfd pfd {master, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        ssize_t n = read(master, buffer, sizeof(buffer));
        if (n <= 0) {
            continue;
        }
        partial += static_cast<size_t>(n);
        while (partial >= FRAME_LENGTH) {
            partial -= FRAME_LENGTH;
            if (write(master, REPLY, sizeof(REPLY)) != static_cast<ssize_t>(sizeof(REPLY))) {
                return;
            }
        }
    }
}

bool RoundTrip(SerportTransport& transport, const uint8_t* frame)
{
    if (transport.Send(frame, FRAME_LENGTH) != FRAME_LENGTH) {
        return false;
    }
    uint8_t reply[REPLY_LENGTH];
    size_t got = 0;
    while (got < REPLY_LENGTH) {
        if (!transport.WaitForData(REPLY_WAIT_MS)) {
            return false;
        }
        got += transport.Receive(reply + got, static_cast<unsigned long>(REPLY_LENGTH - got));
    }
    return std::memcmp(reply, REPLY, REPLY_LENGTH) == 0;
}

double Percentile(std::vector<int64_t> sorted, double p)
{
    size_t index = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return static_cast<double>(sorted[std::min(index, sorted.size() - 1)]);
}

int64_t CpuMicroseconds()
{
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (static_cast<int64_t>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000 +
           usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
}

}  // namespace

int main(int argc, char** argv)
{
    int roundTrips = 2000;
    int idleSeconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--round-trips") == 0) {
            roundTrips = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--idle-seconds") == 0) {
            idleSeconds = std::max(1, std::atoi(argv[i + 1]));
        }
    }

    Pty pty;
    if (!OpenPty(pty)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    SerportTransport transport;
    Common::TRANSPORT_MODE_ATTR_U attr;
    attr.serial.portName = pty.slavePath;
    attr.serial.baudRate = 115200;
    if (!transport.Open(attr)) {
        std::fprintf(stderr, "cannot open %s\n", pty.slavePath.c_str());
        return 1;
    }

    std::atomic<bool> stop{false};
    std::thread board(Board, pty.master, std::cref(stop));
    uint8_t frame[FRAME_LENGTH] = {0xEF, 0xBE, 0xAD, 0xDE, 0x0E, 0x00, 0xF0, 0x0F, 0, 0, 0, 0, 0x12, 0x34};

    for (int i = 0; i < WARM_UP_ROUND_TRIPS; ++i) {
        RoundTrip(transport, frame);
    }
    std::vector<int64_t> samples;
    samples.reserve(static_cast<size_t>(roundTrips));
    int failures = 0;
    for (int i = 0; i < roundTrips; ++i) {
        int64_t start = Platform::MonotonicUs();
        if (!RoundTrip(transport, frame)) {
            ++failures;
            continue;
        }
        samples.push_back(Platform::MonotonicUs() - start);
    }
    stop.store(true);
    board.join();
    if (samples.empty()) {
        std::fprintf(stderr, "no round trip completed\n");
        return 1;
    }
    std::sort(samples.begin(), samples.end());
    std::printf("round trip, %zu-byte frame and %zu-byte reply over a pty, %d round trips:\n", FRAME_LENGTH,
                REPLY_LENGTH, roundTrips);
    std::printf("  median %.0f us, 99th percentile %.0f us, max %lld us, failures %d\n", Percentile(samples, 0.5),
                Percentile(samples, 0.99), static_cast<long long>(samples.back()), failures);

    // Idle: the port stays open and nothing arrives.
    int64_t cpuBefore = CpuMicroseconds();
    int64_t wallBefore = Platform::MonotonicUs();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    int64_t cpu = CpuMicroseconds() - cpuBefore;
    int64_t wall = Platform::MonotonicUs() - wallBefore;
    std::printf("idle open port over %d s: CPU %lld us = %.3f %%\n", idleSeconds, static_cast<long long>(cpu),
                100.0 * static_cast<double>(cpu) / static_cast<double>(wall));

    transport.Close();
    close(pty.master);
    return failures == 0 ? 0 : 1;
}
