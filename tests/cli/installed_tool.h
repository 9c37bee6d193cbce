// The built tarnwickcmd copied into a throw-away installation directory with
// the test's own config/, ChipProperties/ and tables, and run as a process.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_files.h"

using TestSupport::Contains;
using TestSupport::RunResult;

class InstalledTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.Ok());
        const std::string built = std::string(TARNWICK_BIN_DIR) + "/tarnwickcmd";
        ASSERT_TRUE(std::filesystem::exists(built)) << "build the tarnwickcmd target first: " << built;
        m_tool = m_dir + "bin/tarnwickcmd";
        std::filesystem::create_directories(m_dir + "bin");
        std::filesystem::copy_file(built, m_tool);
    }

    // Writes a file relative to the test directory and returns its full path.
    std::string Write(const std::string& relative, const std::string& bytes)
    {
        TestSupport::WriteText(m_dir + relative, bytes);
        return m_dir + relative;
    }

    // Runs the installed tool (or another program) in workDir; standard output
    // is captured, standard error passes through. A settings run waits for
    // nothing: the time limit only keeps a broken build from hanging the suite.
    RunResult Run(const std::vector<std::string>& arguments, const std::string& workDir = "",
                  const std::string& program = "")
    {
        return TestSupport::RunProgram(program.empty() ? m_tool : program, arguments, 60000,
                                       {false, workDir.empty() ? m_dir : workDir});
    }

    TestSupport::TempDir m_temp{"tarnwick-cli"};
    std::string m_dir = m_temp.Path() + "/";
    std::string m_tool;
};
