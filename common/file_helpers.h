#ifndef TARNWICK_COMMON_FILE_HELPERS_H
#define TARNWICK_COMMON_FILE_HELPERS_H

// File, frame and time helpers of the device side. Messages go through the
// console funnel with the caller's handle (0 when there is none). Sizes are
// 32-bit: a file of 4 GiB or more is refused with a message, never truncated.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace Common {

// Escaped board frame markers: backslash-s starts a frame, backslash-e ends it.
inline constexpr uint8_t HEAD_FLAG[2] = {0x5C, 0x73};
inline constexpr uint8_t TAIL_FLAG[2] = {0x5C, 0x65};
inline constexpr uint8_t ESCAPE_BYTE = 0x5C;

// Slack allocated after the content by the whole-file and slice readers, so that
// callers may pad or append in place.
inline constexpr uint32_t FILE_DATA_SLACK = 4096;
// Files above this are read as their first FILE_DATA_SLACK bytes by GetFileContent.
inline constexpr uint32_t MAX_MALLOC_SIZE = 0x32000000;

inline constexpr uint32_t SHAKE_HAND_FRAME_LENGTH = 9;
inline constexpr uint8_t XHDSHK = 0xBE;

enum FLASH_TYPE_E : int {
    FLASH_TYPE_UNKNOWN = 0,
    FLASH_TYPE_NAND = 1,
    FLASH_TYPE_SPI = 2,
    FLASH_TYPE_EMMC = 3,
    FLASH_TYPE_UFS = 4,
};

enum FILE_SYSTEM_E : int {
    FILE_SYSTEM_UNKNOWN = 0,
    FILE_SYSTEM_NONE = 1,
    FILE_SYSTEM_YAFFS = 2,
    FILE_SYSTEM_EXT = 3,
    FILE_SYSTEM_TAT32 = 4,
    FILE_SYSTEM_SQUASHFS = 5,
    FILE_SYSTEM_UBIFS = 6,
    FILE_SYSTEM_F2FS = 7,
    FILE_SYSTEM_EROFS = 8,
};

// --- files -----------------------------------------------------------------

// Size of the file, 0 on any failure.
uint32_t GetFileLen(const std::string& path);
// Size of the file, 0 when it cannot be opened.
uint32_t GetBigFileLen(const std::string& path);

// Whole file; the buffer holds size + FILE_DATA_SLACK bytes (the slack is not
// initialised). Null on failure (an empty file fails with "ftell failed\n").
std::unique_ptr<uint8_t[]> GetFileData(const std::string& path, uint32_t& size, long long handle = 0);

// size bytes from offset; the buffer holds size + FILE_DATA_SLACK zero-filled
// bytes. Null on failure, including a slice that runs past the end of the file.
std::unique_ptr<uint8_t[]> GetPartFileData(const std::string& path, long long handle, uint32_t offset,
                                           uint32_t size);

// Whole file into size + FILE_DATA_SLACK zero bytes; a file above MAX_MALLOC_SIZE
// is read as its first FILE_DATA_SLACK bytes. On failure buffer is null.
bool GetFileContent(const std::string& path, std::unique_ptr<uint8_t[]>& buffer, uint32_t& size,
                    long long handle = 0);

// Closes a non-null file and nulls the caller's handle.
void CloseFile(FILE*& file);

// Opens path (lexically normalised: "." and ".." steps removed) with mode;
// file is null on failure.
void OpenFile(FILE*& file, const std::string& path, const char* mode);

// Writes size bytes of the open input stream to a new file at path.
bool CopyFileBuffer(const std::string& path, FILE* stream, uint32_t size);

// --- paths and texts -------------------------------------------------------

// Part after the last "\\", else after the last "/", else the whole path.
std::string GetFileName(const std::string& path);
bool IgnoreCaseCompare(const std::string& a, const std::string& b);
std::string Back2ForwardSlash(const std::string& path);
bool CheckPathisNetworkPath(const char* path);
// True when any byte is non-ASCII.
bool CheckPathIsChinese(const char* path);
// True (with a message) for a network path.
bool CheckPathisInValid(const char* path);

// Pieces ending at each separator of text + separator; no separator in text
// gives no pieces at all (callers then use the whole text).
std::vector<std::string> Split(const std::string& text, char separator);

FLASH_TYPE_E StringToFlashTypeEnum(const std::string& text);
FILE_SYSTEM_E StringToFileSystemEnum(const std::string& text);
std::string FlashTypeEnumToString(int flashType);

// printf into a 4096-byte buffer; empty text on failure or when it does not fit.
std::string FormatInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));

// --- frames ----------------------------------------------------------------

// HEAD_FLAG, the data with every 0x5C doubled, TAIL_FLAG.
std::vector<uint8_t> GetDouble5CFrameData(const uint8_t* data, uint32_t length);

// value little-endian at array[position], position += 4, when 4 bytes fit;
// otherwise a message and nothing changes.
void ConvertingUintToArrays(uint8_t* array, uint32_t arraySize, uint32_t value, uint32_t& position);

// Reverses the bytes of each of the byteLength / 4 words in place.
void InvertUintU32(uint32_t* words, uint32_t byteLength);

// Baud-rate handshake frame: BE 00 FF, baud big-endian, SopCrc16 high byte
// first. Writes only when length == SHAKE_HAND_FRAME_LENGTH.
bool InitShakeHandCmd(uint8_t* buffer, uint32_t length, uint32_t baudRate);

// --- time ------------------------------------------------------------------

// Busy-waits (no sleep) until more than us microseconds have passed.
void DelayUs(double us);

// Monotonic milliseconds. Wraps at 2^32: take elapsed time as the unsigned
// difference now - start.
uint32_t GetTime();

} // namespace Common

#endif
