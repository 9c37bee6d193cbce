// The option pass and the --config pass on a context: every option's effect,
// the values that are not skipped, the last-position rule, and the failures
// that must stop the pass instead of storing a wrong value.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "cli/front_end.h"
#include "device/burn_chip_base.h"
#include "command_line.h"

namespace {

using BurnInfo::BurnContext;
using BurnInfo::TransportWay;

class OptionPassTest : public ::testing::Test {
protected:
    void SetUp() override { BurnChipBase::m_packetSize = 1024; }

    // Runs the option pass; returns what it printed after its two debug lines.
    std::string Parse(CommandLine& line, bool expected = true)
    {
        testing::internal::CaptureStdout();
        bool accepted = FrontEnd::ParseExtraParam(line.argc(), line.argv(), &m_context);
        std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(accepted, expected) << output;
        return WithoutDebugLines(output);
    }

    static std::string WithoutDebugLines(const std::string& output)
    {
        std::string rest;
        size_t start = 0;
        while (start < output.size()) {
            size_t end = output.find('\n', start);
            end = end == std::string::npos ? output.size() : end + 1;
            const std::string line = output.substr(start, end - start);
            if (line != "\n" && line.rfind("[DEBUG PARSE]", 0) != 0) {
                rest += line;
            }
            start = end;
        }
        return rest;
    }

    BurnContext m_context{"/nowhere/"};
};

TEST_F(OptionPassTest, PrintsTheTwoDebugLinesForEveryArgument)
{
    CommandLine line{"tarnwickcmd", "--burn", "-n", "vb27"};
    testing::internal::CaptureStdout();
    FrontEnd::ParseExtraParam(line.argc(), line.argv(), &m_context);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n[DEBUG PARSE] argc=4, EXTRA_START=2\n[DEBUG PARSE] argv[2]=-n\n[DEBUG PARSE] argv[3]=vb27\n");
}

TEST_F(OptionPassTest, BasicAndSerialOptionsInShortAndLongForm)
{
    CommandLine shortForm{"t", "--burn", "-n", "vb27", "-m", "serial", "/dev/ttyS4", "-f", "a.fwpkg",
                          "-b", "921600", "-s", "2", "-p", "1"};
    EXPECT_EQ(Parse(shortForm), "");
    EXPECT_EQ(m_context.GetChipName(), "vb27");
    EXPECT_EQ(m_context.GetTransportWay(), TransportWay::SERIAL);
    EXPECT_EQ(m_context.GetSerialPort(), "/dev/ttyS4");
    EXPECT_EQ(m_context.GetFilePath(), "a.fwpkg");
    EXPECT_EQ(m_context.GetBaudRate(), 921600);
    EXPECT_EQ(m_context.GetStopBit(), 2);
    EXPECT_EQ(m_context.GetParity(), 1);

    CommandLine longForm{"t", "--burn", "--name", "qn4180", "--mode", "serial", "/dev/ttyACM0", "--file", "b.xml",
                         "--baudRate", "9600", "--stopBit", "0", "--parity", "2"};
    EXPECT_EQ(Parse(longForm), "");
    EXPECT_EQ(m_context.GetChipName(), "qn4180");
    EXPECT_EQ(m_context.GetSerialPort(), "/dev/ttyACM0");
    EXPECT_EQ(m_context.GetFilePath(), "b.xml");
    EXPECT_EQ(m_context.GetBaudRate(), 9600);
    EXPECT_EQ(m_context.GetStopBit(), 0);
    EXPECT_EQ(m_context.GetParity(), 2);
}

TEST_F(OptionPassTest, LongPortNamesAreKeptWhole)
{
    const std::string port = "/dev/serial/by-id/usb-Factory_Line_Adapter_0123456789ABCDEF-if00-port0";
    CommandLine line{"t", "--burn", "-m", "serial", port};
    Parse(line);
    EXPECT_EQ(m_context.GetSerialPort(), port);
}

TEST_F(OptionPassTest, SecondNameWins)
{
    m_context.SetChipName("fromConfig");
    CommandLine line{"t", "--burn", "-n", "first", "-n", "second"};
    Parse(line);
    EXPECT_EQ(m_context.GetChipName(), "second");
}

TEST_F(OptionPassTest, UnknownModeFailsThePass)
{
    CommandLine line{"t", "--burn", "-m", "usb", "COM3"};
    EXPECT_EQ(Parse(line, false), "error: Un123know serial transport: usb!\n");
    EXPECT_EQ(m_context.GetTransportWay(), TransportWay::NOT_CHOSEN);
}

TEST_F(OptionPassTest, SerialModeStandingLastHasNoPortAndFails)
{
    CommandLine line{"t", "--burn", "-n", "vb27", "-m", "serial"};
    EXPECT_EQ(Parse(line, false), "error: Serial port name missing after mode serial!\n");
    EXPECT_EQ(m_context.GetTransportWay(), TransportWay::NOT_CHOSEN);
    EXPECT_TRUE(m_context.GetSerialPort().empty());
}

TEST_F(OptionPassTest, ValueOptionsStandingLastAreIgnored)
{
    for (const char* option : {"-n", "-m", "-f", "-b", "-s", "-p", "-l", "-e", "-re", "-c", "-elf", "-txt",
                               "--config"}) {
        BurnContext fresh("/nowhere/");
        m_context = fresh;
        CommandLine line{"t", "--burn", option};
        EXPECT_EQ(Parse(line), "") << option;
        EXPECT_TRUE(m_context.GetChipName().empty()) << option;
        EXPECT_EQ(m_context.GetBaudRate(), 115200) << option;
        EXPECT_EQ(m_context.GetLoaderPath(), "/nowhere/loader/loader.bin") << option;
    }
}

TEST_F(OptionPassTest, ValuesAreExaminedAsArgumentsInTheirTurn)
{
    // The value of -l spells -n, so -n then takes "x" as the chip name.
    CommandLine line{"t", "--burn", "-l", "-n", "x"};
    Parse(line);
    EXPECT_EQ(m_context.GetLoaderPath(), "-n");
    EXPECT_EQ(m_context.GetChipName(), "x");
}

TEST_F(OptionPassTest, ResetForms)
{
    CommandLine bare{"t", "--erase", "-reset"};
    Parse(bare);
    EXPECT_EQ(m_context.GetReboot(), 1);
    CommandLine off{"t", "--erase", "-reset:0"};
    Parse(off);
    EXPECT_EQ(m_context.GetReboot(), 0);
    CommandLine longer{"t", "--erase", "-resetnow:3"};
    Parse(longer);
    EXPECT_EQ(m_context.GetReboot(), 3);
    CommandLine re{"t", "--erase", "-re", "5"};
    Parse(re);
    EXPECT_EQ(m_context.GetReboot(), 5);
}

TEST_F(OptionPassTest, PacketSizeMustBeOneOfFour)
{
    CommandLine good{"t", "--burn", "-packagesize:4096"};
    Parse(good);
    EXPECT_EQ(BurnChipBase::m_packetSize, 4096u);

    CommandLine bad{"t", "--burn", "-packagesize:1000"};
    EXPECT_EQ(Parse(bad, false), "error: Invalid packagesize 1000, valid values are 1024, 2048, 4096, 8192\n");
    EXPECT_EQ(BurnChipBase::m_packetSize, 4096u) << "a refused size leaves the setting alone";

    CommandLine empty{"t", "--burn", "-packagesize:"};
    EXPECT_EQ(Parse(empty, false), "error: Invalid packagesize 0, valid values are 1024, 2048, 4096, 8192\n");
}

TEST_F(OptionPassTest, NumberOptionsUseTheNumberSyntax)
{
    CommandLine line{"t", "--erase", "-e", "64k", "-c", "0x1"};
    Parse(line);
    EXPECT_EQ(m_context.GetEraseSize(), 65536);
    EXPECT_EQ(m_context.GetBurnCheck(), 1);
    CommandLine longForm{"t", "--erase", "--eraseSize", "2m"};
    Parse(longForm);
    EXPECT_EQ(m_context.GetEraseSize(), 2097152);
}

TEST_F(OptionPassTest, UnreadableNumberFailsNamingOptionAndText)
{
    CommandLine erase{"t", "--erase", "-e", "all"};
    EXPECT_EQ(Parse(erase, false), "error: Invalid number for option -e: \"all\"\n");
    EXPECT_EQ(m_context.GetEraseSize(), 0);
    CommandLine check{"t", "--burn", "-c", "yes"};
    EXPECT_EQ(Parse(check, false), "error: Invalid number for option -c: \"yes\"\n");
    CommandLine huge{"t", "--erase", "--eraseSize", "4g"};
    EXPECT_EQ(Parse(huge, false), "error: Invalid number for option --eraseSize: \"4g\"\n");
}

TEST_F(OptionPassTest, PathAndSwitchOptions)
{
    CommandLine line{"t", "--burn", "-l", "/opt/loader.bin", "-elf", "app.elf", "-txt", "notes.txt",
                     "-onlyburn:app", "-onlyburn:kernel", "-burninterval:25", "-erasemode:2", "-onlyeraseall",
                     "-switchafterloader", "-beforereset"};
    EXPECT_EQ(Parse(line), "");
    EXPECT_EQ(m_context.GetLoaderPath(), "/opt/loader.bin");
    EXPECT_EQ(m_context.GetElfFilePath(), "app.elf");
    EXPECT_EQ(m_context.GetTxtFilePath(), "notes.txt");
    EXPECT_EQ(m_context.GetOnlyBurnNames(), (std::vector<std::string>{"app", "kernel"}));
    EXPECT_EQ(m_context.GetBurnInterval(), 25);
    EXPECT_EQ(m_context.GetEraseMode(), 2);
    EXPECT_TRUE(m_context.IsOnlyEraseAll());
    EXPECT_TRUE(m_context.IsSwitchAfterLoader());
    EXPECT_TRUE(m_context.IsBeforeReset());
}

TEST_F(OptionPassTest, UnknownArgumentsAreAccepted)
{
    // The usage text's positional speed, stop bits and parity match nothing.
    CommandLine line{"t", "--burn", "-n", "vb27", "-m", "serial", "COM0", "115200", "0", "0", "-x"};
    EXPECT_EQ(Parse(line), "");
    EXPECT_EQ(m_context.GetBaudRate(), 115200);
}

TEST(ConfigPass, LastConfigWinsAndALastPositionConfigIsIgnored)
{
    BurnContext context("/nowhere/");
    CommandLine line{"t", "--burn", "--config", "a.config", "--config", "b.config", "--config"};
    FrontEnd::ParseConfigParam(line.argc(), line.argv(), &context);
    EXPECT_EQ(context.GetConfigPath(), "b.config");

    BurnContext untouched("/nowhere/");
    CommandLine first{"t", "--config", "a.config"};
    FrontEnd::ParseConfigParam(first.argc(), first.argv(), &untouched);
    EXPECT_TRUE(untouched.GetConfigPath().empty()) << "the operation position is not an option";
}

TEST(Dispatch, NullOrTooShortArgumentVectorsGiveUsageAndOne)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(FrontEnd::RunFrontEnd(0, nullptr), 1);
    char program[] = "tarnwickcmd";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(FrontEnd::RunFrontEnd(0, argv), 1);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("tarnwickcmd.exe --burn [-f filePath] [-p programmerPath]\n", 0), 0u);
}

TEST(NewBurnerWorker, OnlyTheConnectionDepartmentIsServed)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-worker-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string dir = pattern + "/";
    std::filesystem::create_directories(dir + "ChipProperties");
    std::ofstream(dir + "ChipProperties/wing.txt") << "ChipType=0x60001\n";
    auto context = std::make_unique<BurnContext>(dir);
    context->SetChipName("wing");
    ASSERT_TRUE(context->LoadChipProperties());
    const int chipType = context->GetChipType();
    testing::internal::CaptureStdout();
    auto job = FrontEnd::NewBurnerWorker(chipType, std::move(context));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error: Invalid chiptype :393217\n");
    EXPECT_EQ(job, nullptr);
    std::filesystem::remove_all(dir);
}

} // namespace
