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

// A fault option that may be given again and again, each value in its own
// syntax; the values are parsed into the plan once the line is read.
struct Repeated {
    std::vector<std::string> values;
};

template <typename Parsed>
CLI::Validator SyntaxOf(bool (*parse)(const std::string&, Parsed&, std::string&))
{
    return CLI::Validator(
        [parse](std::string& text) {
            Parsed parsed;
            std::string error;
            return parse(text, parsed, error) ? std::string() : error;
        },
        "");
}

void AddRepeated(CLI::App& app, const std::string& name, Repeated& target, const CLI::Validator& syntax,
                 const std::string& typeName, const std::string& meaning)
{
    app.add_option(name, target.values, meaning)
        ->type_name(typeName)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(syntax);
}

struct RepeatedFaults {
    Repeated nak, corrupt, drop, blockAgain, loseBlockAck, badCell;
};

void AddFaults(CLI::App& app, FaultPlan& faults, RepeatedFaults& repeated)
{
    constexpr uint64_t INT_LIMIT = std::numeric_limits<int>::max();
    constexpr uint64_t NOISE_LIMIT = 1 << 20;
    const CLI::Validator answer = SyntaxOf<AnswerSelector>(ParseAnswerSelector);
    const CLI::Validator block = SyntaxOf<BlockSelector>(ParseBlockSelector);
    AddNumber(app, "--noise", faults.noiseBeforeAnswers, 0, NOISE_LIMIT, "junk bytes before every answer frame");
    AddNumber(app, "--nak-frame", faults.nakFrame, 1, INT_LIMIT,
              "command frame N (from 1) gets a negative answer and is not carried out");
    AddRepeated(app, "--nak-answer", repeated.nak, answer, "ANSWER",
                "this answer is negative (N, CODE@K or close@K); a command is not carried out, a closed "
                "transfer not programmed");
    AddRepeated(app, "--corrupt-answer", repeated.corrupt, SyntaxOf<AnswerFault>(ParseGarbledAnswer),
                "ANSWER[:check|bit|cut]",
                "this answer is spoiled on the line: a wrong check, a flipped bit, cut short");
    AddRepeated(app, "--drop-answer", repeated.drop, answer, "ANSWER", "this answer is not sent");
    AddRepeated(app, "--block-again", repeated.blockAgain, block, "BLOCK",
                "Vb27/Qn4180: this intact YMODEM data block (N or TRANSFER:BLOCK) is asked for again with C");
    AddRepeated(app, "--lose-block-ack", repeated.loseBlockAck, block, "BLOCK",
                "Vb27/Qn4180: the ACK of this YMODEM data block is lost");
    app.add_option("--lose-read-ack", faults.lostReadBackAcks,
                   "Vb27/Qn4180: the N-th ACK the tool sends for a read-back data block or EOT (from 1) is lost")
        ->type_name("N")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->transform(CompanionCli::NumberIn(1, std::numeric_limits<uint64_t>::max()));
    AddRepeated(app, "--bad-cell", repeated.badCell, SyntaxOf<BadCell>(ParseBadCell), "ADDRESS[:BIT]",
                "the flash byte at ADDRESS stores bit BIT (default 0) wrong");
    app.add_flag("--silent", faults.silent, "no boot text, no answers")->disable_flag_override();
    AddNumber(app, "--close-after", faults.closeAfterBytes, 1, std::numeric_limits<uint64_t>::max(),
              "pull the cable after N received bytes");
    app.add_flag("--fall-back-to-rom", faults.fallBackToRom, "TypeSix: the ssb never starts, the ROM talks again")
        ->disable_flag_override();
    app.add_flag("--ssb-running", faults.ssbRunning, "TypeSix: an ssb already runs at power-on")
        ->disable_flag_override();
}

// The repeated values into the plan; they passed their syntax checks already.
void TakeRepeated(const RepeatedFaults& repeated, FaultPlan& faults)
{
    std::string ignored;
    const auto answers = [&](const Repeated& from, AnswerFault::Kind kind) {
        for (const std::string& text : from.values) {
            AnswerFault fault;
            if (kind == AnswerFault::Kind::GARBLED) {
                ParseGarbledAnswer(text, fault, ignored);
            } else {
                fault.kind = kind;
                ParseAnswerSelector(text, fault.which, ignored);
            }
            faults.answers.push_back(fault);
        }
    };
    answers(repeated.nak, AnswerFault::Kind::NEGATIVE);
    answers(repeated.corrupt, AnswerFault::Kind::GARBLED);
    answers(repeated.drop, AnswerFault::Kind::DROPPED);
    const auto blocks = [&](const Repeated& from, BlockFault::Kind kind) {
        for (const std::string& text : from.values) {
            BlockFault fault;
            fault.kind = kind;
            ParseBlockSelector(text, fault.which, ignored);
            faults.blocks.push_back(fault);
        }
    };
    blocks(repeated.blockAgain, BlockFault::Kind::ASK_AGAIN);
    blocks(repeated.loseBlockAck, BlockFault::Kind::ACK_LOST);
    for (const std::string& text : repeated.badCell.values) {
        BadCell cell;
        ParseBadCell(text, cell, ignored);
        faults.badCells.push_back(cell);
    }
}

// A TypeSix board takes no YMODEM transfer: faults of one cannot apply.
void CheckFamily(const std::string& family, const FaultPlan& faults)
{
    if (family != "typesix") {
        return;
    }
    if (!faults.blocks.empty() || !faults.lostReadBackAcks.empty()) {
        throw CLI::ValidationError("--block-again/--lose-block-ack/--lose-read-ack",
                                   "TypeSix boards take no YMODEM transfer");
    }
    for (const AnswerFault& fault : faults.answers) {
        if (fault.which.by == AnswerSelector::By::CLOSING_ACK) {
            throw CLI::ValidationError(fault.which.text, "TypeSix boards send no closing ACK");
        }
    }
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
    RepeatedFaults repeated;
    AddFaults(app, options.faults, repeated);
    app.final_callback([&]() {
        TakeRepeated(repeated, options.faults);
        CheckFamily(options.family, options.faults);
    });

    const std::optional<int> done = CompanionCli::Parse(app, arguments, out, err);
    options.flashSizeGiven = flashSize->count() > 0;
    return done;
}

}  // namespace Sim
