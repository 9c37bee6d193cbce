// `cmake --install` of this build into a temporary prefix, used from another
// working directory: the programs find config/ and ChipProperties/ beside
// themselves, tarnwick-pkg packs a package there and tarnwickcmd burns it into
// a simulated Vb27 board.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;
namespace fs = std::filesystem;

namespace {

TEST(InstalledPrefix, ProgramsRunFromAnotherDirectoryAndBurnAPackagePackedThere)
{
    TempDir root("tarnwick-install");
    const std::string bin = root.File("prefix/bin/");
    const std::string work = root.File("elsewhere/");
    fs::create_directories(work);
    const std::string build = fs::path(TARNWICK_BIN_DIR).parent_path().string();
    const RunResult install =
        RunProgram("/usr/bin/env", {"cmake", "--install", build, "--prefix", root.File("prefix")}, RUN_LIMIT_MS);
    ASSERT_EQ(install.exitCode, 0) << install.output;

    const std::string share = root.File("prefix/share/");
    for (const std::string program : {"tarnwickcmd", "tarnwick-sim", "tarnwick-pkg"}) {
        EXPECT_EQ(access((bin + program).c_str(), X_OK), 0) << program;
        EXPECT_TRUE(fs::is_regular_file(share + "man/man1/" + program + ".1")) << program;
        EXPECT_TRUE(fs::is_regular_file(share + "bash-completion/completions/" + program)) << program;
    }
    EXPECT_TRUE(fs::is_regular_file(share + "man/man5/tarnwick-files.5"));
    const std::string source = std::string(TARNWICK_SOURCE_DIR) + "/";
    for (const std::string file : {"config/burn.config", "ChipProperties/vb27.txt", "ChipProperties/qn4180.txt",
                                   "ChipProperties/typesix.txt"}) {
        EXPECT_FALSE(ReadFile(source + file).empty()) << file;
        EXPECT_EQ(ReadFile(bin + file), ReadFile(source + file)) << file;
    }

    // Every program starts in a directory that has nothing of the installation.
    const RunOptions elsewhere{true, work};
    const RunResult sim = RunProgram(bin + "tarnwick-sim", {}, RUN_LIMIT_MS, elsewhere);
    EXPECT_EQ(sim.exitCode, 2);
    EXPECT_TRUE(Contains(sim.output, "tarnwick-sim --help")) << sim.output;

    const std::vector<PackageImage> entries{{"loader.bin", TYPE_LOADER, 0, 0, Pattern(6 * 1024 + 5, 11)},
                                            {"app.bin", TYPE_FLASH, 0x10000, 0x20000, Pattern(40 * 1024 + 3, 12)},
                                            {"data.bin", TYPE_FLASH, 0x40000, 0x10000, Pattern(9 * 1024, 13)}};
    std::vector<std::string> pack{"pack", "board.fwpkg"};
    for (const PackageImage& e : entries) {
        ASSERT_TRUE(WriteFile(work + e.name, e.data));
        const std::string place = std::to_string(e.burnAddress) + ":" + std::to_string(e.burnSize);
        pack.insert(pack.end(), {"--entry", e.name + ":" + std::to_string(e.type) + ":" + place + ":" + e.name});
    }
    // Relative paths: taken from this directory, not from the installation.
    const RunResult packed = RunProgram(bin + "tarnwick-pkg", pack, RUN_LIMIT_MS, elsewhere);
    ASSERT_EQ(packed.exitCode, 0) << packed.output;

    SimProcess board(SimArgs(work, "vb27"));
    ASSERT_TRUE(board.Ok());
    BoardRun burn;
    burn.run = RunProgram(bin + "tarnwickcmd", ToolArgs("--burn", "vb27", board.Port(), "board.fwpkg"), RUN_LIMIT_MS,
                          elsewhere);
    CollectBoard(board, work, burn);
    EXPECT_EQ(burn.run.exitCode, 0) << burn.run.output;
    EXPECT_TRUE(Contains(burn.run.output, "\nBurned successfully.\n")) << burn.run.output;
    ExpectVb27Board(burn.report, burn.flash, entries);
}

}  // namespace
