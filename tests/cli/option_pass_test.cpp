// The option pass and the --config pass on a context: what each option stores,
// values examined in their turn, the last-position rule, and the failures that
// stop the pass instead of storing a wrong value. What the built tool prints
// for these is checked in installation_run_test.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/front_end.h"
#include "device/burn_chip_base.h"

namespace {

using BurnInfo::BurnContext;
using BurnInfo::TransportWay;

// A null-terminated argument vector like the one a process receives.
class CommandLine {
public:
    explicit CommandLine(std::vector<std::string> arguments) : m_storage(std::move(arguments))
    {
        for (std::string& argument : m_storage) {
            m_pointers.push_back(argument.data());
        }
        m_pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(m_storage.size()); }
    char** argv() { return m_pointers.data(); }

private:
    std::vector<std::string> m_storage;
    std::vector<char*> m_pointers;
};

// The output without the two "[DEBUG PARSE]" lines every pass prints.
std::string WithoutDebugLines(const std::string& output)
{
    std::string rest;
    for (size_t start = 0, end = 0; start < output.size(); start = end) {
        end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end + 1;
        const std::string line = output.substr(start, end - start);
        if (line != "\n" && line.rfind("[DEBUG PARSE]", 0) != 0) {
            rest += line;
        }
    }
    return rest;
}

struct OptionCase {
    std::vector<std::string> args; // after the program name
    bool accepted;
    std::string printed;
    std::function<void(const BurnContext&)> check;
};

std::string Serial(const BurnContext& c)
{
    return std::to_string(c.GetBaudRate()) + "/" + std::to_string(c.GetStopBit()) + "/" + std::to_string(c.GetParity());
}

const std::string PORT = "/dev/serial/by-id/usb-Factory_Line_Adapter_0123456789ABCDEF-if00-port0";
const std::string BAD_NUMBER = "error: Invalid number for option ";

const OptionCase CASES[] = {
    {{"--burn", "-n", "vb27", "-m", "serial", "/dev/ttyS4", "-f", "a.fwpkg", "-b", "921600", "-s", "2", "-p", "1"}, true, "",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetChipName(), "vb27");
         EXPECT_EQ(c.GetTransportWay(), TransportWay::SERIAL);
         EXPECT_EQ(c.GetSerialPort(), "/dev/ttyS4");
         EXPECT_EQ(c.GetFilePath(), "a.fwpkg");
         EXPECT_EQ(Serial(c), "921600/2/1");
     }},
    {{"--burn", "--name", "qn4180", "--mode", "serial", PORT, "--file", "b.xml", "--baudRate", "9600", "--stopBit", "0",
      "--parity", "2"}, true, "",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetChipName(), "qn4180");
         EXPECT_EQ(c.GetSerialPort(), PORT) << "long port names are kept whole";
         EXPECT_EQ(c.GetFilePath(), "b.xml");
         EXPECT_EQ(Serial(c), "9600/0/2");
     }},
    {{"--burn", "-n", "vb27", "-m", "serial"}, false, "error: Serial port name missing after mode serial!\n",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetTransportWay(), TransportWay::NOT_CHOSEN);
         EXPECT_TRUE(c.GetSerialPort().empty());
     }},
    // The value of -l spells -n, so -n then takes "x" as the chip name.
    {{"--burn", "-l", "-n", "x"}, true, "",
     [](const BurnContext& c) { EXPECT_EQ(c.GetLoaderPath() + "|" + c.GetChipName(), "-n|x"); }},
    {{"--erase", "-reset"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetReboot(), 1); }},
    {{"--erase", "-re", "5", "-reset:0"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetReboot(), 0); }},
    {{"--erase", "-resetnow:3"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetReboot(), 3); }},
    {{"--erase", "-re", "5"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetReboot(), 5); }},
    {{"--burn", "-packagesize:4096"}, true, "", [](const BurnContext&) { EXPECT_EQ(BurnChipBase::m_packetSize, 4096u); }},
    {{"--burn", "-packagesize:"}, false, "error: Invalid packagesize 0, valid values are 1024, 2048, 4096, 8192\n",
     nullptr},
    {{"--erase", "-e", "64k", "-c", "0x1"}, true, "",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetEraseSize(), 65536);
         EXPECT_EQ(c.GetBurnCheck(), 1);
     }},
    {{"--erase", "--eraseSize", "2m"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetEraseSize(), 2097152); }},
    {{"--erase", "-e", "all"}, false, BAD_NUMBER + "-e: \"all\"\n",
     [](const BurnContext& c) { EXPECT_EQ(c.GetEraseSize(), 0); }},
    {{"--burn", "-c", "yes"}, false, BAD_NUMBER + "-c: \"yes\"\n", nullptr},
    {{"--erase", "--eraseSize", "4g"}, false, BAD_NUMBER + "--eraseSize: \"4g\"\n", nullptr},
    {{"--burn", "-l", "/opt/loader.bin", "-elf", "app.elf", "-txt", "notes.txt", "-onlyburn:app", "-onlyburn:kernel",
      "-burninterval:25", "-erasemode:2", "-onlyeraseall", "-switchafterloader", "-beforereset"}, true, "",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetLoaderPath() + "|" + c.GetElfFilePath() + "|" + c.GetTxtFilePath(),
                   "/opt/loader.bin|app.elf|notes.txt");
         EXPECT_EQ(c.GetOnlyBurnNames(), (std::vector<std::string>{"app", "kernel"}));
         EXPECT_EQ(c.GetBurnInterval(), 25);
         EXPECT_EQ(c.GetEraseMode(), 2);
         EXPECT_TRUE(c.IsOnlyEraseAll() && c.IsSwitchAfterLoader() && c.IsBeforeReset());
     }},
    // The usage text's positional speed, stop bits and parity match nothing.
    {{"--burn", "-m", "serial", "COM0", "9600", "0", "0", "-x"}, true, "",
     [](const BurnContext& c) { EXPECT_EQ(Serial(c), "115200/0/0"); }},
    // The --read options, in the number syntax of the others; later ones win.
    {{"--read", "-f", "pkg.fwpkg", "-readfile:/tmp/out dir/flash.bin", "-readaddr:0x200000", "-readsize:64k"}, true, "",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetReadFile(), "/tmp/out dir/flash.bin");
         EXPECT_EQ(c.GetAddress(), 0x200000);
         EXPECT_EQ(c.GetReadSize(), 65536);
         EXPECT_EQ(c.GetBurnFile(), "pkg.fwpkg") << "the package stays the burn file";
     }},
    {{"--read", "-readsize:1m", "-readsize:4096", "-readaddr:1k", "-readaddr:100", "-readfile:"}, true, "",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetReadSize(), 4096);
         EXPECT_EQ(c.GetAddress(), 100);
         EXPECT_EQ(c.GetReadFile(), "") << "an empty name leaves no output file";
     }},
    {{"--read", "-readsize:lots"}, false, BAD_NUMBER + "-readsize: \"lots\"\n", nullptr},
    {{"--read", "-readaddr:"}, false, BAD_NUMBER + "-readaddr: \"\"\n", nullptr},
    {{"--read", "-readsize:8g"}, false, BAD_NUMBER + "-readsize: \"8g\"\n", nullptr},
};

TEST(OptionPass, EachOptionStoresItsValueOrStopsThePassWithItsMessage)
{
    for (size_t i = 0; i < sizeof(CASES) / sizeof(CASES[0]); ++i) {
        const OptionCase& c = CASES[i];
        BurnChipBase::m_packetSize = 1024;
        BurnContext context("/nowhere/");
        std::vector<std::string> arguments{"tarnwickcmd"};
        arguments.insert(arguments.end(), c.args.begin(), c.args.end());
        CommandLine line(arguments);
        testing::internal::CaptureStdout();
        const bool accepted = FrontEnd::ParseExtraParam(line.argc(), line.argv(), &context);
        const std::string printed = WithoutDebugLines(testing::internal::GetCapturedStdout());
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.args[1]);
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(printed, c.printed);
        if (c.check) {
            c.check(context);
        }
    }
    BurnChipBase::m_packetSize = 1024;
}

TEST(OptionPass, ValueOptionsStandingLastAreIgnored)
{
    for (const char* option : {"-n", "-m", "-f", "-b", "-s", "-p", "-l", "-e", "-re", "-c", "-elf", "-txt", "--config"}) {
        BurnContext context("/nowhere/");
        CommandLine line({"t", "--burn", option});
        testing::internal::CaptureStdout();
        EXPECT_TRUE(FrontEnd::ParseExtraParam(line.argc(), line.argv(), &context)) << option;
        EXPECT_EQ(WithoutDebugLines(testing::internal::GetCapturedStdout()), "") << option;
        EXPECT_TRUE(context.GetChipName().empty()) << option;
        EXPECT_EQ(context.GetBaudRate(), 115200) << option;
        EXPECT_EQ(context.GetLoaderPath(), "/nowhere/loader/loader.bin") << option;
    }
}

TEST(ConfigPass, LastConfigWinsAndNeitherTheLastNorTheOperationPositionCounts)
{
    BurnContext context("/nowhere/");
    CommandLine line({"t", "--burn", "--config", "a.config", "--config", "b.config", "--config"});
    FrontEnd::ParseConfigParam(line.argc(), line.argv(), &context);
    EXPECT_EQ(context.GetConfigPath(), "b.config");
    BurnContext untouched("/nowhere/");
    CommandLine first({"t", "--config", "a.config"});
    FrontEnd::ParseConfigParam(first.argc(), first.argv(), &untouched);
    EXPECT_TRUE(untouched.GetConfigPath().empty());
}

TEST(Dispatch, NullOrTooShortArgumentVectorsGiveUsageAndOne)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(FrontEnd::RunFrontEnd(0, nullptr), 1);
    char program[] = "tarnwickcmd";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(FrontEnd::RunFrontEnd(0, argv), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("tarnwickcmd.exe --burn [-f filePath]", 0), 0u);
}

} // namespace
