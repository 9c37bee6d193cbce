// End-to-end runs: the built tarnwickcmd, copied into a temporary
// installation, against tarnwick-sim on a pseudo-terminal; packages written
// byte for byte from the package layout; the simulator's report read back.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace E2e {

using Bytes = std::vector<uint8_t>;

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

struct PackageEntry {
    std::string name;
    uint32_t type = TYPE_FLASH;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
    Bytes data;
};

// Normal layout: 12-byte header (flag, CRC, count, 4 bytes not read), 52-byte
// entries, then the images in entry order. All numbers little-endian.
constexpr size_t HEADER_LENGTH = 12;
constexpr size_t ENTRY_LENGTH = 52;
constexpr size_t NAME_LENGTH = 32;
constexpr size_t OFFSET_FLAG = 0;
constexpr size_t OFFSET_CRC = 4;
constexpr size_t OFFSET_COUNT = 6;
constexpr size_t ENTRY_OFFSET_OFFSET = 32;
constexpr size_t ENTRY_OFFSET_LENGTH = 36;
constexpr size_t ENTRY_OFFSET_ADDRESS = 40;
constexpr size_t ENTRY_OFFSET_SIZE = 44;
constexpr size_t ENTRY_OFFSET_TYPE = 48;
constexpr uint32_t PACKAGE_FLAG = 0xEFBEADDF;

Bytes BuildPackage(const std::vector<PackageEntry>& entries, uint32_t flag = PACKAGE_FLAG);
// Recomputes the CRC after a test has changed the header or table.
void SealPackage(Bytes& package);
void PutLe32(Bytes& bytes, size_t offset, uint32_t value);

// Bytes that differ from image to image and from block to block.
Bytes Pattern(size_t length, uint32_t seed);
std::string Sha256Hex(const Bytes& bytes);
std::string Hex(const Bytes& bytes);

// --- files and text -----------------------------------------------------------

bool WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
bool Contains(const std::string& text, const std::string& part);
size_t CountOf(const std::string& text, const std::string& part);

// --- processes ------------------------------------------------------------------

// Starts argv[0]; its standard output (and standard error if asked) go to
// outFd, or to /dev/null when outFd < 0. Returns the child's id, -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, int outFd, bool withStderr);

struct RunResult {
    std::string output;  // standard output and standard error
    int exitCode = -1;   // -1: killed at the time limit, or ended by a signal
    int signal = 0;      // the signal that ended it, other than the time limit's
    bool signalled = false;
};

// Signals sent to a run once its output holds `after` (and delayMs later);
// from then on it has endLimitMs to end.
struct SignalPlan {
    std::string after;
    int delayMs = 0;
    std::vector<int> signals;
    int endLimitMs = 0;
};

// Runs program with arguments; kills it after limitMs.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, int limitMs,
                     const SignalPlan* plan = nullptr);

// The tool's command line for an operation on a board at port.
std::vector<std::string> ToolArgs(const std::string& operation, const std::string& chip, const std::string& port,
                                  const std::string& package, const std::vector<std::string>& extra = {});

// --- the simulator ----------------------------------------------------------------

struct SimImage {
    std::string kind;
    std::string name;
    uint64_t address = 0;
    uint64_t length = 0;
    uint64_t regionSize = 0;
    std::string sha256;
};

struct SimReport {
    std::string text;  // the whole document
    std::vector<SimImage> images;
    std::vector<std::string> resets;  // frames in hex
    std::vector<uint64_t> baudChanges;
    std::vector<std::string> protocolErrors;
    std::vector<std::string> events;
    std::vector<std::string> erases;  // the erase objects as written
    bool HasEvent(const std::string& part) const;
};

// The report puts every list item on a line of its own.
SimReport ParseReport(const std::string& text);

class Simulator {
public:
    // Starts tarnwick-sim with --family, --report and --flash in dir plus extra arguments.
    Simulator(const std::string& dir, const std::string& family, const std::vector<std::string>& extra = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool Started() const { return !m_port.empty(); }
    const std::string& Port() const { return m_port; }
    // Ends the simulator (it may have ended by itself after a reset) and reads its report.
    SimReport Stop();
    Bytes Flash() const { return ReadFile(m_flashPath); }

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    std::string m_port;
    std::string m_reportPath;
    std::string m_flashPath;
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
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    bool Ready() const { return m_ready; }
    const std::string& Dir() const { return m_dir; }
    std::string Path(const std::string& relative) const { return m_dir + relative; }
    std::string Tool() const { return m_dir + "bin/tarnwickcmd"; }
    bool SetResetAtCommand(const std::string& chip, const std::string& command);
    RunResult Run(const std::vector<std::string>& arguments, int limitMs, const SignalPlan* plan = nullptr) const;

private:
    std::string m_dir;
    bool m_ready = false;
};

}  // namespace E2e
