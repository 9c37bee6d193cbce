// What the station's end-to-end runs share: the e2e installation with
// tarnwick-station copied beside the tool, simulated boards in directories of
// their own, a small Vb27 package, a stand-in for the tool, and the summary
// read back.
#pragma once

#include <filesystem>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

namespace E2e {

constexpr int STATION_LIMIT_MS = 120000;
constexpr int OUTPUT_LIMIT_MS = 30000;
constexpr int STATION_USAGE_EXIT = 2;

// Before a stand-in's body runs, $report is the path of its -report: option
// and $port its port; `event JSON` writes an event line, `report CODE
// LAST_ERROR CANCELLED IMAGES_JSON` its run report.
constexpr const char* STAND_IN_PREAMBLE = R"(#!/bin/sh
report=""
port=""
previous=""
for a in "$@"; do
  if [ "$previous" = serial ]; then port="$a"; fi
  if [ "${a#-report:}" != "$a" ]; then report="${a#-report:}"; fi
  previous="$a"
done
event() { printf '%s\n' "$1" >&3; }
report() {
  printf '{"resultCode":%s,"lastError":"%s","cancelled":%s,"images":%s}\n' "$1" "$2" "$3" "$4" > "$report.part"
  mv "$report.part" "$report"
}
)";

class StationTest : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        std::error_code error;
        std::filesystem::copy_file(std::string(TARNWICK_BIN_DIR) + "/tarnwick-station", Station(), error);
        ASSERT_FALSE(error) << "build tarnwick-station first";
    }

    std::string Station() const { return Path("bin/tarnwick-station"); }

    // The station's arguments followed by its summary file and run directory.
    std::vector<std::string> WithOutputs(std::vector<std::string> args) const
    {
        args.insert(args.end(), {"--summary", Path("summary.json"), "--run-dir", Path("run")});
        return args;
    }
    nlohmann::json Summary() const { return ReadJson(Path("summary.json")); }

    // Simulated boards in directories board0, board1, ..., each with extra options and board
    // `odd` with oddExtra on top; their ports are added to args (if any) as --port options.
    std::vector<std::unique_ptr<SimProcess>> StartBoards(size_t count, std::vector<std::string>* args,
                                                         const std::string& family = "vb27",
                                                         const std::vector<std::string>& extra = {},
                                                         size_t odd = SIZE_MAX,
                                                         const std::vector<std::string>& oddExtra = {})
    {
        std::vector<std::unique_ptr<SimProcess>> boards;
        for (size_t i = 0; i < count; ++i) {
            const std::string dir = Path("board" + std::to_string(i) + "/");
            std::filesystem::create_directories(dir);
            std::vector<std::string> options = extra;
            if (i == odd) {
                options.insert(options.end(), oddExtra.begin(), oddExtra.end());
            }
            boards.push_back(std::make_unique<SimProcess>(SimArgs(dir, family, options)));
            EXPECT_TRUE(boards.back()->Ok());
            if (args != nullptr) {
                args->insert(args->end(), {"--port", boards.back()->Port()});
            }
        }
        return boards;
    }

    // Board i's flash, once it has stopped.
    Bytes Flash(const std::vector<std::unique_ptr<SimProcess>>& boards, size_t i) const
    {
        boards[i]->Stop(2000);
        return ReadFile(Path("board" + std::to_string(i) + "/sim-flash.bin"));
    }

    static std::vector<PackageImage> SmallPackage(size_t appBytes = 40000)
    {
        return {{"loader.bin", TYPE_LOADER, 0, 0, Pattern(6000, 1)},
                {"app.bin", TYPE_FLASH, 0x10000, 0x20000, Pattern(appBytes, 2)}};
    }

    // Replaces the installation's tool with a shell script (see STAND_IN_PREAMBLE).
    void StandIn(const std::string& body)
    {
        ASSERT_TRUE(WriteText(Tool(), STAND_IN_PREAMBLE + body + "\n"));
        std::filesystem::permissions(Tool(), std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    }
};

}  // namespace E2e
