// End-to-end runs: the built tarnwickcmd, copied into a temporary
// installation, against tarnwick-sim on a pseudo-terminal; packages written
// byte for byte from the package layout; the simulator's report read back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/fwpkg_builder.h"
#include "support/sim_launcher.h"
#include "support/test_files.h"

namespace E2e {

using namespace TestSupport;

// --- packages -------------------------------------------------------------------

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

using PackageEntry = TestSupport::PackageImage;

// Normal layout offsets the fault cases poke at.
constexpr size_t HEADER_LENGTH = TestSupport::NORMAL_HEADER;
constexpr size_t ENTRY_LENGTH = TestSupport::NORMAL_ENTRY;
constexpr size_t OFFSET_CRC = 4;
constexpr size_t ENTRY_OFFSET_LENGTH = TestSupport::NORMAL_NAME + TestSupport::FIELD_LENGTH;

inline void PutLe32(Bytes& bytes, size_t offset, uint32_t value)
{
    TestSupport::PutLe(bytes, offset, value, 4);
}

// The tool's command line for an operation on a board at port.
std::vector<std::string> ToolArgs(const std::string& operation, const std::string& chip, const std::string& port,
                                  const std::string& package, const std::vector<std::string>& extra = {});

// --- the simulator ----------------------------------------------------------------

class Simulator {
public:
    // Starts tarnwick-sim with --family, --report and --flash in dir plus extra arguments.
    Simulator(const std::string& dir, const std::string& family, const std::vector<std::string>& extra = {});

    bool Started() const { return m_process.Ok(); }
    const std::string& Port() const { return m_process.Port(); }
    // Ends the simulator (it may have ended by itself after a reset) and reads its report.
    SimReport Stop();
    Bytes Flash() const { return ReadFile(m_flashPath); }

private:
    std::string m_reportPath;
    std::string m_flashPath;
    TestSupport::SimProcess m_process;
};

// --- what a Vb27 / Qn4180 board must have seen ---------------------------------------

// The entries a burn sends: every one but type 16.
std::vector<PackageEntry> Vb27Sent(const std::vector<PackageEntry>& entries);
// The board received exactly `sent`, in order, byte for byte, with the kind and
// burn address of each, and every flash image lies in its flash at its address.
void ExpectVb27Board(const SimReport& report, const Bytes& flash, const std::vector<PackageEntry>& sent);
bool FlashHolds(const Bytes& flash, uint64_t address, const Bytes& data);
bool IsErased(const Bytes& flash, size_t address, size_t length);

// --- the installation --------------------------------------------------------------

// A temporary directory with bin/tarnwickcmd, bin/config/burn.config and
// bin/ChipProperties/ taken from the build; removed with the object.
class Installation {
public:
    Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    bool Ready() const { return m_ready; }
    const std::string& Dir() const { return m_dir; }
    std::string Path(const std::string& relative) const { return m_dir + relative; }
    std::string Tool() const { return m_dir + "bin/tarnwickcmd"; }
    bool SetResetAtCommand(const std::string& chip, const std::string& command);
    RunResult Run(const std::vector<std::string>& arguments, int limitMs, const SignalPlan* plan = nullptr) const
    {
        return RunProgram(Tool(), arguments, limitMs, {true, "", plan});
    }

private:
    TempDir m_temp;
    std::string m_dir;
    bool m_ready = false;
};

}  // namespace E2e
