// The board side of the simulator: what every simulated board family sees of
// its serial line, its flash, its fault plan and its report.
#pragma once

#include "sim/fault_plan.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Sim {

// Bytes the board sends back to the tool. The line applies pacing (--line-baud)
// and line-level faults (noise, pulled cable); the board applies answer faults.
// Noise: FaultPlan::noiseBeforeAnswers junk bytes go out before every Write(),
// never before WriteData(). The junk holds no frame start and no YMODEM control
// byte, so it can only hurt a receiver that does not resynchronise.
class Line {
public:
    virtual ~Line() = default;
    virtual void Write(const uint8_t* data, size_t length) = 0;
    void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
    // Bulk data that is no answer of its own (YMODEM blocks and control bytes,
    // read-back data): the line paces it but puts no noise in front of it.
    virtual void WriteData(const uint8_t* data, size_t length) { Write(data, length); }
    void WriteData(const std::vector<uint8_t>& bytes) { WriteData(bytes.data(), bytes.size()); }
    // The board switched its UART to a new speed (after it answered at the old one).
    virtual void SetBaud(uint32_t baud) = 0;
    virtual uint32_t GetBaud() const = 0;
};

// Flash of the board: kept in memory, optionally loaded from and saved to a file.
class Flash {
public:
    explicit Flash(size_t size, uint8_t erased = 0xFF);
    bool Load(const std::string& path);
    bool Save(const std::string& path) const;
    // Writes grow the flash when they reach past its end (a board with a
    // larger part); erased bytes read as the erase value. A bad cell the
    // write covers stores its bit wrong; those hit are returned.
    std::vector<BadCell> Write(uint64_t address, const uint8_t* data, size_t length);
    void SetBadCells(std::vector<BadCell> cells) { m_badCells = std::move(cells); }
    std::vector<uint8_t> Read(uint64_t address, size_t length) const;
    void EraseAll();
    void Erase(uint64_t address, uint64_t length);
    // Largest flash a board may grow to; a write or read reaching past it is
    // a protocol error of the tool, not a reason to allocate gigabytes.
    static constexpr uint64_t MAX_SIZE = 256ull * 1024 * 1024;
    static bool Fits(uint64_t address, uint64_t length)
    {
        return address <= MAX_SIZE && length <= MAX_SIZE - address;
    }
    size_t Size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    uint8_t m_erased;
    std::vector<BadCell> m_badCells;
};

struct ImageRecord {
    std::string kind;       // "flash", "nv", "otp", "factory", "version", "loader", "ssb", "emmc", "app", ...
    uint64_t address = 0;   // burn address, when the kind has one
    int fileType = -1;      // application file type, when the kind has one
    uint64_t length = 0;
    std::string sha256;     // hex digest of the bytes received
    int digestMatched = -1; // -1: no digest sent, 0: mismatch, 1: match
    std::string name;       // file name the transfer announced, if any
    uint64_t regionSize = 0; // flash region the command reserved, if any
};

// What the board counted on the line; a soak reads it to aim its faults.
struct Tally {
    // Keys of answersTo besides the command codes 0x00 to 0xFF.
    static constexpr int CLOSING_ACK = 0x100;  // the ACK frame after a YMODEM transfer
    static constexpr int NO_COMMAND = 0x101;   // the answer to a frame too broken to name its command
    uint64_t answers = 0;
    std::map<int, uint64_t> answersTo;
    uint64_t transfers = 0;   // YMODEM transfers that named a file
    uint64_t dataBlocks = 0;  // intact data blocks, repeats included
    uint64_t received = 0;    // bytes from the tool
};

// One fault of the plan and what became of it.
struct FaultRecord {
    std::string fault;  // the option that asked for it, without its dashes
    std::string which;  // its value as given; empty for a flag
    uint64_t fired = 0;
    std::vector<std::string> where;  // the first places it fired
};

// What the board saw; written as JSON when the simulator ends.
class Report {
public:
    // At most this many places are kept per fault; fired counts them all.
    static constexpr size_t FAULT_PLACES_KEPT = 8;
    void AddImage(const ImageRecord& image);
    void AddErase(const std::string& what, uint64_t address, uint64_t length);
    void AddReset(const std::vector<uint8_t>& frame);
    void AddBaudChange(uint32_t baud);
    // The rate the tool's side of the line was found set to, when it changed.
    void AddLineRate(uint32_t baud);
    void AddProtocolError(const std::string& text);
    void AddEvent(const std::string& text);  // anything else worth a line
    void SetFamily(const std::string& family) { m_family = family; }
    // A fault of the plan, not fired yet; returns its index for FaultFired.
    size_t AddFault(const std::string& fault, const std::string& which);
    void FaultFired(size_t index, const std::string& where);
    Tally& GetTally() { return m_tally; }
    const Tally& GetTally() const { return m_tally; }
    const std::vector<FaultRecord>& Faults() const { return m_faults; }
    std::string ToJson(const Flash& flash) const;
    bool Save(const std::string& path, const Flash& flash) const;

    const std::vector<ImageRecord>& Images() const { return m_images; }
    const std::vector<std::string>& ProtocolErrors() const { return m_errors; }
    int Resets() const { return static_cast<int>(m_resets.size()); }

private:
    std::vector<ImageRecord> m_images;
    struct EraseRecord {
        std::string what;
        uint64_t address;
        uint64_t length;
    };
    std::vector<EraseRecord> m_erases;
    std::vector<std::vector<uint8_t>> m_resets;
    std::vector<uint32_t> m_bauds;
    std::vector<uint32_t> m_lineRates;
    std::vector<std::string> m_errors;
    std::vector<std::string> m_events;
    std::vector<FaultRecord> m_faults;
    Tally m_tally;
    std::string m_family;
};

// One simulated board family. The simulator's loop feeds it every byte the
// tool sends and ticks it so it can talk on its own (boot text, repeats).
class Board {
public:
    virtual ~Board() = default;
    virtual void OnBytes(const uint8_t* data, size_t length) = 0;
    virtual void OnTick(int64_t nowMs) = 0;
    // True once the board has been reset by the tool: the run is over.
    virtual bool WasReset() const = 0;
};

class FaultSchedule;

struct BoardEnv {
    Line& line;
    Flash& flash;
    Report& report;
    FaultSchedule& faults;
};

std::unique_ptr<Board> MakeVb27Board(BoardEnv env, bool qn4180);
std::unique_ptr<Board> MakeTypeSixBoard(BoardEnv env);

}  // namespace Sim
