// tarnwick-sim: one virtual board on a pseudo-terminal, until a signal or
// until the tool closes the line after it has reset the board.
#include "sim/board.h"
#include "sim/fault_schedule.h"
#include "sim/pty_line.h"
#include "sim/pty_rate.h"
#include "sim/sim_options.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <poll.h>

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal)
{
    g_stopSignal = signal;
}

int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

constexpr int64_t TICK_NS = 10000000;  // the board's clock for its own timers

// Signals are blocked except inside ppoll, so a stop request cannot slip in
// between the check and the wait.
sigset_t BlockStopSignals()
{
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    sigdelset(&previous, SIGTERM);
    sigdelset(&previous, SIGINT);
    return previous;
}

std::unique_ptr<Sim::Board> MakeBoard(const std::string& family, Sim::BoardEnv env)
{
    if (family == "typesix") {
        return Sim::MakeTypeSixBoard(env);
    }
    return Sim::MakeVb27Board(env, family == "qn4180");
}

// Serves the board; returns why it ended.
std::string Serve(Sim::PtyLine& line, Sim::Board& board, Sim::Report& report, Sim::FaultSchedule& faults,
                  const sigset_t& waitMask)
{
    uint32_t lineRate = 0;
    for (;;) {
        int64_t now = NowNs();
        board.OnTick(now / 1000000);
        line.Flush(now);
        line.LookForTool(now);
        if (g_stopSignal != 0) {
            return std::string("stopped by signal ") + std::to_string(g_stopSignal);
        }
        pollfd fd{line.Fd(), line.PollEvents(now), 0};
        const int64_t timeout = line.PollTimeoutNs(now, TICK_NS);
        const timespec wait{static_cast<time_t>(timeout / 1000000000), static_cast<long>(timeout % 1000000000)};
        const int ready = ppoll(&fd, 1, &wait, &waitMask);
        if (ready < 0 && errno != EINTR) {
            return std::string("poll failed");
        }
        now = NowNs();
        board.OnTick(now / 1000000);
        const std::vector<uint8_t> in = line.Receive(ready > 0 ? fd.revents : 0, now);
        if (!in.empty()) {
            // Looked at before the board takes the bytes: they came at the
            // rate the tool's side is set to now.
            const uint32_t rate = Sim::ReadPtyRate(line.Fd());
            if (rate != 0 && rate != lineRate) {
                lineRate = rate;
                report.AddLineRate(rate);
            }
            board.OnBytes(in.data(), in.size());
        }
        line.Flush(now);
        if (line.Closed()) {
            const std::string after = "after " + std::to_string(line.Received()) + " received bytes";
            report.AddEvent("line closed " + after + " as the fault plan asks");
            faults.Fired(Sim::FaultSchedule::Flag::CLOSE_AFTER, after);
            return "line closed";
        }
        if (line.TakePeerLeft()) {
            if (board.WasReset()) {
                return "the tool closed the line after the reset";
            }
            report.AddEvent("the tool closed the line before any reset; waiting for it to come back");
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Sim::SimOptions options;
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (const std::optional<int> done = Sim::ParseSimOptions(arguments, options, std::cout, std::cerr)) {
        return *done;
    }
    std::string error;
    const sigset_t waitMask = BlockStopSignals();

    std::FILE* probe = options.flashFile.empty() ? nullptr : std::fopen(options.flashFile.c_str(), "rb");
    const bool flashFileExists = probe != nullptr;
    if (probe != nullptr) {
        std::fclose(probe);
    }
    // An existing flash file is the part, unless a size is given.
    Sim::Flash flash(flashFileExists && !options.flashSizeGiven ? 0 : static_cast<size_t>(options.flashSize));
    if (flashFileExists && !flash.Load(options.flashFile)) {
        std::fprintf(stderr, "tarnwick-sim: cannot load flash from %s\n", options.flashFile.c_str());
        return 2;
    }
    flash.SetBadCells(options.faults.badCells);
    Sim::PtyLine::Settings settings;
    settings.lineBaud = options.lineBaud;
    settings.noise = options.faults.noiseBeforeAnswers;
    settings.closeAfter = options.faults.closeAfterBytes;
    Sim::PtyLine line(settings);
    if (!line.Open(error) || (!options.link.empty() && !line.MakeLink(options.link, error))) {
        std::fprintf(stderr, "tarnwick-sim: %s\n", error.c_str());
        return 2;
    }
    std::printf("%s\n", line.SlavePath().c_str());
    std::fflush(stdout);

    Sim::Report report;
    report.SetFamily(options.family);
    Sim::FaultSchedule faults(options.faults, report);
    std::unique_ptr<Sim::Board> board = MakeBoard(options.family, Sim::BoardEnv{line, flash, report, faults});
    const std::string why = Serve(line, *board, report, faults, waitMask);
    report.AddEvent("simulator ended: " + why);
    report.GetTally().received = line.Received();

    int result = 0;
    if (!options.flashFile.empty() && !flash.Save(options.flashFile)) {
        std::fprintf(stderr, "tarnwick-sim: cannot save flash to %s\n", options.flashFile.c_str());
        result = 1;
    }
    if (!options.reportFile.empty() && !report.Save(options.reportFile, flash)) {
        std::fprintf(stderr, "tarnwick-sim: cannot write the report %s\n", options.reportFile.c_str());
        result = 1;
    }
    return result;
}
