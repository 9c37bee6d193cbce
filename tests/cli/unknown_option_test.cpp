// A mistyped option is never silent: the option pass names every argument
// that looks like an option but is none of its options nor the value of one,
// and goes on as before. No valid command line may warn, whatever values its
// options take, and text that is not meant as an option stays unremarked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/front_end.h"

namespace {

using Strings = std::vector<std::string>;

// The argument vector of "tarnwickcmd --burn" and arguments, pointing into arguments.
std::vector<char*> Burn(Strings& arguments)
{
    arguments.insert(arguments.begin(), {"tarnwickcmd", "--burn"});
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    return argv;
}

Strings Unknown(Strings arguments)
{
    std::vector<char*> argv = Burn(arguments);
    return FrontEnd::UnknownOptions(static_cast<int>(argv.size()), argv.data());
}

// No valid command line may warn; every typo is named as given, in its place.
TEST(UnknownOptions, OnlyTyposAreNamedAsGivenInTheirPlace)
{
    const std::pair<Strings, Strings> lines[] = {
        {{"-n", "vb27", "-m", "serial", "/dev/ttyUSB0", "-b", "921600", "-f", "fw.fwpkg", "-re", "1"}, {}},
        {{"--name", "vb27", "--mode", "serial", "COM3", "--baudRate", "9600", "--stopBit", "0", "--parity", "0",
          "--file", "fw.fwpkg", "--config", "my.config", "-l", "loader.bin", "--load", "l.bin", "-e", "4k",
          "--eraseSize", "1m", "-c", "1", "-elf", "a.elf", "-txt", "a.txt"},
         {}},
        {{"-onlyburn:app.bin", "-onlyburn:nv", "-burninterval:10", "-erasemode:1", "-onlyeraseall",
          "-packagesize:4096", "-switchafterloader", "-beforereset", "-reset", "-reset:0", "-resetseq:D0|W0.1|D1"},
         {}},
        // Values that start with a dash are values all the same.
        {{"-f", "-odd-name.fwpkg", "-n", "-x", "-m", "serial", "-port"}, {}},
        // The usage's own example: the speed, stop bits and parity after the port are no options.
        {{"-n", "chipName", "-m", "serial", "COM0", "115200", "0", "0", "-f", "file"}, {}},
        // A value option standing last has no value and is still an option.
        {{"-f"}, {}},
        {{"-n", "vb27", "-swtichafterloader", "-onlybrun:app.bin", "-f", "fw.fwpkg"},
         {"-swtichafterloader", "-onlybrun:app.bin"}},
        // A flag takes no value: what follows it is examined on its own.
        {{"-beforereset", "-typo", "-onlyeraseall", "-"}, {"-typo", "-"}},
        // Near misses of exact options and of prefixes without their colon.
        {{"-name", "x", "-packagesize", "-re:1", "--baud", "9600"}, {"-name", "-packagesize", "-re:1", "--baud"}},
        // After "-m serial PORT" the next argument is examined again.
        {{"-m", "serial", "COM1", "-bb", "9600"}, {"-bb"}},
    };
    for (const auto& [line, typos] : lines) {
        EXPECT_EQ(Unknown(line), typos) << ::testing::PrintToString(line);
    }
}

TEST(UnknownOptions, TheOptionPassWarnsOnStandardErrorAndGoesOn)
{
    Strings arguments{"-n", "vb27", "-swtichafterloader", "-re", "1"};
    std::vector<char*> argv = Burn(arguments);
    BurnInfo::BurnContext context;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_TRUE(FrontEnd::ParseExtraParam(static_cast<int>(argv.size()), argv.data(), &context));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "warning: unknown option -swtichafterloader is ignored\n");
    EXPECT_EQ(out.find("unknown option"), std::string::npos) << out;
    EXPECT_FALSE(context.IsSwitchAfterLoader());
    EXPECT_EQ(context.GetReboot(), 1);
    EXPECT_EQ(context.GetChipName(), "vb27");
}

}  // namespace
