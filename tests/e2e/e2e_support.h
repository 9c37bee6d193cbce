// End-to-end runs: the built tarnwickcmd, copied into a temporary
// installation, against tarnwick-sim on a pseudo-terminal; packages written
// byte for byte from the package layout; the simulator's report read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/fwpkg_builder.h"
#include "support/sim_launcher.h"
#include "support/test_files.h"

namespace E2e {

using namespace TestSupport;

// Vb27 image types (4 is eFuse, burned like OTP).
constexpr uint32_t TYPE_LOADER = 0;
constexpr uint32_t TYPE_FLASH = 1;
constexpr uint32_t TYPE_NV_KV = 2;
constexpr uint32_t TYPE_OTP_EFUSE = 3;
constexpr uint32_t TYPE_EFUSE = 4;
constexpr uint32_t TYPE_FACTORY = 6;
constexpr uint32_t TYPE_VERSION = 7;
constexpr uint32_t TYPE_SKIPPED = 16;
// TypeSix image types.
constexpr uint32_t TYPESIX_FLASH = 100;
constexpr uint32_t TYPESIX_EMMC = 101;
constexpr uint32_t TYPESIX_DIGEST = 102;


constexpr size_t OFFSET_CRC = 4;
constexpr int RUN_LIMIT_MS = 120000;

// The tool's command line for an operation on a board at port.
std::vector<std::string> ToolArgs(const std::string& operation, const std::string& chip, const std::string& port,
                                  const std::string& package, const std::vector<std::string>& extra = {});

// tarnwick-sim's arguments for a board of family whose report and flash are in dir.
std::vector<std::string> SimArgs(const std::string& dir, const std::string& family,
                                 const std::vector<std::string>& extra = {});

// The Vb27 / Qn4180 board received exactly `sent`, in order, byte for byte,
// with the kind and burn address of each, and every flash image lies in its
// flash at its address.
void ExpectVb27Board(const SimReport& report, const Bytes& flash, const std::vector<PackageImage>& sent);
bool FlashHolds(const Bytes& flash, uint64_t address, const Bytes& data);

inline std::string ReadText(const std::string& path)
{
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// A file's JSON; a discarded value when it is missing or no JSON.
inline nlohmann::json ReadJson(const std::string& path)
{
    return nlohmann::json::parse(ReadText(path), nullptr, false);
}

// The members of object that expected names, so that the two compare whole
// (a missing member is null).
inline nlohmann::json Pick(const nlohmann::json& object, const nlohmann::json& expected)
{
    nlohmann::json picked = nlohmann::json::object();
    for (const auto& item : expected.items()) {
        picked[item.key()] = object.is_object() ? object.value(item.key(), nlohmann::json()) : nlohmann::json();
    }
    return picked;
}

struct BoardRun {
    RunResult run;
    SimReport report;
    Bytes flash;
};

// Stops a board (it ends by itself once the tool reset it and closed the
// line) and reads its report and flash from dir into out.
void CollectBoard(SimProcess& sim, const std::string& dir, BoardRun& out);

// A temporary installation (bin/tarnwickcmd, an empty bin/config/burn.config
// and bin/ChipProperties/ from the build) and the files given to the tool in
// it. No run may change a given file: same bytes, same modification time.
class E2eTest : public ::testing::Test {
protected:
    E2eTest();
    void SetUp() override { ASSERT_TRUE(m_ready) << "build tarnwickcmd first: " << TARNWICK_BIN_DIR; }

    std::string Path(const std::string& relative) const { return m_dir + relative; }
    std::string Tool() const { return m_dir + "bin/tarnwickcmd"; }
    // Writes a file for the tool to read; its path.
    std::string Given(const std::string& relative, const Bytes& bytes);
    // The tool's operation on file against a fresh simulated board of that family.
    BoardRun OnBoard(const std::string& operation, const std::string& family, const std::string& file,
                     const std::vector<std::string>& toolExtra = {}, const std::vector<std::string>& simExtra = {},
                     int limitMs = RUN_LIMIT_MS, const SignalPlan* plan = nullptr);

private:
    TempDir m_temp{"tarnwick-e2e"};
    std::string m_dir = m_temp.Path() + "/";
    bool m_ready = false;
    std::map<std::string, std::string> m_given;  // path: digest, size and modification time
};

}  // namespace E2e
