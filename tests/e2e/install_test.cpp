// `cmake --install` of this build into a temporary prefix, used from another
// working directory: the programs find config/ and ChipProperties/ beside
// themselves, tarnwick-pkg packs a package there and tarnwickcmd burns it into
// a simulated Vb27 board.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;
namespace fs = std::filesystem;

namespace {

// Installing copies a few MiB; generous for a loaded machine.
constexpr int INSTALL_LIMIT_MS = 120000;
constexpr int RUN_LIMIT_MS = 120000;

std::string BuildDir()
{
    return fs::path(TARNWICK_BIN_DIR).parent_path().string();
}

std::string CmakeProgram()
{
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/"}) {
        const std::string path = std::string(dir) + "cmake";
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return "cmake";
}

class InstalledPrefix : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarnwick-install-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = std::string(pattern) + "/";
        m_prefix = m_root + "prefix/";
        m_work = m_root + "elsewhere/";
        fs::create_directories(m_work);
        const RunResult install =
            RunProgram(CmakeProgram(), {"--install", BuildDir(), "--prefix", m_prefix}, INSTALL_LIMIT_MS);
        ASSERT_EQ(install.exitCode, 0) << install.output;
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
        m_oldCwd = cwd;
        // Every program below starts in a directory that has nothing of the installation.
        ASSERT_EQ(chdir(m_work.c_str()), 0);
    }
    void TearDown() override
    {
        if (!m_oldCwd.empty()) {
            EXPECT_EQ(chdir(m_oldCwd.c_str()), 0);
        }
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    std::string Bin(const std::string& name) const { return m_prefix + "bin/" + name; }

    std::string m_root;
    std::string m_prefix;
    std::string m_work;
    std::string m_oldCwd;
};

TEST_F(InstalledPrefix, ProgramsConfigAndEveryPropertyFileLieInBin)
{
    for (const char* program : {"tarnwickcmd", "tarnwick-sim", "tarnwick-pkg"}) {
        EXPECT_EQ(access(Bin(program).c_str(), X_OK), 0) << program;
    }
    EXPECT_TRUE(fs::is_regular_file(Bin("config/burn.config")));
    std::set<std::string> shipped;
    for (const auto& entry : fs::directory_iterator(std::string(TARNWICK_SOURCE_DIR) + "/ChipProperties")) {
        shipped.insert(entry.path().filename().string());
    }
    std::set<std::string> installed;
    for (const auto& entry : fs::directory_iterator(Bin("ChipProperties"))) {
        installed.insert(entry.path().filename().string());
    }
    EXPECT_FALSE(shipped.empty());
    EXPECT_EQ(installed, shipped);
    EXPECT_EQ(ReadFile(Bin("config/burn.config")), ReadFile(std::string(TARNWICK_SOURCE_DIR) + "/config/burn.config"));
}

TEST_F(InstalledPrefix, EachProgramRunsFromAnotherDirectory)
{
    const RunResult version = RunProgram(Bin("tarnwickcmd"), {"-v"}, RUN_LIMIT_MS);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, "TarnwickCmd Version: 1.0.0\n");
    const RunResult pkg = RunProgram(Bin("tarnwick-pkg"), {"-v"}, RUN_LIMIT_MS);
    EXPECT_EQ(pkg.exitCode, 0);
    EXPECT_TRUE(Contains(pkg.output, "tarnwick-pkg 1.0.0")) << pkg.output;
    const RunResult sim = RunProgram(Bin("tarnwick-sim"), {}, RUN_LIMIT_MS);
    EXPECT_EQ(sim.exitCode, 2);
    EXPECT_TRUE(Contains(sim.output, "usage: tarnwick-sim")) << sim.output;
}

TEST_F(InstalledPrefix, APackagePackedHereBurnsIntoASimulatedBoard)
{
    const Bytes loader = Pattern(6 * 1024 + 5, 11);
    const Bytes app = Pattern(40 * 1024 + 3, 12);
    const Bytes data = Pattern(9 * 1024, 13);
    ASSERT_TRUE(WriteFile(m_work + "loader.bin", loader));
    ASSERT_TRUE(WriteFile(m_work + "app.bin", app));
    ASSERT_TRUE(WriteFile(m_work + "data.bin", data));
    // Relative paths: taken from this directory, not from the installation.
    const RunResult pack = RunProgram(Bin("tarnwick-pkg"),
                                      {"pack", "board.fwpkg", "--entry", "loader.bin:0:0:0:loader.bin", "--entry",
                                       "app.bin:1:0x10000:0x20000:app.bin", "--entry",
                                       "data.bin:1:0x40000:0x10000:data.bin"},
                                      RUN_LIMIT_MS);
    ASSERT_EQ(pack.exitCode, 0) << pack.output;
    const RunResult verify = RunProgram(Bin("tarnwick-pkg"), {"verify", "board.fwpkg", "--family", "vb27"}, RUN_LIMIT_MS);
    ASSERT_EQ(verify.exitCode, 0) << verify.output;

    Simulator sim(m_work, "vb27");
    ASSERT_TRUE(sim.Started());
    const RunResult burn = RunProgram(Bin("tarnwickcmd"), ToolArgs("--burn", "vb27", sim.Port(), "board.fwpkg"), RUN_LIMIT_MS);
    const SimReport report = sim.Stop();
    EXPECT_EQ(burn.exitCode, 0) << burn.output;
    EXPECT_TRUE(Contains(burn.output, "\nBurned successfully.\n")) << burn.output;
    ExpectVb27Board(report, sim.Flash(),
                    {{"loader.bin", TYPE_LOADER, 0, 0, loader},
                     {"app.bin", TYPE_FLASH, 0x10000, 0x20000, app},
                     {"data.bin", TYPE_FLASH, 0x40000, 0x10000, data}});
}

}  // namespace
