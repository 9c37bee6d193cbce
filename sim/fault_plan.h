// The faults a run of the simulator is asked to inject, as given on its
// command line. Which answer, block or cell a fault hits is written in a small
// selector syntax; the parsers here are its only home.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Sim {

// Which answer of the board a fault hits:
//   N        the N-th answer the board sends (from 1)
//   CODE@K   the K-th answer to command CODE (hex, 0x optional): D2@3, 0x05@1
//   close@K  Vb27/Qn4180: the K-th closing ACK of a YMODEM transfer (1: the loader's)
struct AnswerSelector {
    enum class By { POSITION, COMMAND, CLOSING_ACK };
    By by = By::POSITION;
    uint8_t code = 0;  // By::COMMAND
    uint64_t nth = 0;  // from 1
    std::string text;  // as given, for the report
};

// How a garbled answer is spoiled on the line.
enum class Garble {
    CHECK,  // its check (CRC or XOR byte) is wrong
    BIT,    // the lowest bit of its middle byte is flipped
    CUT,    // only its first half goes out
};

struct AnswerFault {
    enum class Kind { NEGATIVE, GARBLED, DROPPED };
    Kind kind = Kind::DROPPED;
    AnswerSelector which;
    Garble garble = Garble::CHECK;  // Kind::GARBLED
};

// Which YMODEM data block the board receives intact a fault hits:
//   N    the N-th intact data block over all transfers, repeats included
//   T:B  block B of the T-th transfer (1: the loader), when it first arrives
struct BlockSelector {
    uint64_t transfer = 0;  // 0: by position
    uint64_t nth = 0;       // position, or block number within the transfer
    std::string text;
};

struct BlockFault {
    enum class Kind {
        ASK_AGAIN,  // the board answers the block with 'C' and drops it
        ACK_LOST,   // the board keeps the block, its ACK never reaches the tool
    };
    Kind kind = Kind::ASK_AGAIN;
    BlockSelector which;
};

// A flash cell that stores one bit wrong: the byte at address always holds
// the byte programmed there with this bit flipped.
struct BadCell {
    uint64_t address = 0;
    int bit = 0;
};

// Everything a run is asked to inject; 0, false and empty mean never.
struct FaultPlan {
    size_t noiseBeforeAnswers = 0;  // junk bytes before every answer
    int nakFrame = 0;               // command frame N (from 1) refused, not carried out
    std::vector<AnswerFault> answers;
    std::vector<BlockFault> blocks;
    // The N-th ACK the tool sends for a read-back data block or EOT (from 1,
    // over every read-back, repeats included) never reaches the board.
    std::vector<uint64_t> lostReadBackAcks;
    std::vector<BadCell> badCells;
    bool silent = false;            // no boot text, no answers at all
    uint64_t closeAfterBytes = 0;   // hang up the line after N received bytes
    bool fallBackToRom = false;     // TypeSix: the ssb never starts, the ROM talks again
    bool ssbRunning = false;        // TypeSix: an ssb is already running at power-on
};

// Each parser fills its result and returns true, or returns false with a
// one-line reason in error.
bool ParseAnswerSelector(const std::string& text, AnswerSelector& selector, std::string& error);
// SELECTOR[:check|bit|cut], the manner defaulting to check.
bool ParseGarbledAnswer(const std::string& text, AnswerFault& fault, std::string& error);
bool ParseBlockSelector(const std::string& text, BlockSelector& selector, std::string& error);
// ADDRESS[:BIT], bit 0 to 7 (default 0).
bool ParseBadCell(const std::string& text, BadCell& cell, std::string& error);

const char* GarbleName(Garble garble);

}  // namespace Sim
