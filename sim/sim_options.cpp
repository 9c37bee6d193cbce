#include "sim/sim_options.h"

#include "cmdline/companion_command_line.h"

#include <limits>

namespace Sim {

namespace {

constexpr const char* DESCRIPTION =
    "One virtual board on a pseudo-terminal. Prints the port's path on its first line and serves one board "
    "until the tool closes the port after a reset, or until SIGTERM/SIGINT.\n"
    "Numbers are 0x hexadecimal, or decimal with an optional k, m or g.";

template <typename T>
void AddNumber(CLI::App& app, const std::string& name, T& target, uint64_t low, uint64_t high,
               const std::string& meaning)
{
    app.add_option(name, target, meaning)->type_name("N")->transform(CompanionCli::NumberIn(low, high));
}

void AddFaults(CLI::App& app, FaultPlan& faults)
{
    constexpr uint64_t INT_LIMIT = std::numeric_limits<int>::max();
    constexpr uint64_t NOISE_LIMIT = 1 << 20;
    AddNumber(app, "--noise", faults.noiseBeforeAnswers, 0, NOISE_LIMIT, "junk bytes before every answer frame");
    AddNumber(app, "--nak-frame", faults.nakFrame, 1, INT_LIMIT,
              "command frame N (from 1) gets a negative answer and is not carried out");
    AddNumber(app, "--corrupt-answer", faults.corruptAnswer, 1, INT_LIMIT, "answer N goes out with a broken check");
    AddNumber(app, "--drop-answer", faults.dropAnswer, 1, INT_LIMIT, "answer N is not sent");
    app.add_flag("--silent", faults.silent, "no boot text, no answers")->disable_flag_override();
    AddNumber(app, "--close-after", faults.closeAfterBytes, 1, std::numeric_limits<uint64_t>::max(),
              "pull the cable after N received bytes");
    app.add_flag("--fall-back-to-rom", faults.fallBackToRom, "TypeSix: the ssb never starts, the ROM talks again")
        ->disable_flag_override();
    app.add_flag("--ssb-running", faults.ssbRunning, "TypeSix: an ssb already runs at power-on")
        ->disable_flag_override();
}

}  // namespace

std::optional<int> ParseSimOptions(const std::vector<std::string>& arguments, SimOptions& options, std::ostream& out,
                                   std::ostream& err)
{
    CLI::App app(DESCRIPTION, "tarnwick-sim");
    CompanionCli::Configure(app);
    app.add_option("--family", options.family, "the board to play")
        ->required()
        ->check(CLI::IsMember({"vb27", "qn4180", "typesix"}));
    app.add_option("--link", options.link, "symbolic link to the port, removed again at the end");
    app.add_option("--flash", options.flashFile, "flash contents: loaded at start when it exists, saved at the end");
    CLI::Option* flashSize = app.add_option("--flash-size", options.flashSize,
                                            "flash size (default 8m, or the size of an existing --flash file)");
    flashSize->type_name("N")->transform(CompanionCli::NumberIn(1, Flash::MAX_SIZE));
    app.add_option("--report", options.reportFile, "JSON report written at the end");
    AddNumber(app, "--line-baud", options.lineBaud, 1, std::numeric_limits<uint32_t>::max(),
              "pace the line like a UART at B baud");
    AddFaults(app, options.faults);

    const std::optional<int> done = CompanionCli::Parse(app, arguments, out, err);
    options.flashSizeGiven = flashSize->count() > 0;
    return done;
}

}  // namespace Sim
