// The built tarnwickcmd copied into a throw-away installation directory with
// the test's own config/, ChipProperties/ and tables, and run as a process.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

struct RunResult {
    std::string output;
    int exitCode = -1;
};

class InstalledTool : public ::testing::Test {
protected:
    // A settings run never waits for anything; this only keeps a broken build
    // from hanging the suite.
    static constexpr int RUN_LIMIT_MS = 60000;

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

    // Writes a file relative to the tool's directory (bin/) and returns its full path.
    std::string WriteInstalled(const std::string& relative, const std::string& bytes)
    {
        return Write("bin/" + relative, bytes);
    }

    // Writes a file relative to the test directory and returns its full path.
    std::string Write(const std::string& relative, const std::string& bytes)
    {
        const std::string path = m_dir + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    void WriteConfig(const std::string& content) { WriteInstalled("config/burn.config", content); }
    void WriteChip(const std::string& name, const std::string& content)
    {
        WriteInstalled("ChipProperties/" + name + ".txt", content);
    }

    // Runs the installed tool (or another program) from workDir with the given
    // arguments; standard output is captured, standard error passes through.
    RunResult Run(const std::vector<std::string>& arguments, const std::string& workDir = "",
                  const std::string& program = "")
    {
        const std::string executable = program.empty() ? m_tool : program;
        const std::string cwd = workDir.empty() ? m_dir : workDir;
        std::vector<std::string> storage{executable};
        storage.insert(storage.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : storage) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);

        RunResult result;
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            ADD_FAILURE() << "pipe failed";
            return result;
        }
        pid_t child = fork();
        if (child == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            close(pipeFds[0]);
            close(pipeFds[1]);
            if (chdir(cwd.c_str()) != 0) {
                _exit(126);
            }
            execv(executable.c_str(), argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        if (child < 0) {
            close(pipeFds[0]);
            ADD_FAILURE() << "fork failed";
            return result;
        }

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(RUN_LIMIT_MS);
        char buffer[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ADD_FAILURE() << "tarnwickcmd did not end";
                kill(child, SIGKILL);
                break;
            }
            pollfd fd{pipeFds[0], POLLIN, 0};
            int ready = poll(&fd, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                continue;
            }
            ssize_t n = read(pipeFds[0], buffer, sizeof(buffer));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            result.output.append(buffer, static_cast<size_t>(n));
        }
        close(pipeFds[0]);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
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
