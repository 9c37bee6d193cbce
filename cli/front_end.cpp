#include "cli/front_end.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/cancel_signals.h"
#include "cli/port_listing.h"
#include "cli/run_observer.h"
#include "common/common_util.h"
#include "common/console_output.h"
#include "common/trace_line.h"
#include "device/device_library.h"

namespace FrontEnd {

namespace {

using BurnInfo::BurnContext;

constexpr const char* COMMAND_LINE_ONLY_BURN = "-onlyburn:";
constexpr const char* BURN_INTERVAL_PREFIX = "-burninterval:";
constexpr const char* ERASE_MODE_PREFIX = "-erasemode:";
constexpr const char* PACKAGE_SIZE_PREFIX = "-packagesize:";
constexpr const char* RESET_PREFIX = "-reset";
// --read: the output file, the flash address and the number of bytes.
constexpr const char* READ_FILE_PREFIX = "-readfile:";
constexpr const char* READ_ADDRESS_PREFIX = "-readaddr:";
constexpr const char* READ_SIZE_PREFIX = "-readsize:";
// Modem-line reset before the handshake, the run's JSON report, and the
// machine-readable event lines for a program that drives the tool.
constexpr const char* RESET_SEQUENCE_PREFIX = "-resetseq:";
constexpr const char* REPORT_PREFIX = "-report:";
constexpr const char* EVENTS_PREFIX = "-events:";

// Every option of the option pass with the arguments it takes after it; an
// argument that is none of them nor such a value is a typo worth a warning.
struct OptionForm {
    const char* name;
    bool prefix;  // the value is the rest of the argument
    int values;   // arguments after it that are its values
};
constexpr OptionForm OPTION_FORMS[] = {
    {"-n", false, 1}, {"--name", false, 1}, {"-m", false, 2}, {"--mode", false, 2},  // mode and port
    {"-f", false, 1}, {"--file", false, 1}, {"-b", false, 1}, {"--baudRate", false, 1},
    {"-s", false, 1}, {"--stopBit", false, 1}, {"-p", false, 1}, {"--parity", false, 1},
    {"--config", false, 1}, {"-l", false, 1}, {"--load", false, 1}, {"-e", false, 1},
    {"--eraseSize", false, 1}, {"-re", false, 1}, {"-c", false, 1}, {"-elf", false, 1},
    {"-txt", false, 1}, {COMMAND_LINE_ONLY_BURN, true, 0}, {BURN_INTERVAL_PREFIX, true, 0},
    {ERASE_MODE_PREFIX, true, 0}, {"-onlyeraseall", false, 0}, {PACKAGE_SIZE_PREFIX, true, 0},
    {"-switchafterloader", false, 0}, {"-beforereset", false, 0}, {READ_FILE_PREFIX, true, 0},
    {READ_ADDRESS_PREFIX, true, 0}, {READ_SIZE_PREFIX, true, 0}, {RESET_SEQUENCE_PREFIX, true, 0},
    {REPORT_PREFIX, true, 0}, {EVENTS_PREFIX, true, 0}, {RESET_PREFIX, true, 0},
};

bool Is(const char* argument, const char* text)
{
    return std::strcmp(argument, text) == 0;
}

bool Is(const char* argument, const char* shortForm, const char* longForm)
{
    return Is(argument, shortForm) || Is(argument, longForm);
}

bool StartsWith(const char* argument, const char* prefix)
{
    return std::strncmp(argument, prefix, std::strlen(prefix)) == 0;
}

// An option value stored in 32 bits; unreadable text fails the option pass
// with the option and the text rather than becoming a silent 0.
bool ReadOptionNumber(const BurnContext* context, const char* option, const char* text, int& value)
{
    if (!CommonUtil::TryConvertToInt32(text, value)) {
        // Prefix options ("-readsize:") already end in their separator.
        const size_t length = std::strlen(option);
        const char* separator = (length > 0 && option[length - 1] == ':') ? " " : ": ";
        context->Refuse("error: Invalid number for option %s%s\"%s\"\n", option, separator, text);
        return false;
    }
    return true;
}

bool SetPacketSizeOption(const BurnContext* context, const char* text)
{
    const int size = std::atoi(text);
    if (size != 1024 && size != 2048 && size != 4096 && size != 8192) {
        context->Refuse("error: Invalid packagesize %d, valid values are 1024, 2048, 4096, 8192\n", size);
        return false;
    }
    ::SetPacketSize(static_cast<uint32_t>(size));
    return true;
}

bool SetResetSequenceOption(BurnContext* context, const char* text)
{
    Common::ResetSequence sequence;
    std::string why;
    if (!Common::ParseResetSequence(text, sequence, why)) {
        context->Refuse("error: Invalid reset sequence for option %s \"%s\": %s\n", RESET_SEQUENCE_PREFIX, text,
                        why.c_str());
        return false;
    }
    context->SetResetSequence(sequence, true);
    return true;
}

// The options after the basic and serial ones, first match only. Options that
// take a value do nothing when they stand last.
bool ParseOptionTable(int argc, char** argv, BurnContext* context, int index)
{
    const char* option = argv[index];
    const bool hasValue = index + 1 < argc;
    const char* value = hasValue ? argv[index + 1] : nullptr;
    int number = 0;

    if (Is(option, "-l", "--load")) {
        if (hasValue) {
            context->SetLoaderPath(value);
        }
    } else if (Is(option, "-e", "--eraseSize")) {
        if (hasValue) {
            if (!ReadOptionNumber(context, option, value, number)) {
                return false;
            }
            context->SetEraseSize(number);
        }
    } else if (Is(option, "-re")) {
        if (hasValue) {
            context->SetReboot(std::atoi(value));
        }
    } else if (Is(option, "-c")) {
        if (hasValue) {
            if (!ReadOptionNumber(context, option, value, number)) {
                return false;
            }
            context->SetBurnCheck(number);
        }
    } else if (Is(option, "-elf")) {
        if (hasValue) {
            context->SetElfFilePath(value);
        }
    } else if (Is(option, "-txt")) {
        if (hasValue) {
            context->SetTxtFilePath(value);
        }
    } else if (StartsWith(option, COMMAND_LINE_ONLY_BURN)) {
        context->AddOnlyBurnName(option + std::strlen(COMMAND_LINE_ONLY_BURN));
    } else if (StartsWith(option, BURN_INTERVAL_PREFIX)) {
        context->SetBurnInterval(std::atoi(option + std::strlen(BURN_INTERVAL_PREFIX)));
    } else if (StartsWith(option, ERASE_MODE_PREFIX)) {
        context->SetEraseMode(std::atoi(option + std::strlen(ERASE_MODE_PREFIX)));
    } else if (Is(option, "-onlyeraseall")) {
        context->SetOnlyEraseAll(true);
    } else if (StartsWith(option, PACKAGE_SIZE_PREFIX)) {
        return SetPacketSizeOption(context, option + std::strlen(PACKAGE_SIZE_PREFIX));
    } else if (Is(option, "-switchafterloader")) {
        context->SetSwitchAfterLoader(true);
    } else if (Is(option, "-beforereset")) {
        context->SetBeforeReset(true);
    } else if (StartsWith(option, READ_FILE_PREFIX)) {
        context->SetReadFile(option + std::strlen(READ_FILE_PREFIX));
    } else if (StartsWith(option, READ_ADDRESS_PREFIX)) {
        if (!ReadOptionNumber(context, READ_ADDRESS_PREFIX, option + std::strlen(READ_ADDRESS_PREFIX), number)) {
            return false;
        }
        context->SetAddress(number);
    } else if (StartsWith(option, READ_SIZE_PREFIX)) {
        if (!ReadOptionNumber(context, READ_SIZE_PREFIX, option + std::strlen(READ_SIZE_PREFIX), number)) {
            return false;
        }
        context->SetReadSize(number);
    } else if (StartsWith(option, RESET_SEQUENCE_PREFIX)) {
        return SetResetSequenceOption(context, option + std::strlen(RESET_SEQUENCE_PREFIX));
    } else if (StartsWith(option, REPORT_PREFIX) || StartsWith(option, EVENTS_PREFIX)) {
        // Taken by the run itself before the settings are built.
    } else if (StartsWith(option, RESET_PREFIX)) {
        const char* colon = std::strchr(option, ':');
        context->SetReboot(colon == nullptr ? 1 : std::atoi(colon + 1));
    }
    return true;
}

// The value of the last prefix option of that name among the options; empty without one.
std::string LastPrefixValue(int argc, char** argv, const char* prefix)
{
    std::string value;
    for (int i = EXTRA_START; i < argc; ++i) {
        if (StartsWith(argv[i], prefix)) {
            value = argv[i] + std::strlen(prefix);
        }
    }
    return value;
}

// Values taken by the option argument spells; -1 when it spells none.
int OptionValueCount(const char* argument)
{
    for (const OptionForm& form : OPTION_FORMS) {
        if (form.prefix ? StartsWith(argument, form.name) : Is(argument, form.name)) {
            return form.values;
        }
    }
    return -1;
}

int RunOperation(int argc, char** argv, const char* name, int (BurnerWorkerBase::*operation)(),
                 const char* failed, const char* succeeded)
{
    RunObserver observer(LastPrefixValue(argc, argv, REPORT_PREFIX), LastPrefixValue(argc, argv, EVENTS_PREFIX));
    Common::Outcome settingsFailure;
    std::unique_ptr<BurnerWorkerBase> job = GetBurner(argc, argv, &settingsFailure);
    if (!job) {
        settingsFailure.code = BurnInfo::PARAM_ERROR;
        observer.Finish(nullptr, name, settingsFailure);
        return BurnInfo::PARAM_ERROR;
    }
    job->AddEventReceiver(&observer);
    const int result = ((*job).*operation)();
    if (failed != nullptr) {
        ConsoleOutput::Write(result != BurnInfo::SUCCESS ? failed : succeeded);
    }
    // Before the job goes: its destructor closes the port, which a driver of
    // many boards waits for only as long as the report is not there.
    observer.Finish(job.get(), name, job->GetOutcome());
    return result;
}

} // namespace

int RunFrontEnd(int argc, char** argv)
{
    if (argv == nullptr || argc < 2) {
        Help();
        return 1;
    }
    CancelSignals::Install();
    const char* operation = argv[1];
    if (Is(operation, "--burn")) {
        return Burn(argc, argv);
    }
    if (Is(operation, "--erase")) {
        return Erase(argc, argv);
    }
    if (Is(operation, "--read")) {
        return Read(argc, argv);
    }
    if (Is(operation, "--ports")) {
        return PrintSerialPorts(std::cout, std::cerr);
    }
    if (Is(operation, "-v", "-version")) {
        ConsoleOutput::Printf("TarnwickCmd Version: %s\n", VERSION);
        return 0;
    }
    // "-h", "-help" and everything else, "--help" and "--version" included.
    Help();
    return 0;
}

void Help()
{
    static const char* const LINES[] = {
        "tarnwickcmd.exe --burn [-f filePath] [-p programmerPath]\n",
        "This command will burn image to the flash according to the partition table filePath.\n",
        "tarnwickcmd.exe --erase [-f filePath] [-p programmerPath]\n",
        "This command will erase the specified flash content according to the partition table filePath.\n",
        "tarnwickcmd.exe --read [-f filePath] [-p programmerPath]\n",
        "This command will read the flash data into a file according to the partition table filePath.\n",
        "First of all, you need to configure the burn.config file.\n",
        "\nIf you do not want to configure the config file, you can enter the following command to burn:\n",
        "tarnwickcmd.exe --burn  -n <chipName>  <mode>  <serial port>  <speed>  <stop bits>  <parity>  [filePath]\n",
        "tarnwickcmd.exe --burn  -n chipName  -m serial       COM0      115200        0          0     -f  file\n",
        "general options:\n",
        "--help    | -h    usage message.\n",
        "--version | -v    version number and copyright.\n",
        "--burn    | -b    This command will burn image to the flash according to the partition table filePath.\n",
        "                  you need to configure the burn.config file.\n",
        "--erase   | -e    This command will erase the specified flash content according to the partition table "
        "filePath.\n",
        "                  you need to configure the burn.config file.\n",
        "--read    | -r    This command will read the flash data into a file according to the partition table "
        "filePath.\n",
        "                  you need to configure the burn.config file.\n",
        "network ports (the port name after -m serial, or serialPort= in burn.config):\n",
        "rfc2217://HOST:PORT  a serial server port with RFC 2217 line control; the rate can change.\n",
        "socket://HOST:PORT   a raw TCP port of a serial server; the line keeps the server's rate.\n",
        "                     HOST is a name, an IPv4 address or an IPv6 address in brackets.\n",
        "read options:\n",
        "-readfile:<path>  file that receives the flash data (never the package given with -f).\n",
        "-readaddr:<n>     flash address to read from (0x hexadecimal, or decimal with k, m or g).\n",
        "-readsize:<n>     number of bytes to read (same number syntax).\n",
        "-resetseq:<seq>   reset the board through DTR/RTS before the handshake, e.g. D0|R1|W0.1|D1|R0.\n",
        "-report:<path>    write a JSON report of the run when it ends (also on failure and cancel).\n",
        "--ports           list the serial ports of this machine, one a line, with the USB description.\n",
    };
    for (const char* line : LINES) {
        ConsoleOutput::Write(line);
    }
}

int Burn(int argc, char** argv)
{
    return RunOperation(argc, argv, "burn", &BurnerWorkerBase::Burn, "\nBurned failed.\n", "\nBurned successfully.\n");
}

int Erase(int argc, char** argv)
{
    return RunOperation(argc, argv, "erase", &BurnerWorkerBase::Erase, "Erase failed.\n", "Erase successfully.\n");
}

int Read(int argc, char** argv)
{
    return RunOperation(argc, argv, "read", &BurnerWorkerBase::Read, nullptr, nullptr);
}

std::unique_ptr<BurnerWorkerBase> GetBurner(int argc, char** argv, Common::Outcome* failure)
{
    std::unique_ptr<BurnContext> context(new (std::nothrow) BurnContext());
    if (!context) {
        ConsoleOutput::Write("error: new BurnContext class failed!\n");
        return nullptr;
    }
    std::unique_ptr<BurnerWorkerBase> job;
    if (InitBurnParam(argc, argv, context.get()) == BurnInfo::SUCCESS) {
        const int chipType = context->GetChipType();
        const BurnContext* settings = context.get();
        job = NewBurnerWorker(chipType, std::move(context));
        if (!job && failure != nullptr) {
            *failure = settings->GetFailure();
        }
    } else if (failure != nullptr) {
        *failure = context->GetFailure();
    }
    return job;
}

int InitBurnParam(int argc, char** argv, BurnContext* context)
{
    ParseConfigParam(argc, argv, context);
    if (!context->LoadBurnConfig()) {
        return BurnInfo::LOAD_FILE_FAILED;
    }
    if (!ParseExtraParam(argc, argv, context)) {
        context->Refuse("error: Parse command arguments failed!\n");
        return BurnInfo::PARAM_ERROR;
    }
    if (!context->CheckBurnParameters()) {
        return BurnInfo::PARAM_ERROR;
    }
    if (!context->LoadChipProperties()) {
        context->Refuse("error: Load chip properties file failed!\n");
        return BurnInfo::LOAD_FILE_FAILED;
    }
    if (!context->ParseBurnFile()) {
        context->Refuse("error: Parse partition burn file failed!\n");
        return BurnInfo::LOAD_FILE_FAILED;
    }
    return BurnInfo::SUCCESS;
}

std::unique_ptr<BurnerWorkerBase> NewBurnerWorker(int chipType, std::unique_ptr<BurnContext> context)
{
    if (context->GetDepartment() != BurnInfo::CONNECTION_CHIP) {
        context->Refuse("error: Invalid chiptype :%d\n", chipType);
        return nullptr;
    }
    return Jobs::CreateBurnerWorker(chipType, std::move(context));
}

void ParseConfigParam(int argc, char** argv, BurnContext* context)
{
    // A "--config" in the last position has no path and is ignored.
    for (int i = EXTRA_START; i < argc - 1; ++i) {
        if (Is(argv[i], "--config")) {
            context->SetConfigPath(argv[i + 1]);
        }
    }
}

std::vector<std::string> UnknownOptions(int argc, char** argv)
{
    std::vector<std::string> unknown;
    int valuesLeft = 0;
    for (int i = EXTRA_START; i < argc; ++i) {
        const int values = OptionValueCount(argv[i]);
        // Text that is no value and no option is left alone, as the port,
        // rate, stop bits and parity words of the usage's own example are; a
        // dash marks what was meant as an option.
        if (values < 0 && valuesLeft == 0 && argv[i][0] == '-') {
            unknown.push_back(argv[i]);
        }
        // A value that spells an option is taken as one as well.
        valuesLeft = std::max({valuesLeft - 1, values, 0});
    }
    return unknown;
}

bool ParseExtraParam(int argc, char** argv, BurnContext* context)
{
    // The run goes on as before; only a typo no longer goes unseen.
    ConsoleOutput::Flush();
    for (const std::string& argument : UnknownOptions(argc, argv)) {
        std::fprintf(stderr, "warning: unknown option %s is ignored\n", argument.c_str());
    }
    Common::PrintTraceLine("\n[DEBUG PARSE] argc=%d, EXTRA_START=%d\n", argc, EXTRA_START);
    // Values are not skipped: each one is examined as an argument in its turn.
    for (int i = EXTRA_START; i < argc; ++i) {
        Common::PrintTraceLine("[DEBUG PARSE] argv[%d]=%s\n", i, argv[i]);
        const bool hasValue = i + 1 < argc;
        if (hasValue) {
            if (!ParseExtraBasicParam(argc, argv, context, i + 1, i)) {
                return false;
            }
            if (!ParseExtraSerialParam(argv, context, i + 1, i)) {
                return false;
            }
        }
        ParseExtraSocketParam(argv, context, i + 1, i);
        if (!ParseOptionTable(argc, argv, context, i)) {
            return false;
        }
    }
    return true;
}

bool ParseExtraBasicParam(int argc, char** argv, BurnContext* context, int valueIndex, int optionIndex)
{
    const char* option = argv[optionIndex];
    if (Is(option, "-n", "--name")) {
        context->SetChipName(argv[valueIndex]);
    } else if (Is(option, "-m", "--mode")) {
        return ParseTransportWay(argc, valueIndex, argv, context);
    } else if (Is(option, "-f", "--file")) {
        context->SetFilePath(argv[valueIndex]);
    }
    return true;
}

bool ParseExtraSerialParam(char** argv, BurnContext* context, int valueIndex, int optionIndex)
{
    const char* option = argv[optionIndex];
    if (Is(option, "-b", "--baudRate")) {
        int rate = 0;
        if (!BurnInfo::ReadBaudRate(argv[valueIndex], rate)) {
            context->Refuse("error: Invalid number for option %s: \"%s\"\n", option, argv[valueIndex]);
            return false;
        }
        context->SetBaudRate(rate);
    } else if (Is(option, "-s", "--stopBit")) {
        context->SetStopBit(std::atoi(argv[valueIndex]));
    } else if (Is(option, "-p", "--parity")) {
        context->SetParity(std::atoi(argv[valueIndex]));
    }
    return true;
}

// The slot for socket options; a serial server is named by the port name,
// which ParseExtraBasicParam took.
void ParseExtraSocketParam(char** /*argv*/, BurnContext* /*context*/, int /*valueIndex*/, int /*optionIndex*/) {}

bool ParseTransportWay(int argc, int index, char** argv, BurnContext* context)
{
    const char* mode = argv[index];
    if (!Is(mode, "serial")) {
        context->Refuse("error: Un123know %s transport: %s!\n", "serial", mode);
        return false;
    }
    // "-m serial" standing last has no port to take.
    if (index + 1 >= argc) {
        context->Refuse("error: Serial port name missing after mode %s!\n", mode);
        return false;
    }
    context->SetTransportWay(BurnInfo::TransportWay::SERIAL);
    context->SetSerialPort(argv[index + 1]);
    return true;
}

} // namespace FrontEnd
