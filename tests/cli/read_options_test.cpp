// The --read options: output file, flash address and size, in the number
// syntax of the other options; text that is no number stops the pass.
#include <gtest/gtest.h>

#include "cli/front_end.h"
#include "command_line.h"

namespace {

class ReadOptionsTest : public ::testing::Test {
protected:
    bool Parse(CommandLine& line)
    {
        testing::internal::CaptureStdout();
        const bool accepted = FrontEnd::ParseExtraParam(line.argc(), line.argv(), &m_context);
        m_out = testing::internal::GetCapturedStdout();
        return accepted;
    }
    BurnInfo::BurnContext m_context{"/nowhere/"};
    std::string m_out;
};

} // namespace

TEST_F(ReadOptionsTest, FileAddressAndSizeAreTakenFromTheirPrefixes)
{
    CommandLine line{"t", "--read", "-f", "pkg.fwpkg", "-readfile:/tmp/out dir/flash.bin", "-readaddr:0x200000",
                     "-readsize:64k"};
    ASSERT_TRUE(Parse(line)) << m_out;
    EXPECT_EQ(m_context.GetReadFile(), "/tmp/out dir/flash.bin");
    EXPECT_EQ(m_context.GetAddress(), 0x200000);
    EXPECT_EQ(m_context.GetReadSize(), 64 * 1024);
    EXPECT_EQ(m_context.GetBurnFile(), "pkg.fwpkg") << "the package stays the burn file";
}

TEST_F(ReadOptionsTest, LaterOptionsWinAndDecimalAndMultipliersWork)
{
    CommandLine line{"t", "--read", "-readsize:1m", "-readsize:4096", "-readaddr:1k", "-readaddr:100"};
    ASSERT_TRUE(Parse(line)) << m_out;
    EXPECT_EQ(m_context.GetReadSize(), 4096);
    EXPECT_EQ(m_context.GetAddress(), 100);
}

TEST_F(ReadOptionsTest, TextThatIsNoNumberStopsThePass)
{
    for (const char* option : {"-readsize:lots", "-readaddr:", "-readsize:8g"}) {
        CommandLine line{"t", "--read", option};
        EXPECT_FALSE(Parse(line)) << option;
        EXPECT_NE(m_out.find("error: Invalid number for option"), std::string::npos) << option << ": " << m_out;
    }
}

TEST_F(ReadOptionsTest, AnEmptyFileNameLeavesNoOutputFile)
{
    CommandLine line{"t", "--read", "-readfile:"};
    ASSERT_TRUE(Parse(line)) << m_out;
    EXPECT_EQ(m_context.GetReadFile(), "");
}
