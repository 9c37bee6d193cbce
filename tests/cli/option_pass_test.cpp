// The front end's option pass, in process. A mistyped option is never silent:
// the pass names every argument that looks like an option but is none of its
// options nor the value of one, and goes on as before. No valid command line
// may warn, whatever values its options take, and text that is not meant as an
// option stays unremarked. A reset sequence comes from the chip property
// file's ResetSequence, overridden by -resetseq:; text that is not a sequence
// stops the settings with a message naming the key or option and the text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/front_end.h"
#include "support/test_files.h"

namespace {

using BurnInfo::BurnContext;
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

class OptionPass : public ::testing::Test {
protected:
    // The settings steps for a Vb27 chip whose property file has extraLine.
    int Init(const std::string& extraLine, const Strings& options)
    {
        TestSupport::WriteText(m_dir + "ChipProperties/vb27.txt", "ChipType=0x30004\n" + extraLine);
        TestSupport::WriteText(m_dir + "config/burn.config", "");
        TestSupport::WriteText(m_dir + "fw.fwpkg", "package");
        Strings args{"-n", "vb27", "-m", "serial", "/dev/null", "-f", m_dir + "fw.fwpkg"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv = Burn(args);
        m_context = std::make_unique<BurnContext>(m_dir);
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const int result = FrontEnd::InitBurnParam(static_cast<int>(argv.size()), argv.data(), m_context.get());
        m_output = testing::internal::GetCapturedStdout();
        m_errors = testing::internal::GetCapturedStderr();
        return result;
    }

    TestSupport::TempDir m_temp{"tarnwick-options"};
    std::string m_dir = m_temp.Path() + "/";
    std::unique_ptr<BurnContext> m_context;
    std::string m_output;
    std::string m_errors;
};

TEST_F(OptionPass, ATypoIsWarnedOfOnStandardErrorAndThePassGoesOn)
{
    ASSERT_EQ(Init("", {"-swtichafterloader", "-re", "1"}), BurnInfo::SUCCESS) << m_output;
    EXPECT_EQ(m_errors, "warning: unknown option -swtichafterloader is ignored\n");
    EXPECT_EQ(m_output.find("unknown option"), std::string::npos) << m_output;
    EXPECT_FALSE(m_context->IsSwitchAfterLoader());
    EXPECT_EQ(m_context->GetReboot(), 1);
}

TEST_F(OptionPass, ThePropertyFileGivesTheResetSequenceAndTheOptionWinsOverIt)
{
    ASSERT_EQ(Init("ResetSequence=D0|R1|W0.1|D1\n", {}), BurnInfo::SUCCESS) << m_output;
    EXPECT_EQ(m_context->GetResetSequence().text, "D0|R1|W0.1|D1");
    EXPECT_EQ(m_context->GetResetSequence().steps.size(), 4u);
    ASSERT_EQ(Init("ResetSequence=D0|R1\n", {"-resetseq:R0|W0.05|R1"}), BurnInfo::SUCCESS) << m_output;
    EXPECT_EQ(m_context->GetResetSequence().text, "R0|W0.05|R1");
    EXPECT_EQ(m_context->GetResetSequence().steps.size(), 3u);
}

// After the option trace, the message names the option or key, the text and the step.
TEST_F(OptionPass, AMalformedResetSequenceFailsTheOptionPassOrThePropertyFile)
{
    const std::string steps = " is none of D0, D1, R0, R1 or W<seconds> (at most 10)\n";
    EXPECT_EQ(Init("", {"-resetseq:D0|Q1"}), BurnInfo::PARAM_ERROR);
    EXPECT_EQ(m_output.substr(m_output.find("error: ")),
              "error: Invalid reset sequence for option -resetseq: \"D0|Q1\": step \"Q1\"" + steps +
                  "error: Parse command arguments failed!\n");
    EXPECT_EQ(Init("ResetSequence=D0|W99\n", {}), BurnInfo::LOAD_FILE_FAILED);
    EXPECT_EQ(m_output.substr(m_output.find("error: ")),
              "error: Invalid reset sequence for key ResetSequence in file " + m_dir +
                  "ChipProperties/vb27.txt: \"D0|W99\": step \"W99\"" + steps +
                  "error: Load chip properties file failed!\n");
}

}  // namespace
