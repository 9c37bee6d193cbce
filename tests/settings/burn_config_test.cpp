// burn.config: key=value lines, "#" lines skipped whole, the trimmed mode, the
// parameter check, and the number keys that must not turn bad text into 0.

#include <gtest/gtest.h>

#include "installation_dir.h"

namespace {

using BurnInfo::BurnContext;
using BurnInfo::TransportWay;

class BurnConfigTest : public InstallationDir {
protected:
    // Loads config/burn.config with the given content; returns the printed text.
    std::string Load(const std::string& content, bool expected = true)
    {
        Write("config/burn.config", content);
        m_context = NewContext();
        bool loaded = false;
        std::string output = CaptureOutput([&] { loaded = m_context->LoadBurnConfig(); });
        EXPECT_EQ(loaded, expected) << output;
        return output;
    }

    std::unique_ptr<BurnContext> m_context;
};

TEST_F(BurnConfigTest, DefaultsBeforeAnyFileIsRead)
{
    auto context = NewContext();
    EXPECT_EQ(context->GetExePath(), m_dir);
    EXPECT_EQ(context->GetLoaderPath(), m_dir + "loader/loader.bin");
    EXPECT_EQ(context->GetJtagPath(), m_dir + "JTAG/");
    EXPECT_EQ(context->GetTransportWay(), TransportWay::NOT_CHOSEN);
    EXPECT_EQ(context->GetBaudRate(), 115200);
    EXPECT_EQ(context->GetBurnInterval(), 10);
    EXPECT_EQ(context->GetCoreIndex(), -1);
    EXPECT_EQ(context->GetResetAtCommand(), "at+rst\r\n");
    EXPECT_EQ(context->GetChipType(), 0);
    EXPECT_TRUE(context->GetPartitionInfo().empty());
    EXPECT_TRUE(context->GetConfigPath().empty());
}

TEST_F(BurnConfigTest, ExecutableDirectoryComesFromTheRunningProgram)
{
    BurnContext context;
    ASSERT_FALSE(context.GetExePath().empty());
    EXPECT_EQ(context.GetExePath().back(), '/');
    EXPECT_TRUE(std::filesystem::exists(context.GetExePath() + "test_settings"));
}

TEST_F(BurnConfigTest, FullFileFillsEverySerialSetting)
{
    Load("chipName=vb27\nfilePath=/tmp/a.fwpkg\nmode=serial\nserialPort=/dev/ttyUSB3\n"
         "baudRate=921600\nstopBit=2\nparity=1\nreset=1\nburnCheck=1\n");
    EXPECT_EQ(m_context->GetChipName(), "vb27");
    EXPECT_EQ(m_context->GetFilePath(), "/tmp/a.fwpkg");
    EXPECT_EQ(m_context->GetBurnFile(), "/tmp/a.fwpkg");
    EXPECT_EQ(m_context->GetTransportWay(), TransportWay::SERIAL);
    EXPECT_EQ(m_context->GetSerialPort(), "/dev/ttyUSB3");
    EXPECT_EQ(m_context->GetBaudRate(), 921600);
    EXPECT_EQ(m_context->GetStopBit(), 2);
    EXPECT_EQ(m_context->GetParity(), 1);
    EXPECT_EQ(m_context->GetReboot(), 1);
    EXPECT_EQ(m_context->GetBurnCheck(), 1);
    EXPECT_EQ(m_context->GetConfigPath(), m_dir + "config/burn.config");
}

TEST_F(BurnConfigTest, EmptyFileLoadsAndTheCheckThenWantsAChipName)
{
    EXPECT_EQ(Load(""), "");
    bool checked = true;
    EXPECT_EQ(CaptureOutput([&] { checked = m_context->CheckBurnParameters(); }), "error: Chip name not found!\n");
    EXPECT_FALSE(checked);
}

TEST_F(BurnConfigTest, ParameterCheckNamesTheFirstMissingSettingInOrder)
{
    Load("chipName=vb27\n");
    EXPECT_EQ(CaptureOutput([&] { m_context->CheckBurnParameters(); }), "error: Burn file not found!\n");
    Load("chipName=vb27\nfilePath=a.bin\n");
    EXPECT_EQ(CaptureOutput([&] { m_context->CheckBurnParameters(); }), "error: Transport way not found!\n");
    Load("chipName=vb27\nfilePath=a.bin\nmode=serial\n");
    bool checked = false;
    EXPECT_EQ(CaptureOutput([&] { checked = m_context->CheckBurnParameters(); }), "");
    EXPECT_TRUE(checked);
}

TEST_F(BurnConfigTest, MissingFileFailsWithItsMessage)
{
    m_context = NewContext();
    bool loaded = true;
    EXPECT_EQ(CaptureOutput([&] { loaded = m_context->LoadBurnConfig(); }), "error: Open burn.config failed!\n");
    EXPECT_FALSE(loaded);
}

TEST_F(BurnConfigTest, AnyLineWithAHashIsSkippedWhole)
{
    Load("# chipName=commented\nmode=usb # not a transport\nchipName=vb27 #trailing\nchipName=qn4180\n");
    EXPECT_EQ(m_context->GetChipName(), "qn4180");
    EXPECT_EQ(m_context->GetTransportWay(), TransportWay::NOT_CHOSEN);
}

TEST_F(BurnConfigTest, ModeIsTrimmedButOtherValuesAreNot)
{
    Load("mode= \tserial \t\nchipName=vb27 \n");
    EXPECT_EQ(m_context->GetTransportWay(), TransportWay::SERIAL);
    EXPECT_EQ(m_context->GetChipName(), "vb27 ");
}

TEST_F(BurnConfigTest, UnknownModeStopsReadingAtOnce)
{
    EXPECT_EQ(Load("chipName=first\nmode= usb \nchipName=second\n", false), "error: Unknown transport: usb!\n");
    EXPECT_EQ(m_context->GetChipName(), "first");
}

TEST_F(BurnConfigTest, LinesWithoutExactlyOneEqualsSignAreIgnored)
{
    Load("chipName=a=b\nchipName\nserialPort==/dev/x\nchipName=kept\n");
    EXPECT_EQ(m_context->GetChipName(), "kept");
    EXPECT_TRUE(m_context->GetSerialPort().empty());
}

TEST_F(BurnConfigTest, KeysAreExactSoABlankBeforeTheEqualsSignHidesTheLine)
{
    Load("chipName =vb27\nChipName=vb27\n baudRate=9600\n");
    EXPECT_TRUE(m_context->GetChipName().empty());
    EXPECT_EQ(m_context->GetBaudRate(), 115200);
}

TEST_F(BurnConfigTest, WindowsLineEndingsBelongToTheLineBreak)
{
    Load("chipName=vb27\r\nmode=serial\r\nserialPort=/dev/ttyS0\r\nbaudRate=9600\r\n");
    EXPECT_EQ(m_context->GetChipName(), "vb27");
    EXPECT_EQ(m_context->GetSerialPort(), "/dev/ttyS0");
    EXPECT_EQ(m_context->GetBaudRate(), 9600);
}

TEST_F(BurnConfigTest, NumberKeysUseTheNumberSyntax)
{
    Load("reset=0x10\nburnCheck=1k\n");
    EXPECT_EQ(m_context->GetReboot(), 16);
    EXPECT_EQ(m_context->GetBurnCheck(), 1024);
}

TEST_F(BurnConfigTest, UnreadableNumberFailsTheLoadNamingKeyAndText)
{
    EXPECT_EQ(Load("reset=yes\n", false),
              "error: Invalid number for key reset in " + m_dir + "config/burn.config: \"yes\"\n");
    EXPECT_EQ(Load("burnCheck=\n", false),
              "error: Invalid number for key burnCheck in " + m_dir + "config/burn.config: \"\"\n");
    EXPECT_EQ(Load("burnCheck=8g\n", false),
              "error: Invalid number for key burnCheck in " + m_dir + "config/burn.config: \"8g\"\n");
}

TEST_F(BurnConfigTest, SerialNumbersAreReadLikeAtoi)
{
    Load("baudRate=fast\nstopBit=1x\nparity= 2\n");
    EXPECT_EQ(m_context->GetBaudRate(), 0);
    EXPECT_EQ(m_context->GetStopBit(), 1);
    EXPECT_EQ(m_context->GetParity(), 2);
}

TEST_F(BurnConfigTest, UnknownKeysAreAccepted)
{
    Load("serverIp=10.0.0.1\ntftpPort=69\nchipName=vb27\n");
    EXPECT_EQ(m_context->GetChipName(), "vb27");
    EXPECT_TRUE(m_context->GetServerIp().empty());
}

TEST_F(BurnConfigTest, OpenDebugNeedsTheExactWordTrue)
{
    Load("openDebug=TRUE\n");
    EXPECT_FALSE(BurnContext::IsOpenDebug());
    Load("openDebug=true\n");
    EXPECT_TRUE(BurnContext::IsOpenDebug());
    Load("openDebug=false\n");
    EXPECT_FALSE(BurnContext::IsOpenDebug());
}

TEST_F(BurnConfigTest, ConfigPathGivenIsReadInsteadOfTheDefault)
{
    // No default file exists at all: it must not be tried.
    const std::string other = Write("elsewhere/my.config", "chipName=fromOther\n");
    m_context = NewContext();
    m_context->SetConfigPath(other);
    bool loaded = false;
    EXPECT_EQ(CaptureOutput([&] { loaded = m_context->LoadBurnConfig(); }), "");
    EXPECT_TRUE(loaded);
    EXPECT_EQ(m_context->GetChipName(), "fromOther");
    EXPECT_EQ(m_context->GetConfigPath(), other);
}

} // namespace
