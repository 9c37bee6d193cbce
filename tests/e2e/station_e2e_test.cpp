// Many boards at once: eight TypeSix burns of one package by separate tool
// runs, and eight Vb27 boards through tarnwick-station with one of them
// breaking off. Every board must end with exactly the package's bytes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <memory>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

using namespace E2e;

namespace {

constexpr int BOARDS = 8;

// A simulated board with its report and flash in a directory of its own.
struct Board {
    std::string dir;
    std::unique_ptr<SimProcess> sim;
};

class ManyBoards : public E2eTest {
protected:
    std::vector<Board> StartBoards(const std::string& family, size_t faulty = BOARDS,
                                   const std::vector<std::string>& fault = {})
    {
        std::vector<Board> boards(BOARDS);
        for (size_t i = 0; i < boards.size(); ++i) {
            boards[i].dir = Path("board" + std::to_string(i) + "/");
            std::filesystem::create_directories(boards[i].dir);
            boards[i].sim = std::make_unique<SimProcess>(SimArgs(boards[i].dir, family, i == faulty ? fault : std::vector<std::string>{}));
            EXPECT_TRUE(boards[i].sim->Ok());
        }
        return boards;
    }

    static Bytes Flash(const Board& board)
    {
        board.sim->Stop(2000);
        return ReadFile(board.dir + "sim-flash.bin");
    }
};

TEST_F(ManyBoards, EightTypeSixBurnsOfOnePackageAtOnceEachBurnThePackage)
{
    const std::vector<PackageImage> package{{"loader.bin", TYPE_LOADER, 0, 0, Pattern(30000, 1)},
                                            {"flash.bin", TYPESIX_FLASH, 0x20000, 0x40000, Pattern(150000, 2)},
                                            {"emmc.img", TYPESIX_EMMC, 0x400, 0x20000, Pattern(70000, 3)}};
    const std::string file = Given("fw.fwpkg", BuildPackage(package));
    std::vector<Board> boards = StartBoards("typesix");
    std::vector<pid_t> tools;
    for (const Board& board : boards) {
        std::vector<std::string> argv{Tool()};
        const std::vector<std::string> args = ToolArgs("--burn", "typesix", board.sim->Port(), file);
        argv.insert(argv.end(), args.begin(), args.end());
        tools.push_back(Spawn(argv, -1, true));
    }
    for (size_t i = 0; i < tools.size(); ++i) {
        int status = 0;
        ASSERT_EQ(waitpid(tools[i], &status, 0), tools[i]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "board " << i;
    }
    for (size_t i = 0; i < boards.size(); ++i) {
        const Bytes flash = Flash(boards[i]);
        EXPECT_TRUE(FlashHolds(flash, 0x20000, package[1].data)) << "board " << i;
    }
    // Whoever looks in the extract directory finds the package's images, and no leftovers.
    for (const PackageImage& image : package) {
        EXPECT_EQ(ReadFile(Path("fw_extract/") + image.name), image.data) << image.name;
    }
    for (const auto& entry : std::filesystem::directory_iterator(Path("fw_extract"))) {
        EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();
    }
}

TEST_F(ManyBoards, TheStationBurnsEightBoardsAndNamesTheOneThatFailed)
{
    const std::vector<PackageImage> package{{"loader.bin", TYPE_LOADER, 0, 0, Pattern(6000, 1)},
                                            {"app.bin", TYPE_FLASH, 0x10000, 0x20000, Pattern(100000, 2)}};
    const std::string file = Given("fw.fwpkg", BuildPackage(package));
    std::filesystem::copy_file(std::string(TARNWICK_BIN_DIR) + "/tarnwick-station", Path("bin/tarnwick-station"));
    const size_t faulty = 5;
    std::vector<Board> boards = StartBoards("vb27", faulty, {"--close-after", "30000"});
    std::vector<std::string> args{"--burn", "--summary", Path("summary.json"), "--run-dir", Path("run"),
                                  "-n",     "vb27",      "-f",                 file};
    for (const Board& board : boards) {
        args.insert(args.end(), {"--port", board.sim->Port()});
    }
    const RunResult run = RunProgram(Path("bin/tarnwick-station"), args, RUN_LIMIT_MS);
    EXPECT_EQ(run.exitCode, 1) << run.output;

    const std::string failedPort = boards[faulty].sim->Port();
    const Bytes summaryBytes = ReadFile(Path("summary.json"));
    const nlohmann::json summary = nlohmann::json::parse(summaryBytes.begin(), summaryBytes.end(), nullptr, false);
    ASSERT_TRUE(summary.is_object()) << run.output;
    EXPECT_EQ(summary["totals"].value("boards", 0), BOARDS);
    EXPECT_EQ(summary["totals"].value("failed", 0), 1);
    ASSERT_EQ(summary["boards"].size(), static_cast<size_t>(BOARDS));
    for (const nlohmann::json& board : summary["boards"]) {
        const bool isFaulty = board.value("port", "") == failedPort;
        EXPECT_EQ(board.value("result", ""), isFaulty ? "failed" : "ok") << board.dump();
        EXPECT_EQ(board["report"].value("port", ""), board.value("port", ""));
        EXPECT_EQ(board["report"].value("images", nlohmann::json::array()).size(), package.size());
        if (isFaulty) {
            EXPECT_FALSE(board.value("reason", "").empty());
            EXPECT_TRUE(std::filesystem::exists(board.value("log", ""))) << board.dump();
        }
    }
    // Not a terminal: plain lines per board event, the failure with its log, then the table.
    EXPECT_TRUE(Contains(run.output, failedPort + " FAILED: ")) << run.output;
    EXPECT_TRUE(Contains(run.output, "8 boards, 7 succeeded, 1 failed\n")) << run.output;
    for (size_t i = 0; i < boards.size(); ++i) {
        const Bytes flash = Flash(boards[i]);
        EXPECT_EQ(FlashHolds(flash, 0x10000, package[1].data), i != faulty) << "board " << i;
    }
}

}  // namespace
