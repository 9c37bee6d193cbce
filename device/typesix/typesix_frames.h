// Wire frames of the TypeSix boards: the escaped framing, every command
// payload the tool sends (boot ROM and running ssb), the answer the board
// sends back, and the board's start text. Every byte for a TypeSix board is
// built here, and every answer is taken apart here.
//
// Framing, both directions:
//   5C 73 | payload with every 5C doubled | 5C 65
//
// Command payload (tool -> board):
//   0    1  sequence byte
//   1    1  command code
//   2    n  parameters; multi-byte numbers big-endian unless stated
//   2+n  1  check: XOR of bytes 0 .. 1+n
//
// Answer payload (board -> tool):
//   0    1  sequence byte (not examined)
//   1    1  0x02 for an acknowledgement
//   2    1  not examined
//   3    1  0x01 for success
//   4    k  answer data (read-back data; empty otherwise)
//   4+k  1  check: XOR of bytes 0 .. 3+k
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/chip_family.h"

namespace TypeSixFrames {

constexpr uint8_t ESCAPE = 0x5C;
constexpr uint8_t START_MARK = 0x73;  // 's'
constexpr uint8_t END_MARK = 0x65;    // 'e'
constexpr size_t HEAD_LEN = 2;
constexpr size_t TAIL_LEN = 2;

constexpr size_t SEQ_OFFSET = 0;
constexpr size_t CODE_OFFSET = 1;
constexpr size_t PARAM_OFFSET = 2;
constexpr size_t CHECK_LEN = 1;

enum CommandCode : uint8_t {
    CMD_INIT = 0x01,
    CMD_APP_SHA = 0x02,
    CMD_START_FLASH = 0x03,
    CMD_DATA = 0x04,
    CMD_END_FLASH = 0x05,
    CMD_MEMORY_CONFIG = 0x06,
    CMD_ERASE_CORE = 0x07,
    CMD_ERASE_ALL_EXIT = 0x08,
    CMD_EXIT = 0x0A,
    CMD_RESET = 0x0C,
    CMD_SPEED = 0x0D,
    CMD_ERASE_SSB = 0x0F,
    CMD_ERASE_ALL = 0x10,
    CMD_FLASH_LIMITS = 0x11,
    CMD_KEY_STORE = 0x13,
    CMD_CERTIFICATE = 0x14,
    CMD_SIGNATURE = 0x15,
    CMD_KV_KEY = 0x1E,
    CMD_DATA_REQUEST = 0x21,
    CMD_READ_VERSION = 0x25,
    CMD_BIN_HEAD = 0x36,
    CMD_SHA = 0x37,
    CMD_SSB_PACKET = 0xFC,
    CMD_SSB_DIGEST = 0xFD,
};

// --- framing ------------------------------------------------------------------

std::vector<uint8_t> Wrap(const std::vector<uint8_t>& payload);

// The first complete frame in bytes[0..count): a start mark drops everything
// collected so far, an end mark after a start completes the frame, 5C x stands
// for x. False while no frame is complete.
bool UnwrapFirstFrame(const uint8_t* bytes, size_t count, std::vector<uint8_t>& payload);

// --- answers ------------------------------------------------------------------

constexpr size_t ACK_INDEX = 1;
constexpr size_t RETURN_CODE_INDEX = 3;
constexpr size_t VALID_DATA_INDEX = 4;
constexpr size_t MIN_ANSWER_LEN = VALID_DATA_INDEX + CHECK_LEN;
constexpr uint8_t ACK_VALUE = 0x02;
constexpr uint8_t RETURN_CODE_VALUE = 0x01;

struct Answer {
    uint8_t ack = 0;
    uint8_t returnCode = 0;
    uint8_t check = 0;          // as received
    uint8_t computedCheck = 0;  // XOR of the bytes before it
    const uint8_t* data = nullptr;
    size_t dataLength = 0;

    bool CheckMatches() const { return check == computedCheck; }
    bool Positive() const { return ack == ACK_VALUE && returnCode == RETURN_CODE_VALUE && CheckMatches(); }
};

// False for a payload too short to hold bytes 1 and 3 and a check byte.
bool ReadAnswer(const std::vector<uint8_t>& payload, Answer& answer);

// --- boot ROM command channel ------------------------------------------------

std::vector<uint8_t> Init(uint8_t seq);
std::vector<uint8_t> ReadVersion(uint8_t seq);
// Fixed payloads: the sequence counter is not used.
std::vector<uint8_t> EraseSsbInit();
std::vector<uint8_t> EraseSsb();
std::vector<uint8_t> EraseAll(uint8_t seq);

// ssb packet, always packetSize + 7 bytes:
//   0 seq | 1 FC | 2 number u32 LITTLE-endian | 6 data (n) | 6+n check | 0xFF ...
constexpr size_t SSB_NUMBER_OFFSET = 2;
constexpr size_t SSB_DATA_OFFSET = 6;
constexpr size_t SSB_PACKET_OVERHEAD = 7;
// Packet numbers are 16-bit on the board.
constexpr uint32_t MAX_SSB_PACKETS = 65535;
// n must not exceed packetSize.
std::vector<uint8_t> SsbPacket(uint8_t seq, uint16_t number, const uint8_t* data, size_t n, size_t packetSize);

// seq | FD | image length u32 | digest | check
constexpr size_t SHA_HEAD_LEN = 7;
std::vector<uint8_t> SsbDigest(uint8_t seq, uint32_t imageLength, const uint8_t* digest, size_t n);

// Security frames carry a 16-bit length; longer data cannot be sent (empty result).
constexpr size_t MAX_SECURITY_DATA = 0xFFFF;
constexpr size_t KEYSTORE_HEAD_LEN = 6;     // seq | 13 | 01 | length u16 | data | check
constexpr size_t CERTIFICATE_HEAD_LEN = 5;  // seq | 14 | length u16 | data | check
constexpr size_t SIGNATURE_HEAD_LEN = 7;    // seq | 15 | 02 | 02 | length u16 | data | check
std::vector<uint8_t> KeyStore(uint8_t seq, const uint8_t* data, size_t n);
std::vector<uint8_t> Certificate(uint8_t seq, const uint8_t* data, size_t n);
std::vector<uint8_t> Signature(uint8_t seq, const uint8_t* data, size_t n);

// Written without waiting for an answer.
std::vector<uint8_t> Exit(uint8_t seq);
std::vector<uint8_t> EraseAllExit(uint8_t seq);
// seq | 0C | 00 00 00 00 | check
constexpr size_t RESET_LEN = 7;
std::vector<uint8_t> ResetPayload(uint8_t seq);

// --- ssb serial protocol ------------------------------------------------------

constexpr int FLASH_BIN_TYPE = Common::TYPESIX_FILE_FLASH_BIN;
constexpr int EMMC_BIN_TYPE = Common::TYPESIX_FILE_EMMC_BIN;
constexpr int OTP_BIN_TYPE = 103;
// File code of the bin head: 100 -> 0, 101 -> 1, 103 -> 2, anything else 0.
uint8_t FileCodeForType(int fileType);
// The other commands carry the low byte of the file type itself.
uint8_t FileTypeByte(int fileType);

std::vector<uint8_t> AppSha(uint8_t seq, int fileType, const uint8_t* sha, size_t n);
std::vector<uint8_t> StartFlashing(uint8_t seq, int fileType);
// seq | 04 | packetSize bytes: the chunk, then 0xFF | check. chunk <= packetSize.
std::vector<uint8_t> Data(uint8_t seq, const uint8_t* chunk, size_t chunkLength, size_t packetSize);
std::vector<uint8_t> EndFlashingPage(uint8_t seq);
constexpr uint32_t RAM_LENGTH = 262144;
std::vector<uint8_t> MemoryConfig(uint8_t seq, int fileType, uint32_t length);
std::vector<uint8_t> EraseCore(uint8_t seq, int fileType);
constexpr uint32_t DELAY_RESET_TIME = 28672;
std::vector<uint8_t> SetSpeed(uint8_t seq, uint32_t baudRate);
std::vector<uint8_t> FlashLimits(uint8_t seq);
std::vector<uint8_t> KvKey(uint8_t seq);
constexpr size_t DATA_REQUEST_CMD_LEN = 11;
std::vector<uint8_t> DataRequest(uint8_t seq, uint32_t address, uint32_t length);
std::vector<uint8_t> BinHead(uint8_t seq, int fileType, uint32_t address, uint32_t length);
std::vector<uint8_t> Sha(uint8_t seq, uint32_t address, uint32_t length, const uint8_t* sha, size_t n);

// Erase-core windows: 30 s per whole 2 MiB of the size, at least 30 s; total twice that.
struct Windows {
    unsigned long attempt;
    unsigned long total;
};
Windows EraseCoreWindows(uint32_t size);

// --- the board's start text ---------------------------------------------------

constexpr const char* ROM_TEXT = "-romloader";
constexpr const char* SSB_TEXT = "-ssb-codeloader";

// Appends bytes as text, every byte outside 0x08..0x0D and 0x20..0x7E turned
// into a space. Before the bytes go in, a text grown long is cut to a short
// tail, enough to find a start text split across reads.
void AppendBoardText(std::string& text, const uint8_t* bytes, size_t count);

}  // namespace TypeSixFrames

namespace Common {

// The framing above around data: 5C 73, the data with every 5C doubled, 5C 65.
std::vector<uint8_t> GetDouble5CFrameData(const uint8_t* data, uint32_t length);

}  // namespace Common
