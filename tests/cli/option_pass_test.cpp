// The option pass on a context: what each option stores, values examined in
// their turn, and the failures that stop the pass instead of storing a wrong
// value. The last-position rule, the --config pass and what the built tool
// prints are checked through the binary in installation_run_test.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/front_end.h"

namespace {

using BurnInfo::BurnContext;
using BurnInfo::TransportWay;

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
    {{"--burn", "-b", "921600", "-s", "2", "-p", "1"}, true, "",
     [](const BurnContext& c) { EXPECT_EQ(Serial(c), "921600/2/1"); }},
    {{"--burn", "--name", "qn4180", "--mode", "serial", PORT, "--file", "b.xml", "--baudRate", "9600", "--stopBit", "0",
      "--parity", "2"}, true, "",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetChipName(), "qn4180");
         EXPECT_EQ(c.GetTransportWay(), TransportWay::SERIAL);
         EXPECT_EQ(c.GetSerialPort(), PORT) << "long port names are kept whole";
         EXPECT_EQ(c.GetFilePath(), "b.xml");
         EXPECT_EQ(Serial(c), "9600/0/2");
     }},
    // The value of -l spells -n, so -n then takes "x" as the chip name.
    {{"--burn", "-l", "-n", "x"}, true, "",
     [](const BurnContext& c) { EXPECT_EQ(c.GetLoaderPath() + "|" + c.GetChipName(), "-n|x"); }},
    {{"--erase", "-reset"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetReboot(), 1); }},
    {{"--erase", "-re", "5", "-reset:0"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetReboot(), 0); }},
    {{"--erase", "-resetnow:3"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetReboot(), 3); }},
    {{"--erase", "-re", "5"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetReboot(), 5); }},
    {{"--erase", "-e", "64k", "-c", "0x1"}, true, "",
     [](const BurnContext& c) {
         EXPECT_EQ(c.GetEraseSize(), 65536);
         EXPECT_EQ(c.GetBurnCheck(), 1);
     }},
    {{"--erase", "--eraseSize", "2m"}, true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetEraseSize(), 2097152); }},
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
        BurnContext context("/nowhere/");
        std::vector<std::string> arguments{"tarnwickcmd"};
        arguments.insert(arguments.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        const bool accepted = FrontEnd::ParseExtraParam(static_cast<int>(arguments.size()), argv.data(), &context);
        const std::string output = testing::internal::GetCapturedStdout();
        // What follows the "[DEBUG PARSE]" lines every pass prints first.
        const size_t debug = output.rfind("[DEBUG PARSE]");
        const std::string printed = debug == std::string::npos ? output : output.substr(output.find('\n', debug) + 1);
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.args[1]);
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(printed, c.printed);
        if (c.check) {
            c.check(context);
        }
    }
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
