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
#include "support/loopback_socket.h"
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
constexpr const char* BURNED = "\nBurned successfully.\n";
// EF BE AD DE 0C 00 87 78 00 00 and the CRC16 of those ten bytes, low byte first.
constexpr const char* RESET_FRAME_HEX = "efbeadde0c00877800006194";

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

// What value holds of expected: the members it names (a missing one is null)
// and the items of a list as long, down to the leaves, so that the two compare whole.
inline nlohmann::json Pick(const nlohmann::json& value, const nlohmann::json& expected)
{
    nlohmann::json picked = expected.is_object() ? nlohmann::json::object() : value;
    if (expected.is_object()) {
        for (const auto& item : expected.items()) {
            const nlohmann::json member = value.is_object() ? value.value(item.key(), nlohmann::json()) : nullptr;
            picked[item.key()] = Pick(member, item.value());
        }
    } else if (expected.is_array() && value.is_array() && value.size() == expected.size()) {
        for (size_t i = 0; i < value.size(); ++i) {
            picked[i] = Pick(value[i], expected[i]);
        }
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

    // A burn of package with -report:, whose report is then m_report (an empty object when there is none).
    BoardRun Reported(const std::string& family, const std::vector<PackageImage>& package,
                      std::vector<std::string> toolExtra, const std::vector<std::string>& simExtra = {},
                      int limitMs = RUN_LIMIT_MS, const SignalPlan* plan = nullptr);
    // The images of m_report, or an empty list.
    nlohmann::json Images() const { return m_report.value("images", nlohmann::json::array()); }

    nlohmann::json m_report;

private:
    TempDir m_temp{"tarnwick-e2e"};
    std::string m_dir = m_temp.Path() + "/";
    bool m_ready = false;
    std::map<std::string, std::string> m_given;  // path: digest, size and modification time
};

// A burn against a board whose line or answers go wrong in one way each, or
// that is cancelled from outside (fault_matrix_test.cpp). KILLED: a second
// signal ended the process by its default action.
enum class Ending { RECOVERS, FAILS, KILLED };

struct FaultCase {
    std::string name;
    std::string family;
    std::vector<std::string> simFaults;
    Ending ending;
    int limitMs;
    // Texts the output must hold, in this order.
    std::vector<std::string> messages;
    // A report event that proves the simulator did inject the fault.
    std::string injected;
    SignalPlan plan = {};  // signals sent to the tool, if any
    std::string absent = "";  // a text the output must not hold
    // With -report:, what its run report must hold besides the run's exit code.
    nlohmann::json report = nullptr;
    std::vector<PackageImage> package = {};  // empty: the family's of the matrix
    std::vector<std::string> toolOptions = {};
    bool firesOnce = false;  // the one fault of the plan fired exactly once

    static std::string Name(const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; }
};

class FaultMatrix : public E2eTest, public ::testing::WithParamInterface<FaultCase> {};

}  // namespace E2e
