// The built tarnwickcmd copied into a throw-away installation directory with
// the test's own config/, ChipProperties/ and tables, and run as a process.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

struct RunResult {
    std::string output;
    int exitCode = -1;
};

inline std::string ShellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

class InstalledTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
        const std::string built = std::string(TARNWICK_BIN_DIR) + "/tarnwickcmd";
        ASSERT_TRUE(std::filesystem::exists(built)) << "build the tarnwickcmd target first: " << built;
        m_tool = m_dir + "bin/tarnwickcmd";
        std::filesystem::create_directories(m_dir + "bin");
        std::filesystem::copy_file(built, m_tool);
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    // Writes a file relative to the test directory and returns its full path.
    std::string Write(const std::string& relative, const std::string& bytes)
    {
        const std::string path = m_dir + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Runs the installed tool (or another program) in workDir; standard output
    // is captured, standard error passes through. A settings run waits for
    // nothing: the time limit only keeps a broken build from hanging the suite.
    RunResult Run(const std::vector<std::string>& arguments, const std::string& workDir = "",
                  const std::string& program = "")
    {
        std::string command = "cd " + ShellQuoted(workDir.empty() ? m_dir : workDir) + " && exec timeout -s KILL 60 " +
                              ShellQuoted(program.empty() ? m_tool : program);
        for (const std::string& argument : arguments) {
            command += " " + ShellQuoted(argument);
        }
        RunResult result;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            ADD_FAILURE() << "popen failed";
            return result;
        }
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
            result.output.append(buffer, n);
        }
        const int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return result;
    }

    std::string m_dir;
    std::string m_tool;
};

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}
