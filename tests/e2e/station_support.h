// What the station's end-to-end runs share: the e2e installation with
// tarnwick-station copied beside the tool, simulated boards in directories of
// their own, a small Vb27 package, and JSON files read back.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e_support.h"
#include "support/station_runner.h"

namespace E2e {

constexpr int STATION_LIMIT_MS = 120000;
constexpr int OUTPUT_LIMIT_MS = 30000;
constexpr int STATION_USAGE_EXIT = 2;

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

    // A simulated board with its report and flash in the directory name.
    std::unique_ptr<SimProcess> StartSim(const std::string& name, const std::vector<std::string>& extra = {},
                                         const std::string& family = "vb27")
    {
        const std::string dir = Path(name + "/");
        std::filesystem::create_directories(dir);
        auto sim = std::make_unique<SimProcess>(SimArgs(dir, family, extra));
        EXPECT_TRUE(sim->Ok());
        return sim;
    }

    static std::vector<PackageImage> SmallPackage(size_t appBytes = 40000)
    {
        return {{"loader.bin", TYPE_LOADER, 0, 0, Pattern(6000, 1)},
                {"app.bin", TYPE_FLASH, 0x10000, 0x20000, Pattern(appBytes, 2)}};
    }

    // Replaces the installation's tool with a stand-in (see StandInTool).
    void StandIn(const std::string& body)
    {
        ASSERT_TRUE(WriteText(Tool(), StandInTool(body)));
        std::filesystem::permissions(Tool(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                                 std::filesystem::perms::group_exec |
                                                 std::filesystem::perms::others_read |
                                                 std::filesystem::perms::others_exec);
    }
};

}  // namespace E2e
