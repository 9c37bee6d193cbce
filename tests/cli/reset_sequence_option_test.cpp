// Where a reset sequence comes from: the chip property file's ResetSequence,
// overridden by -resetseq:; text that is not a sequence stops the settings
// with a message naming the key or option and the text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/front_end.h"
#include "support/test_files.h"

namespace {

using BurnInfo::BurnContext;

class ResetSequenceSettings : public ::testing::Test {
protected:
    // The settings steps for a Vb27 chip whose property file has extraLine.
    int Init(const std::string& extraLine, std::vector<std::string> options)
    {
        TestSupport::WriteText(m_dir + "ChipProperties/vb27.txt", "ChipType=0x30004\n" + extraLine);
        TestSupport::WriteText(m_dir + "config/burn.config", "");
        TestSupport::WriteText(m_dir + "fw.fwpkg", "package");
        std::vector<std::string> args{"tarnwickcmd", "--burn", "-n", "vb27", "-m", "serial", "/dev/null",
                                      "-f", m_dir + "fw.fwpkg"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        m_context = std::make_unique<BurnContext>(m_dir);
        testing::internal::CaptureStdout();
        const int result = FrontEnd::InitBurnParam(static_cast<int>(argv.size()), argv.data(), m_context.get());
        m_output = testing::internal::GetCapturedStdout();
        return result;
    }

    TestSupport::TempDir m_temp{"tarnwick-resetseq"};
    std::string m_dir = m_temp.Path() + "/";
    std::unique_ptr<BurnContext> m_context;
    std::string m_output;
};

TEST_F(ResetSequenceSettings, ThePropertyFileGivesTheSequenceAndTheOptionWinsOverIt)
{
    ASSERT_EQ(Init("ResetSequence=D0|R1|W0.1|D1\n", {}), BurnInfo::SUCCESS) << m_output;
    EXPECT_EQ(m_context->GetResetSequence().text, "D0|R1|W0.1|D1");
    EXPECT_EQ(m_context->GetResetSequence().steps.size(), 4u);
    ASSERT_EQ(Init("ResetSequence=D0|R1\n", {"-resetseq:R0|W0.05|R1"}), BurnInfo::SUCCESS) << m_output;
    EXPECT_EQ(m_context->GetResetSequence().text, "R0|W0.05|R1");
    EXPECT_EQ(m_context->GetResetSequence().steps.size(), 3u);
}

// After the option trace, the message names the option or key, the text and the step.
TEST_F(ResetSequenceSettings, MalformedTextFailsTheOptionPassOrThePropertyFile)
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
